#include "AnsiString.h"

#include <cstdio>
#include <vector>

namespace rtl {

AnsiString StringReplaceAll(const AnsiString& text, const AnsiString& from, const AnsiString& to)
{
    if (from.empty())
        return text;
    AnsiString result;
    std::size_t at = 0;
    for (std::size_t found; (found = text.find(from, at)) != AnsiString::npos; at = found + from.size())
        result.append(text, at, found - at).append(to);
    return result.append(text, at, AnsiString::npos);
}

static bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

AnsiString Trim(const AnsiString& text)
{
    std::size_t first = 0;
    while (first < text.size() && IsBlank(text[first]))
        ++first;
    return TrimRight(text.substr(first));
}

AnsiString TrimRight(const AnsiString& text)
{
    std::size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1]))
        --end;
    return text.substr(0, end);
}

bool Contains(const AnsiString& text, const AnsiString& part)
{
    return text.find(part) != AnsiString::npos;
}

bool StartsWith(const AnsiString& text, const AnsiString& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

AnsiString LowerCase(AnsiString text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

AnsiString Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    AnsiString text = FormatV(format, args);
    va_end(args);
    return text;
}

AnsiString FormatV(const char* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return {};
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return AnsiString(buffer.data(), static_cast<std::size_t>(length));
}

AnsiString Hex4(unsigned value)
{
    return Format("%04x", value & 0xFFFFu);
}

} // namespace rtl
