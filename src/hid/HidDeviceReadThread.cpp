#include "HidDeviceReadThread.h"

#include <algorithm>

namespace hid {

namespace {
constexpr DWORD FirstFailurePauseMs = 10;
constexpr DWORD LongestFailurePauseMs = 1000;
// No read is pending during a pause, so nothing can cut its sleep short: a stop waits out
// at most one such slice.
constexpr DWORD PauseSliceMs = 5;
} // namespace

THidDeviceReadThread::THidDeviceReadThread(THidDevice* owner) : FOwner(owner)
{
    HIDP_CAPS caps;
    FOwner->ReadCapabilities(caps);
    FReportBuffer.assign(caps.InputReportByteLength, 0);
}

void THidDeviceReadThread::ReadLoop()
{
    DWORD sleepResult = WAIT_IO_COMPLETION;
    DWORD failurePause = FirstFailurePauseMs;
    while (!Terminated()) {
        sleepResult = WAIT_IO_COMPLETION;
        std::fill(FReportBuffer.begin(), FReportBuffer.end(), 0);
        if (FOwner->BeginRead(FReportBuffer.data(), static_cast<DWORD>(FReportBuffer.size()), &IgnoreCompletion)) {
            while (!Terminated()) {
                sleepResult = SleepEx(static_cast<DWORD>(FOwner->FReaderSleepTime.load()), TRUE);
                if (sleepResult == WAIT_IO_COMPLETION)
                    break;
            }
            if (Terminated())
                continue; // a report finished in this same wake-up is dropped
            FBytesRead = FOwner->LastReadCount();
            if (FBytesRead > 0) {
                Synchronize([this] { DeliverReport(); });
                failurePause = FirstFailurePauseMs;
                continue;
            }
        } else {
            FErrorCode = GetLastError();
            Synchronize([this] { DeliverReadError(); });
        }
        // A handle that keeps failing (a unit gone, until its removal is handled) is tried
        // again at a growing pace rather than at once, in slices that keep a stop prompt.
        for (DWORD waited = 0; waited < failurePause && !Terminated();) {
            const auto slice = std::min<DWORD>(failurePause - waited, PauseSliceMs);
            SleepEx(slice, TRUE);
            waited += slice;
        }
        failurePause = std::min<DWORD>(failurePause * 2, LongestFailurePauseMs);
    }
    // The stop came while a read was still outstanding.
    if (sleepResult != WAIT_IO_COMPLETION)
        FOwner->CancelPending(odRead);
}

void THidDeviceReadThread::DeliverReport()
{
    if (FOwner->FOnReportData)
        FOwner->FOnReportData(FOwner, FReportBuffer[0], FReportBuffer.data() + 1,
                              static_cast<std::uint16_t>(FBytesRead - 1));
}

void THidDeviceReadThread::DeliverReadError()
{
    if (FOwner->FOnReadError)
        FOwner->FOnReadError(FOwner, FErrorCode);
}

void THidDeviceReadThread::IgnoreCompletion(DWORD, DWORD, LPOVERLAPPED) {}

} // namespace hid
