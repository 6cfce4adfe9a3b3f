#pragma once

#include "winapi/winapi.h"

namespace hid {

// The SetupApi.dll entry points this tool calls, bound by name at run time, all or nothing.
struct TSetupApi {
    decltype(&::SetupDiGetClassDevsA) SetupDiGetClassDevsA = nullptr;
    decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces = nullptr;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) SetupDiGetDeviceInterfaceDetailA = nullptr;
    decltype(&::SetupDiGetDeviceRegistryPropertyA) SetupDiGetDeviceRegistryPropertyA = nullptr;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList = nullptr;
};

extern TSetupApi SetupApi;

bool BindSetupApi();
void UnbindSetupApi();
bool SetupApiBound();

} // namespace hid
