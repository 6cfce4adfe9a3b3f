#include "HidDeviceClaim.h"

#include "rtl/Hash.h"

#include <cstdio>

namespace hid {

namespace {

// "Global\tolvane-" and the interface path's hash in 16 hexadecimal digits: every session of
// the machine, every user, sees the same object, and a path never holds a name's backslash.
std::basic_string<WCHAR> ClaimName(const std::string& interfacePath)
{
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(rtl::Fnv1a64(interfacePath)));
    std::basic_string<WCHAR> name;
    for (const char c : std::string("Global\\tolvane-") + hash)
        name += static_cast<WCHAR>(c);
    return name;
}

} // namespace

THidDeviceClaim::THidDeviceClaim(const std::string& interfacePath)
{
    SetLastError(ERROR_SUCCESS);
    // Nobody ever waits on the mutex: that it exists is the claim.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, ClaimName(interfacePath).c_str());
    const DWORD error = GetLastError();
    if (!mutex) {
        // Denied: another user's process made it. Any other failure leaves nothing to claim
        // with, and the device is lent as it would be without claims.
        FHeldElsewhere = error == ERROR_ACCESS_DENIED;
        return;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        FHeldElsewhere = true;
        return;
    }
    FMutex = mutex;
}

THidDeviceClaim::~THidDeviceClaim()
{
    if (FMutex)
        CloseHandle(FMutex);
}

} // namespace hid
