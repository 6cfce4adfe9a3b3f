#pragma once

// The one header through which the HID layer reaches the Windows API. On Windows it is the
// system's own; elsewhere it is our substitute, which gives the same calls the behaviour
// this tool relies on. HID.dll and SetupApi.dll entry points are declared for their types
// only: they are never linked, always resolved by name with GetProcAddress.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
// A resolved entry point goes through this type on its way to its real type, which keeps
// -Wcast-function-type quiet.
using TAnyEntry = void (*)();
#else
#include "posix/Win32.h"
#endif
