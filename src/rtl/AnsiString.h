#pragma once

#include <cstdarg>
#include <string>

namespace rtl {

// An 8-bit, length-counted text that may hold zero bytes. Every text of the tool is code
// page 932; it is converted only at the edge, where it is shown.
using AnsiString = std::string;

// Every occurrence of from replaced by to, scanning left to right without rescanning.
AnsiString StringReplaceAll(const AnsiString& text, const AnsiString& from, const AnsiString& to);
// Without leading and trailing bytes of code 0 to 32.
AnsiString Trim(const AnsiString& text);
// Without trailing bytes of code 0 to 32.
AnsiString TrimRight(const AnsiString& text);
bool Contains(const AnsiString& text, const AnsiString& part);
bool StartsWith(const AnsiString& text, const AnsiString& prefix);
// Only the letters A to Z change: for names, not for code page 932 text, where the second byte
// of a double-byte character may be a letter.
AnsiString LowerCase(AnsiString text);

// MinGW's g++ takes plain "printf" for the Microsoft runtime's dialect; clang knows only "printf".
#if defined(__clang__)
#define TOLVANE_PRINTF_FORMAT printf
#else
#define TOLVANE_PRINTF_FORMAT gnu_printf
#endif

// printf-style formatting into a text (no length limit).
AnsiString Format(const char* format, ...) __attribute__((format(TOLVANE_PRINTF_FORMAT, 1, 2)));
AnsiString FormatV(const char* format, va_list args);
// The low 16 bits as four lower-case hexadecimal digits, as a USB identifier is shown.
AnsiString Hex4(unsigned value);

} // namespace rtl
