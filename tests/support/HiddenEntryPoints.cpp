#include "HiddenEntryPoints.h"

#include "winapi/winapi.h"

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>

// The linker (--wrap) sends every call of GetProcAddress to the first and names the
// substitute's own one by the second.
FARPROC WrappedGetProcAddress(HMODULE hModule, LPCSTR lpProcName) __asm__("__wrap__Z14GetProcAddressP11HINSTANCE__PKc");
FARPROC RealGetProcAddress(HMODULE hModule, LPCSTR lpProcName) __asm__("__real__Z14GetProcAddressP11HINSTANCE__PKc");

namespace {

std::mutex gLock;
std::set<std::pair<std::string, std::string>> gHidden;

bool IsHidden(HMODULE module, LPCSTR name)
{
    // Small values are ordinals, which no built-in module exports.
    if (reinterpret_cast<std::uintptr_t>(name) < 0x10000)
        return false;
    std::lock_guard lock(gLock);
    for (const auto& [moduleName, entryName] : gHidden) {
        if (entryName != name)
            continue;
        // The loader says which module the name means, whatever its case.
        HMODULE hidden = LoadLibraryExA(moduleName.c_str(), nullptr, 0);
        FreeLibrary(hidden);
        if (hidden && hidden == module)
            return true;
    }
    return false;
}

} // namespace

FARPROC WrappedGetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (IsHidden(hModule, lpProcName)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return RealGetProcAddress(hModule, lpProcName);
}

namespace testsupport {

void HideEntryPoint(const char* moduleName, const char* entryName)
{
    std::lock_guard lock(gLock);
    gHidden.emplace(moduleName, entryName);
}

void ShowAllEntryPoints()
{
    std::lock_guard lock(gLock);
    gHidden.clear();
}

} // namespace testsupport
