#pragma once

// Makes GetProcAddress fail for one entry point of a built-in module, so that an all-or-nothing
// binding can be made to fail. A test program that links this has its GetProcAddress wrapped
// at link time; the product itself carries no such hook.

namespace testsupport {

void HideEntryPoint(const char* moduleName, const char* entryName);
void ShowAllEntryPoints();

} // namespace testsupport
