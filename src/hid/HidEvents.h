#pragma once

#include "rtl/Events.h"

#include <cstdint>

namespace hid {

class THidDevice;

using THidPlugEvent = rtl::TBoundHandler<void(THidDevice* HidDev)>;
// Data is the address of the bytes after the report ID, valid only during the call.
using THidDataEvent =
    rtl::TBoundHandler<void(THidDevice* HidDev, std::uint8_t ReportID, const void* Data, std::uint16_t Size)>;
using THidDataErrorEvent = rtl::TBoundHandler<void(THidDevice* HidDev, std::uint32_t Error)>;
using THidEnumerateEvent = rtl::TBoundHandler<bool(THidDevice* HidDev, const std::int32_t Idx)>;

} // namespace hid
