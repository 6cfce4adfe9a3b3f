#pragma once

#include "AnsiString.h"

#include <string>

namespace rtl {

// Code page 932 (Shift-JIS, with Microsoft's extensions) and Unicode. Nothing is dropped:
// a byte that does not convert becomes U+FFFD (on Windows, the system's own mapping), a
// character without a code page 932 form becomes "?".
std::u16string Utf16FromCp932(const AnsiString& text);
AnsiString Cp932FromUtf16(const std::u16string& text);
std::string Utf8FromCp932(const AnsiString& text);
AnsiString Cp932FromUtf8(const std::string& text);

} // namespace rtl
