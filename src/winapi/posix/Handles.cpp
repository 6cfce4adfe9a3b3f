#include "Handles.h"

#include "rtl/ProgramName.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>
#include <unordered_map>
#include <unistd.h>

namespace winapi::posix {

TFd& TFd::operator=(TFd&& other) noexcept
{
    if (this != &other) {
        if (FFd >= 0)
            ::close(FFd);
        FFd = other.Release();
    }
    return *this;
}

TFd::~TFd()
{
    if (FFd >= 0)
        ::close(FFd);
}

int TFd::Release()
{
    const int fd = FFd;
    FFd = -1;
    return fd;
}

namespace {

struct THandleTable {
    std::mutex Lock;
    std::unordered_map<std::uintptr_t, std::shared_ptr<THandleObject>> Objects;
    // Values are never reused, so a stale HANDLE held by another thread cannot reach a
    // newer object.
    std::uintptr_t Next = 0x100;
};

THandleTable& Table()
{
    // Never destroyed: a reader thread may still close its handle while statics go at exit.
    static THandleTable* table = new THandleTable;
    return *table;
}

} // namespace

HANDLE RegisterHandle(std::shared_ptr<THandleObject> object)
{
    auto& table = Table();
    std::lock_guard lock(table.Lock);
    const std::uintptr_t value = table.Next;
    table.Next += 4;
    table.Objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<THandleObject> LookupHandle(HANDLE handle)
{
    auto& table = Table();
    std::lock_guard lock(table.Lock);
    const auto found = table.Objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == table.Objects.end() ? nullptr : found->second;
}

std::shared_ptr<THandleObject> TakeHandle(HANDLE handle)
{
    std::shared_ptr<THandleObject> object;
    {
        auto& table = Table();
        std::lock_guard lock(table.Lock);
        const auto found = table.Objects.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == table.Objects.end())
            return nullptr;
        object = std::move(found->second);
        table.Objects.erase(found);
    }
    object->Close();
    return object;
}

DWORD ErrorFromErrno(int err)
{
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT:
    case ECONNREFUSED: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM:
    case ENOBUFS: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EAGAIN:
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    case ECANCELED: return ERROR_OPERATION_ABORTED;
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
    case ENODEV:
    case ENXIO:
    case ESHUTDOWN: return ERROR_DEVICE_NOT_CONNECTED;
    default: return ERROR_GEN_FAILURE;
    }
}

void DiagnoseOnce(const std::string& text)
{
    static std::mutex lock;
    static std::set<std::string> said;
    std::lock_guard guard(lock);
    if (said.insert(text).second)
        std::fprintf(stderr, "%s: %s\n", rtl::ProgramName(), text.c_str());
}

} // namespace winapi::posix
