// File calls on device handles: opening, writes, overlapped reads that complete in the
// reading thread's alertable waits, and the events an overlapped write signals.

#include "BuiltinModules.h"
#include "DeviceFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <thread>
#include <vector>

using namespace winapi::posix;

namespace {

// OVERLAPPED.Internal holds a status as on Windows: 0, pending, or our own error form.
constexpr ULONG_PTR StatusPending = 0x103;
constexpr ULONG_PTR StatusErrorFlag = 0xE0000000;

ULONG_PTR StatusFromError(DWORD error)
{
    return error == ERROR_SUCCESS ? 0 : StatusErrorFlag | error;
}

// A read started by ReadFileEx; it belongs to the thread that started it.
struct TPendingRead {
    std::shared_ptr<TDeviceFile> File;
    HANDLE Handle;
    BYTE* Buffer;
    LPOVERLAPPED Overlapped;
    LPOVERLAPPED_COMPLETION_ROUTINE Completion;
};

thread_local std::vector<TPendingRead> tPendingReads;

// A synchronous write gives up on a device that takes no report, rather than wait forever.
constexpr DWORD SyncWriteWaitMs = 1000;

class TEvent final : public THandleObject {
public:
    TEvent(bool manualReset, bool signaled) : FManualReset(manualReset), FSignaled(signaled) {}

