#include "TextEscape.h"

#include "CodePage.h"

#include <cstdio>

namespace rtl {

namespace {

std::string Hex(const char* format, unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The length of the C1 control (U+0080 to U+009F, two bytes in UTF-8) at i, or 0.
std::size_t C1At(const std::string& text, std::size_t i)
{
    return i + 1 < text.size() && static_cast<unsigned char>(text[i]) == 0xC2
            && static_cast<unsigned char>(text[i + 1]) >= 0x80 && static_cast<unsigned char>(text[i + 1]) <= 0x9F
        ? 2
        : 0;
}

std::string Escaped(const std::string& utf8, bool backslashes)
{
    std::string shown;
    shown.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x20 || byte == 0x7F) {
            shown += Hex("\\x%02X", byte);
        } else if (byte == '\\' && backslashes) {
            shown += "\\\\";
        } else if (C1At(utf8, i)) {
            shown += Hex("\\u%04X", static_cast<unsigned char>(utf8[++i]));
        } else {
            shown += utf8[i];
        }
    }
    return shown;
}

} // namespace

std::string EscapeControls(const std::string& utf8)
{
    return Escaped(utf8, true);
}

std::string EscapePath(const std::string& utf8)
{
    return Escaped(utf8, false);
}

std::string JsonString(const std::string& utf8)
{
    std::string json = "\"";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += utf8[i];
        } else if (byte < 0x20 || byte == 0x7F) {
            json += Hex("\\u%04X", byte);
        } else if (C1At(utf8, i)) {
            json += Hex("\\u%04X", static_cast<unsigned char>(utf8[++i]));
        } else if (byte == 0xE2 && i + 2 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0x80
                   && (static_cast<unsigned char>(utf8[i + 2]) == 0xA8
                       || static_cast<unsigned char>(utf8[i + 2]) == 0xA9)) {
            json += Hex("\\u%04X", 0x2000u + static_cast<unsigned char>(utf8[i + 2]) - 0x80u);
            i += 2;
        } else {
            json += utf8[i];
        }
    }
    return json + '"';
}

std::string LogLineText(const AnsiString& line)
{
    return EscapeControls(Utf8FromCp932(line));
}

} // namespace rtl
