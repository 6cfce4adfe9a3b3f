#pragma once

#include <string>

namespace rtl {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(const std::u16string& text);
// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
std::u16string Utf16FromUtf8(const std::string& text);

} // namespace rtl
