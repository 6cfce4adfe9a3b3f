#pragma once

#include "winapi/winapi.h"

#include <string>

namespace hid {

// A claim on one device interface, machine-wide, held while the object lives: no other
// controller, in this process or another, is lent the interface meanwhile. The system drops
// the claim when the process ends, however it ends.
class THidDeviceClaim {
public:
    explicit THidDeviceClaim(const std::string& interfacePath);
    ~THidDeviceClaim();
    THidDeviceClaim(const THidDeviceClaim&) = delete;
    THidDeviceClaim& operator=(const THidDeviceClaim&) = delete;

    // Another controller holds the interface: this object holds nothing.
    bool HeldElsewhere() const { return FHeldElsewhere; }

    // Whether another controller holds the interface now; claims nothing.
    static bool IsHeldElsewhere(const std::string& interfacePath)
    {
        return THidDeviceClaim(interfacePath).HeldElsewhere();
    }

private:
    HANDLE FMutex = nullptr;
    bool FHeldElsewhere = false;
};

} // namespace hid
