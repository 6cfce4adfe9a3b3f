// LoadLibrary and GetProcAddress over the built-in modules. Only bare module names are
// known: a path never loads anything, just as the tool must never load a planted library.

#include "BuiltinModules.h"
#include "Handles.h"
#include "TestHooks.h"

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <strings.h>

using namespace winapi::posix;

namespace {

struct TBuiltinModule {
    const char* Name;
    const std::vector<TExport>& (*Exports)();
    int RefCount = 0;
};

std::mutex gLock;
TBuiltinModule gModules[] = {
    {"HID.dll", &HidDllExports},
    {"SetupApi.dll", &SetupApiDllExports},
    {"kernel32.dll", &Kernel32DllExports},
};
std::set<std::pair<std::string, std::string>> gHidden;

TBuiltinModule* FindModuleByName(LPCSTR name)
{
    if (!name || std::strpbrk(name, "/\\:"))
        return nullptr;
    for (auto& module : gModules) {
        const std::size_t stem = std::strlen(module.Name) - 4; // without ".dll"
        if (strcasecmp(name, module.Name) == 0
            || (std::strlen(name) == stem && strncasecmp(name, module.Name, stem) == 0))
            return &module;
    }
    return nullptr;
}

TBuiltinModule* FindModuleByHandle(HMODULE handle)
{
    for (auto& module : gModules)
        if (reinterpret_cast<HMODULE>(&module) == handle)
            return &module;
    return nullptr;
}

std::string Lower(const char* text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

} // namespace

namespace winapi::posix {

void HideEntryPoint(const char* moduleName, const char* entryName)
{
    std::lock_guard lock(gLock);
    gHidden.emplace(Lower(moduleName), entryName);
}

void ShowAllEntryPoints()
{
    std::lock_guard lock(gLock);
    gHidden.clear();
}

} // namespace winapi::posix

HMODULE LoadLibraryA(LPCSTR lpLibFileName)
{
    return LoadLibraryExA(lpLibFileName, nullptr, 0);
}

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE, DWORD)
{
    std::lock_guard lock(gLock);
    TBuiltinModule* module = FindModuleByName(lpLibFileName);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++module->RefCount;
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HMODULE>(module);
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName)
{
    std::lock_guard lock(gLock);
    // The program itself has no module of its own here; any non-null value serves.
    if (!lpModuleName)
        return reinterpret_cast<HMODULE>(&gModules);
    TBuiltinModule* module = FindModuleByName(lpModuleName);
    if (!module || module->RefCount == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(module);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    std::lock_guard lock(gLock);
    TBuiltinModule* module = FindModuleByHandle(hModule);
    if (!module || module->RefCount == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Small values are ordinals; no built-in module exports by ordinal.
    if (reinterpret_cast<std::uintptr_t>(lpProcName) < 0x10000
        || gHidden.count({Lower(module->Name), lpProcName})) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    for (const auto& entry : module->Exports())
        if (std::strcmp(entry.Name, lpProcName) == 0)
            return reinterpret_cast<FARPROC>(entry.Entry);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule)
{
    std::lock_guard lock(gLock);
    TBuiltinModule* module = FindModuleByHandle(hLibModule);
    if (!module || module->RefCount == 0)
        return Fail(ERROR_INVALID_HANDLE);
    --module->RefCount;
    return TRUE;
}
