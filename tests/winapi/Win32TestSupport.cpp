#include "Win32TestSupport.h"

namespace testsupport {

namespace {

struct TCompletion {
    bool Done = false;
    DWORD Error = 0;
    DWORD Bytes = 0;
};

thread_local TCompletion* tCompletion = nullptr;

void RecordCompletion(DWORD error, DWORD bytes, LPOVERLAPPED)
{
    if (tCompletion) {
        tCompletion->Done = true;
        tCompletion->Error = error;
        tCompletion->Bytes = bytes;
    }
}

} // namespace

TReadResult ReadReport(HANDLE handle, std::size_t length, std::chrono::milliseconds timeout)
{
    TReadResult result;
    result.Report.assign(length, 0);
    OVERLAPPED overlapped{};
    TCompletion completion;
    tCompletion = &completion;
    result.Started =
        ReadFileEx(handle, result.Report.data(), static_cast<DWORD>(length), &overlapped, RecordCompletion);
    if (!result.Started) {
        result.Error = GetLastError();
        tCompletion = nullptr;
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!completion.Done && std::chrono::steady_clock::now() < deadline)
        SleepEx(50, TRUE);
    if (!completion.Done)
        CancelIo(handle);
    tCompletion = nullptr;
    result.Completed = completion.Done;
    result.Error = completion.Error;
    result.Bytes = completion.Bytes;
    result.OverlappedResult = GetOverlappedResult(handle, &overlapped, &result.OverlappedBytes, FALSE);
    return result;
}

std::string ReportText(const std::vector<BYTE>& report)
{
    std::string text;
    for (std::size_t i = 1; i < report.size() && report[i] != 0; ++i)
        text.push_back(static_cast<char>(report[i]));
    return text;
}

} // namespace testsupport
