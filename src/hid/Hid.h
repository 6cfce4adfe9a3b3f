#pragma once

#include "winapi/winapi.h"

namespace hid {

// The HID.dll entry points this tool calls, bound by name at run time, all or nothing.
struct THidApi {
    decltype(&::HidD_GetHidGuid) HidD_GetHidGuid = nullptr;
    decltype(&::HidD_GetAttributes) HidD_GetAttributes = nullptr;
    decltype(&::HidD_GetPreparsedData) HidD_GetPreparsedData = nullptr;
    decltype(&::HidD_FreePreparsedData) HidD_FreePreparsedData = nullptr;
    decltype(&::HidP_GetCaps) HidP_GetCaps = nullptr;
    decltype(&::HidD_GetProductString) HidD_GetProductString = nullptr;
    decltype(&::HidD_GetNumInputBuffers) HidD_GetNumInputBuffers = nullptr;
};

// Process-wide and counted: each controller binds on creation and unbinds when it goes; the
// library is let go with the last one. Main thread only.
extern THidApi HidApi;

bool BindHid();
void UnbindHid();
bool HidBound();

} // namespace hid
