// CreateMutexW for the one kind of named mutex the tool makes, "Global\tolvane-" and the
// 16-digit FNV-1a hash of a device interface path: a claim on that interface, held by every
// handle that got the mutex first. Here it is an exclusive flock on the interface's lock
// file, which is machine-wide, holds between two descriptors of one process as between two
// processes, and goes when the process dies. Nobody waits on a claim, so none can be waited on.

#include "DeviceClaim.h"

#include "Handles.h"
#include "HidrawSource.h"

#include "rtl/Hash.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unordered_map>

namespace winapi::posix {

namespace {

constexpr std::u16string_view ClaimPrefix = u"Global\\tolvane-";

struct TKnownPaths {
    std::mutex Lock;
    std::unordered_map<std::uint64_t, std::string> ByHash;
};

TKnownPaths& KnownPaths()
{
    // Never destroyed: a claim may still be made while statics go at exit.
    static TKnownPaths* paths = new TKnownPaths;
    return *paths;
}

// The lock, while held; a mutex that already existed holds none.
class TClaimLock : public THandleObject {
public:
    explicit TClaimLock(TFd fd) : FFd(std::move(fd)) {}
    void Close() override { FFd = TFd(); }

private:
    TFd FFd;
};

bool HashFromName(std::u16string_view name, std::uint64_t& hash)
{
    if (name.substr(0, ClaimPrefix.size()) != ClaimPrefix || name.size() != ClaimPrefix.size() + 16)
        return false;
    hash = 0;
    for (const char16_t c : name.substr(ClaimPrefix.size())) {
        const int digit = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10 : -1;
        if (digit < 0)
            return false;
        hash = hash << 4 | static_cast<unsigned>(digit);
    }
    return true;
}

// The mutex's handle, with the last error as CreateMutexW leaves it.
HANDLE Claimed(TFd fd, DWORD error)
{
    HANDLE handle = RegisterHandle(std::make_shared<TClaimLock>(std::move(fd)));
    SetLastError(error);
    return handle;
}

} // namespace

void RememberDevicePath(const std::string& path)
{
    auto& known = KnownPaths();
    std::lock_guard lock(known.Lock);
    known.ByHash.emplace(rtl::Fnv1a64(path), path);
}

std::string ClaimLockPath(const std::string& interfacePath)
{
    if (IsHidrawPath(interfacePath))
        return interfacePath.substr(0, interfacePath.find('&'));
    const std::size_t slash = interfacePath.rfind('/');
    std::string name = interfacePath.substr(slash + 1);
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".sock") == 0)
        name.resize(name.size() - 5);
    // Hidden, so that no enumeration or directory watch takes it for a unit.
    return interfacePath.substr(0, slash + 1) + "." + name + ".lock";
}

} // namespace winapi::posix

using namespace winapi::posix;

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName)
{
    std::uint64_t hash = 0;
    if (!lpName || bInitialOwner || !HashFromName(lpName, hash)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path;
    {
        auto& known = KnownPaths();
        std::lock_guard lock(known.Lock);
        const auto found = known.ByHash.find(hash);
        if (found == known.ByHash.end()) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return nullptr;
        }
        path = found->second;
    }
    const std::string lockPath = ClaimLockPath(path);
    const bool lockFile = !IsHidrawPath(path);
    TFd fd(::open(lockPath.c_str(), lockFile ? O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC : O_RDONLY | O_CLOEXEC, 0600));
    if (!fd.IsOpen()) {
        // A node this user may not open cannot be driven by this user either: nothing to keep
        // others from, so the claim holds nothing and the device is lent as without claims.
        if (errno == EACCES || errno == EPERM)
            return Claimed(TFd(), ERROR_SUCCESS);
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    int locked;
    do
        locked = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        if (errno != EWOULDBLOCK) {
            SetLastError(ErrorFromErrno(errno));
            return nullptr;
        }
        return Claimed(TFd(), ERROR_ALREADY_EXISTS);
    }
    return Claimed(std::move(fd), ERROR_SUCCESS);
}
