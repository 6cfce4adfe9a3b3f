#include "CodePage.h"

#include "Unicode.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace rtl {

namespace {

#ifdef _WIN32
constexpr unsigned CodePage932 = 932;
#else
// One conversion with iconv; an unconvertible or incomplete sequence gives `replacement`
// in the output and costs one input byte (one unit for UTF-16 input).
std::string Convert(const char* to, const char* from, const std::string& input, const std::string& replacement,
                    std::size_t unit)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return replacement;
    std::string output;
    char buffer[1024];
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    while (inLeft > 0) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t done = iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(buffer, static_cast<std::size_t>(out - buffer));
        if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
            output += replacement;
            const std::size_t skip = std::min(unit, inLeft);
            in += skip;
            inLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return output;
}
#endif

} // namespace

namespace {

// Code page 932 keeps the bytes below 0x80 as they are in ASCII, so most log lines need no
// conversion at all.
bool IsAscii(const AnsiString& text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

} // namespace

std::u16string Utf16FromCp932(const AnsiString& text)
{
    if (IsAscii(text))
        return std::u16string(text.begin(), text.end());
#ifdef _WIN32
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CodePage932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CodePage932, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return std::u16string(wide.begin(), wide.end());
#else
    const std::string bytes = Convert("UTF-16LE", "CP932", text, std::string("\xFD\xFF", 2), 1);
    std::u16string wide(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i])
                                        | (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return wide;
#endif
}

AnsiString Cp932FromUtf16(const std::u16string& text)
{
#ifdef _WIN32
    if (text.empty())
        return {};
    const std::wstring wide(text.begin(), text.end());
    const int length =
        WideCharToMultiByte(CodePage932, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    AnsiString narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CodePage932, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
#else
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return Convert("CP932", "UTF-16LE", bytes, "?", 2);
#endif
}

std::string Utf8FromCp932(const AnsiString& text)
{
    if (IsAscii(text))
        return text;
    return Utf8FromUtf16(Utf16FromCp932(text));
}

AnsiString Cp932FromUtf8(const std::string& text)
{
    return Cp932FromUtf16(Utf16FromUtf8(text));
}

} // namespace rtl
