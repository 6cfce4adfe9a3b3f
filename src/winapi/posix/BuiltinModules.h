#pragma once

#include "Win32.h"

#include <vector>

namespace winapi::posix {

struct TExport {
    const char* Name;
    TAnyEntry Entry;
};

template <class T> TExport Export(const char* name, T entry)
{
    return {name, reinterpret_cast<TAnyEntry>(entry)};
}

// The entry points of the built-in HID.dll, SetupApi.dll and kernel32.dll.
const std::vector<TExport>& HidDllExports();
const std::vector<TExport>& SetupApiDllExports();
const std::vector<TExport>& Kernel32DllExports();

} // namespace winapi::posix
