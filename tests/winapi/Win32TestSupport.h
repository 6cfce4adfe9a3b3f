#pragma once

// Small helpers for tests that talk to units through the Win32-named calls only, the way
// the HID layer does.

#include "winapi/winapi.h"

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// An entry point of a built-in library, resolved by name.
template <class T> T Resolve(const char* module, const char* name)
{
    HMODULE library = LoadLibraryExA(module, nullptr, 0);
    if (!library)
        throw std::runtime_error(std::string("no module ") + module);
    auto entry = reinterpret_cast<T>(reinterpret_cast<TAnyEntry>(GetProcAddress(library, name)));
    FreeLibrary(library);
    if (!entry)
        throw std::runtime_error(std::string("no entry point ") + name);
    return entry;
}

#define TEST_ENTRY(module, name) testsupport::Resolve<decltype(&::name)>(module, #name)

inline HANDLE OpenUnit(const std::string& path, DWORD access, DWORD flags = 0)
{
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

// Frames a command as the tool does: report ID 0, the text, zero fill to the report length.
inline std::vector<BYTE> OutputReport(const std::string& text, std::size_t length = 65)
{
    std::vector<BYTE> report(length, 0);
    for (std::size_t i = 0; i < text.size() && i + 1 < length; ++i)
        report[i + 1] = static_cast<BYTE>(text[i]);
    return report;
}

struct TReadResult {
    bool Started = false;
    bool Completed = false;
    DWORD Error = ERROR_SUCCESS;
    DWORD Bytes = 0;
    bool OverlappedResult = false; // what GetOverlappedResult said after the completion
    DWORD OverlappedBytes = 0;
    std::vector<BYTE> Report;
};

// Starts one overlapped read and waits for it in alertable sleeps of 50 ms, as a reader
// thread does, until it completes or the time is up.
TReadResult ReadReport(HANDLE handle, std::size_t length = 1025,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5));

// The report's data after the report ID, up to the first zero byte.
std::string ReportText(const std::vector<BYTE>& report);

} // namespace testsupport
