#pragma once

#include "AnsiString.h"

#include <string>

namespace rtl {

// Code page 932 (Shift-JIS, with Microsoft's extensions) and Unicode. Bytes that do not
// convert become U+FFFD one way and "?" the other, so nothing is dropped silently.
std::u16string Utf16FromCp932(const AnsiString& text);
AnsiString Cp932FromUtf16(const std::u16string& text);
std::string Utf8FromCp932(const AnsiString& text);
AnsiString Cp932FromUtf8(const std::string& text);

} // namespace rtl
