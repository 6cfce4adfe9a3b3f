#pragma once

// For tests only: make GetProcAddress fail for one entry point of a built-in module, so that
// an all-or-nothing binding can be made to fail.

namespace winapi::posix {

void HideEntryPoint(const char* moduleName, const char* entryName);
void ShowAllEntryPoints();

} // namespace winapi::posix
