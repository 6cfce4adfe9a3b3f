#include "Report.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

constexpr std::size_t DescribedTextLimit = 80;
constexpr std::size_t DescribedHexLimit = 32;

} // namespace

TBytes BytesOf(const std::string& text)
{
    return TBytes(text.begin(), text.end());
}

TBytes FrameInputReport(const TBytes& data, std::size_t length, bool& cut)
{
    TBytes report(length, 0);
    const std::size_t room = length > 0 ? length - 1 : 0;
    cut = data.size() > room;
    std::copy_n(data.begin(), std::min(room, data.size()), report.begin() + (length > 0 ? 1 : 0));
    return report;
}

std::string CommandTextOf(const TBytes& report)
{
    if (report.size() < 2)
        return {};
    const auto begin = report.begin() + 1;
    return std::string(begin, std::find(begin, report.end(), 0));
}

std::string HexOf(const TBytes& bytes)
{
    static const char Digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        hex += Digits[byte >> 4];
        hex += Digits[byte & 0x0f];
    }
    return hex;
}

std::string DescribeBytes(const TBytes& bytes)
{
    std::size_t used = bytes.size();
    while (used > 0 && bytes[used - 1] == 0)
        --used;
    const std::size_t zeros = bytes.size() - used;
    if (used == 0)
        return zeros == 0 ? "an empty report" : std::to_string(zeros) + " zero bytes";

    std::string text = "\"";
    for (std::size_t i = 0; i < std::min(used, DescribedTextLimit); ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            text += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    text += used > DescribedTextLimit ? "\"..." : "\"";
    if (zeros > 0)
        text += " and " + std::to_string(zeros) + " zero bytes";
    const std::size_t shown = std::min(used, DescribedHexLimit);
    text += " (hex " + HexOf(TBytes(bytes.begin(), bytes.begin() + shown)) + (used > shown ? "...)" : ")");
    return text;
}

void AppendDword(TBytes& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t DwordAt(const TBytes& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | bytes[offset + i];
    return value;
}

} // namespace sim
