#pragma once

#include "rtl/TextEscape.h"

namespace console {

using rtl::EscapeControls;
using rtl::EscapePath;
using rtl::JsonString;

} // namespace console