    void Set()
    {
        std::lock_guard lock(FLock);
        FSignaled = true;
        FChanged.notify_all();
    }
    void Reset()
    {
        std::lock_guard lock(FLock);
        FSignaled = false;
    }
    bool Wait(DWORD milliseconds)
    {
        std::unique_lock lock(FLock);
        const auto signaled = [this] { return FSignaled; };
        if (milliseconds == INFINITE)
            FChanged.wait(lock, signaled);
        else if (!FChanged.wait_for(lock, std::chrono::milliseconds(milliseconds), signaled))
            return false;
        if (!FManualReset)
            FSignaled = false;
        return true;
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    const bool FManualReset;
    bool FSignaled;
};

// An overlapped write the device could not take at once. It belongs to the thread that
// started it and goes on only while that thread waits on its event, as reads go on only in
// their thread's alertable waits.
struct TPendingWrite {
    std::shared_ptr<TDeviceFile> File;
    HANDLE Handle;
    std::vector<BYTE> Data;
    LPOVERLAPPED Overlapped;
};

thread_local std::vector<TPendingWrite> tPendingWrites;

void FinishWrite(LPOVERLAPPED overlapped, DWORD error, DWORD bytes)
{
    overlapped->Internal = StatusFromError(error);
    overlapped->InternalHigh = error == ERROR_SUCCESS ? bytes : 0;
    if (const auto event = LookupHandleAs<TEvent>(overlapped->hEvent))
        event->Set();
}

void CompleteRead(std::size_t index, DWORD error, DWORD bytes)
{
    const TPendingRead read = tPendingReads[index];
    tPendingReads.erase(tPendingReads.begin() + static_cast<std::ptrdiff_t>(index));
    --read.File->PendingReads;
    read.Overlapped->Internal = StatusFromError(error);
    read.Overlapped->InternalHigh = bytes;
    if (read.Completion)
        read.Completion(error, bytes, read.Overlapped);
}

void SleepPlain(DWORD milliseconds)
{
    if (milliseconds == INFINITE)
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE)
{
    if (!lpFileName || dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_SUCCESS;
    auto file = OpenDevice(lpFileName, dwDesiredAccess, dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED, error);
    if (!file) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(std::move(file));
}

BOOL CloseHandle(HANDLE hObject)
{
    return TakeHandle(hObject) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped)
{
    const auto file = LookupHandleAs<TDeviceFile>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    if (!file->CanWrite())
        return Fail(ERROR_ACCESS_DENIED);
    // An overlapped handle writes with an OVERLAPPED only, a synchronous one without.
    if (!lpBuffer || file->IsOverlapped() != (lpOverlapped != nullptr))
        return Fail(ERROR_INVALID_PARAMETER);
    if (file->Identity().OutputLength == 0)
        return Fail(ERROR_INVALID_FUNCTION);
    // The HID class driver takes exactly one whole output report.
    if (nNumberOfBytesToWrite != file->Identity().OutputLength)
        return Fail(ERROR_INVALID_PARAMETER);
    const auto* data = static_cast<const BYTE*>(lpBuffer);
    if (lpOverlapped) {
        if (const auto event = LookupHandleAs<TEvent>(lpOverlapped->hEvent))
            event->Reset();
        const DWORD error = file->WriteReport(data, nNumberOfBytesToWrite, 0);
        if (error == ERROR_SEM_TIMEOUT) {
            lpOverlapped->Internal = StatusPending;
            lpOverlapped->InternalHigh = 0;
            tPendingWrites.push_back(
                {file, hFile, std::vector<BYTE>(data, data + nNumberOfBytesToWrite), lpOverlapped});
            return Fail(ERROR_IO_PENDING);
        }
        FinishWrite(lpOverlapped, error, nNumberOfBytesToWrite);
        if (error)
            return Fail(error);
    } else if (const DWORD error = file->WriteReport(data, nNumberOfBytesToWrite, SyncWriteWaitMs)) {
        return Fail(error);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL ReadFileEx(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPOVERLAPPED lpOverlapped,
                LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine)
{
    auto file = LookupHandleAs<TDeviceFile>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!file->CanRead())
        return Fail(ERROR_ACCESS_DENIED);
    if (!lpBuffer || !lpOverlapped || !file->IsOverlapped())
        return Fail(ERROR_INVALID_PARAMETER);
    if (file->Identity().InputLength == 0)
        return Fail(ERROR_INVALID_FUNCTION);
    // Like the HID class driver: the buffer must hold a whole input report.
    if (nNumberOfBytesToRead < file->Identity().InputLength)
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (file->IsGone())
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    lpOverlapped->Internal = StatusPending;
    lpOverlapped->InternalHigh = 0;
    ++file->PendingReads;
    tPendingReads.push_back({std::move(file), hFile, static_cast<BYTE*>(lpBuffer), lpOverlapped, lpCompletionRoutine});
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable)
{
    if (!bAlertable || tPendingReads.empty()) {
        SleepPlain(dwMilliseconds);
        return 0;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(dwMilliseconds);
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        for (const auto& read : tPendingReads) {
            fds.push_back({read.File->PollFd(), POLLIN, 0});
            fds.push_back({read.File->WakeFd(), POLLIN, 0});
        }
        int timeout = -1;
        if (dwMilliseconds != INFINITE) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = static_cast<int>(std::max<decltype(left)>(left, 0));
        }
        const int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR)
            return 0;
        for (std::size_t i = 0; ready > 0 && i < tPendingReads.size(); ++i) {
            auto& read = tPendingReads[i];
            // Closing a handle, or CancelIoEx from another thread, aborts the reads pending on it.
            if (fds[2 * i + 1].revents || read.File->IsClosed()) {
                read.File->TakeCancel();
                CompleteRead(i, ERROR_OPERATION_ABORTED, 0);
                return WAIT_IO_COMPLETION;
            }
            if (!fds[2 * i].revents)
                continue;
            const TReadOutcome outcome = read.File->ReadReport(read.Buffer);
            if (outcome.WouldBlock)
                continue;
            CompleteRead(i, outcome.Error, outcome.Bytes);
            return WAIT_IO_COMPLETION;
        }
        if (ready == 0 && timeout >= 0)
            return 0;
    }
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL)
{
    if (!LookupHandle(hFile))
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpOverlapped || !lpNumberOfBytesTransferred)
        return Fail(ERROR_INVALID_PARAMETER);
    // Reads complete only in their own thread's alertable wait, so waiting here could never
    // end: a pending read is reported as incomplete whatever bWait says.
    if (lpOverlapped->Internal == StatusPending)
        return Fail(ERROR_IO_INCOMPLETE);
    *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
    if (lpOverlapped->Internal & StatusErrorFlag)
        return Fail(static_cast<DWORD>(lpOverlapped->Internal & ~StatusErrorFlag));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CancelIo(HANDLE hFile)
{
    if (!LookupHandle(hFile))
        return Fail(ERROR_INVALID_HANDLE);
    std::erase_if(tPendingReads, [hFile](const TPendingRead& read) {
        if (read.Handle != hFile)
            return false;
        --read.File->PendingReads;
        read.Overlapped->Internal = StatusFromError(ERROR_OPERATION_ABORTED);
        read.Overlapped->InternalHigh = 0;
        return true;
    });
    std::erase_if(tPendingWrites, [hFile](const TPendingWrite& write) {
        if (write.Handle != hFile)
            return false;
        FinishWrite(write.Overlapped, ERROR_OPERATION_ABORTED, 0);
        return true;
    });
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CancelIoEx(HANDLE hFile, LPOVERLAPPED)
{
    const auto file = LookupHandleAs<TDeviceFile>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!file->CancelPendingReads())
        return Fail(ERROR_NOT_FOUND);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName)
{
    // Named events are not provided.
    if (lpName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(std::make_shared<TEvent>(bManualReset, bInitialState));
}

BOOL SetEvent(HANDLE hEvent)
{
    const auto event = LookupHandleAs<TEvent>(hEvent);
    if (!event)
        return Fail(ERROR_INVALID_HANDLE);
    event->Set();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    const auto event = LookupHandleAs<TEvent>(hHandle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    const auto pending =
        std::find_if(tPendingWrites.begin(), tPendingWrites.end(),
                     [hHandle](const TPendingWrite& write) { return write.Overlapped->hEvent == hHandle; });
    if (pending != tPendingWrites.end()) {
        const TPendingWrite& write = *pending;
        const DWORD error =
            write.File->WriteReport(write.Data.data(), static_cast<DWORD>(write.Data.size()), dwMilliseconds);
        if (error == ERROR_SEM_TIMEOUT)
            return WAIT_TIMEOUT;
        FinishWrite(write.Overlapped, error, static_cast<DWORD>(write.Data.size()));
        tPendingWrites.erase(pending);
    }
    return event->Wait(dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

const std::vector<TExport>& winapi::posix::Kernel32DllExports()
{
    // The rest of kernel32 is linked directly, as on Windows; only the cancels are looked up.
    static const std::vector<TExport> exports = {
        Export("CancelIo", &::CancelIo),
        Export("CancelIoEx", &::CancelIoEx),
    };
    return exports;
}
