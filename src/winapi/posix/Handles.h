#pragma once

#include "Win32.h"

#include <memory>
#include <string>

namespace winapi::posix {

// A file descriptor that is closed exactly once.
class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : FFd(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    TFd(TFd&& other) noexcept : FFd(other.Release()) {}
    TFd& operator=(TFd&& other) noexcept;
    ~TFd();

    int Get() const { return FFd; }
    bool IsOpen() const { return FFd >= 0; }
    int Release();

private:
    int FFd = -1;
};

// Everything a HANDLE can stand for. CloseHandle takes the object out of the table and
// calls Close; threads that still hold it (a pending read) keep it alive until they let go.
class THandleObject {
public:
    virtual ~THandleObject() = default;
    virtual void Close() {}
};

HANDLE RegisterHandle(std::shared_ptr<THandleObject> object);
std::shared_ptr<THandleObject> LookupHandle(HANDLE handle);
std::shared_ptr<THandleObject> TakeHandle(HANDLE handle);

template <class T> std::shared_ptr<T> LookupHandleAs(HANDLE handle)
{
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Sets the thread's last error and gives the failure result, so failures read as one line.
inline BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

DWORD ErrorFromErrno(int err);

// Diagnostics of the substitute (a unit directory it cannot use, a unit that breaks the
// framing) go to standard error, each distinct text once per process.
void DiagnoseOnce(const std::string& text);

} // namespace winapi::posix
