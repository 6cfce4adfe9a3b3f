#pragma once

#include "HidDevice.h"

#include "rtl/Thread.h"

#include <cstdint>
#include <vector>

namespace hid {

// Keeps one overlapped read of one input report outstanding on its device and hands every
// report, and every read that cannot start, to the main thread, waiting there until the
// device's handler has run.
class THidDeviceReadThread : public rtl::TThread {
public:
    // Created suspended; the device resumes it.
    explicit THidDeviceReadThread(THidDevice* owner);

protected:
    void Execute() override { ReadLoop(); }

private:
    void ReadLoop();
    void DeliverReport();
    void DeliverReadError();
    // Does nothing: it only lets the alertable sleep end with the I/O-completion result.
    static void IgnoreCompletion(DWORD errorCode, DWORD bytesTransferred, LPOVERLAPPED overlapped);

    // Written by this thread; the main thread reads them only during a hand-over, while this
    // thread waits for it.
    std::uint32_t FErrorCode = 0;
    THidDevice* FOwner;
    std::uint32_t FBytesRead = 0;
    // One input report long, as the device's capabilities give it when the reader is made.
    std::vector<std::uint8_t> FReportBuffer;
};

} // namespace hid
