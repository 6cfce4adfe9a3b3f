#pragma once

#include <string>

namespace rtl {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(const std::u16string& text);

} // namespace rtl
