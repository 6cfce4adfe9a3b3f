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

    std::uint32_t FErrorCode = 0;
    THidDevice* FOwner;
    std::uint32_t FBytesRead = 0;
    std::vector<std::uint8_t> FReportBuffer;

protected:
    void Execute() override { ReadLoop(); }

private:
    void ReadLoop();
    void DeliverReport();
    void DeliverReadError();
    // Does nothing: it only lets the alertable sleep end with the I/O-completion result.
    static void IgnoreCompletion(DWORD errorCode, DWORD bytesTransferred, LPOVERLAPPED overlapped);
};

} // namespace hid
