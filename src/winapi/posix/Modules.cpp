// LoadLibrary and GetProcAddress over the built-in modules. Only bare module names are
// known: a path never loads anything, just as the tool must never load a planted library.

#include "BuiltinModules.h"
#include "Handles.h"

#include <cstring>
#include <mutex>
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

TBuiltinModule* FindModuleByName(LPCSTR name)
{
    if (!name || std::strpbrk(name, "/\\:"))
        return nullptr;
    for (auto& module : gModules)
        if (strcasecmp(name, module.Name) == 0)
            return &module;
    return nullptr;
}

TBuiltinModule* FindModuleByHandle(HMODULE handle)
{
    for (auto& module : gModules)
        if (reinterpret_cast<HMODULE>(&module) == handle)
            return &module;
    return nullptr;
}

} // namespace

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
    // Only the program's own module is asked for; it has no built-in counterpart, and any
    // non-null value serves.
    if (lpModuleName) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(&gModules);
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
    if (reinterpret_cast<std::uintptr_t>(lpProcName) < 0x10000) {
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
