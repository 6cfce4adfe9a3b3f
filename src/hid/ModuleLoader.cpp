#include "ModuleLoader.h"

namespace hid {

bool OpenLibrary(HMODULE& handle, const char* fileName)
{
    if (!handle)
        handle = LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return handle != nullptr;
}

TAnyEntry FindEntry(HMODULE handle, const char* name)
{
    return handle ? reinterpret_cast<TAnyEntry>(GetProcAddress(handle, name)) : nullptr;
}

TAnyEntry FindRequiredEntry(HMODULE handle, const char* name, bool& allFound)
{
    TAnyEntry entry = FindEntry(handle, name);
    if (!entry)
        allFound = false;
    return entry;
}

void CloseLibrary(HMODULE& handle)
{
    if (handle)
        FreeLibrary(handle);
    handle = nullptr;
}

bool CancelHandleIo(HANDLE handle)
{
    HMODULE kernel = nullptr;
    if (!OpenLibrary(kernel, "kernel32.dll"))
        return false;
    bool result = false;
    if (auto cancel = reinterpret_cast<decltype(&::CancelIo)>(FindEntry(kernel, "CancelIo")))
        result = cancel(handle);
    CloseLibrary(kernel);
    return result;
}

bool CancelHandleIoEx(HANDLE handle, LPOVERLAPPED overlapped)
{
    HMODULE kernel = nullptr;
    if (!OpenLibrary(kernel, "kernel32.dll"))
        return false;
    bool result = false;
    if (auto cancel = reinterpret_cast<decltype(&::CancelIoEx)>(FindEntry(kernel, "CancelIoEx")))
        result = cancel(handle, overlapped);
    CloseLibrary(kernel);
    return result;
}

} // namespace hid
