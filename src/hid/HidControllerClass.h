#pragma once

// The HID device layer as one unit: controller, device, reader thread, plug-and-play record.
#include "HidDevice.h"
#include "HidDeviceController.h"
#include "HidDeviceReadThread.h"
#include "HidPnPInfo.h"
