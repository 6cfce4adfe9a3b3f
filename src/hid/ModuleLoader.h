#pragma once

#include "winapi/winapi.h"

namespace hid {

// Loads the library only while the handle is 0; true when the handle is then set. Only the
// system directory is searched, so a planted library beside the program is never loaded.
bool OpenLibrary(HMODULE& handle, const char* fileName);
TAnyEntry FindEntry(HMODULE handle, const char* name);
// Like FindEntry, and clears allFound (never sets it) when the entry is missing.
TAnyEntry FindRequiredEntry(HMODULE handle, const char* name, bool& allFound);
void CloseLibrary(HMODULE& handle);

// CancelIo from kernel32.dll, looked up for each call: cancels the calling thread's pending
// transfers on the handle. False when the routine is not available.
bool CancelHandleIo(HANDLE handle);
// CancelIoEx, looked up the same way: cancels a read that another thread started on the
// handle, which wakes that thread's alertable wait.
bool CancelHandleIoEx(HANDLE handle, LPOVERLAPPED overlapped);

// Resolves an entry point into its typed slot.
template <class T> void FindRequiredEntryInto(HMODULE handle, const char* name, T& slot, bool& allFound)
{
    slot = reinterpret_cast<T>(FindRequiredEntry(handle, name, allFound));
}

} // namespace hid
