#include "ReportDescriptor.h"

#include <cctype>

namespace sim {

namespace {

// Short items: the prefix's low two bits give the data size 0, 1, 2 or 4.
constexpr std::uint8_t UsagePage2 = 0x06;
constexpr std::uint8_t Usage1 = 0x09;
constexpr std::uint8_t CollectionApplication[] = {0xa1, 0x01};
constexpr std::uint8_t EndCollection = 0xc0;
constexpr std::uint8_t LogicalMinimum1 = 0x15;
constexpr std::uint8_t LogicalMaximum2 = 0x26;
constexpr std::uint8_t ReportSize1 = 0x75;
constexpr std::uint8_t ReportCount1 = 0x95;
constexpr std::uint8_t ReportCount2 = 0x96;
constexpr std::uint8_t Input1 = 0x81;
constexpr std::uint8_t Output1 = 0x91;
constexpr std::uint8_t DataVariableAbsolute = 0x02;

void AppendReport(TBytes& out, std::uint8_t usage, std::size_t bytes, std::uint8_t main)
{
    out.insert(out.end(), {Usage1, usage});
    if (bytes <= 0xff)
        out.insert(out.end(), {ReportCount1, static_cast<std::uint8_t>(bytes)});
    else
        out.insert(out.end(), {ReportCount2, static_cast<std::uint8_t>(bytes), static_cast<std::uint8_t>(bytes >> 8)});
    out.insert(out.end(), {main, DataVariableAbsolute});
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

} // namespace

TBytes BuildReportDescriptor(std::size_t inLength, std::size_t outLength)
{
    TBytes out{UsagePage2, 0x00, 0xff, Usage1, 0x01};
    out.insert(out.end(), std::begin(CollectionApplication), std::end(CollectionApplication));
    out.insert(out.end(), {LogicalMinimum1, 0x00, LogicalMaximum2, 0xff, 0x00, ReportSize1, 8});
    AppendReport(out, 0x02, inLength - 1, Input1);
    AppendReport(out, 0x03, outLength - 1, Output1);
    out.push_back(EndCollection);
    return out;
}

std::optional<TBytes> ParseHexBytes(const std::string& text, std::string& error)
{
    TBytes bytes;
    std::size_t line = 1;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n')
            ++line;
        if (c == '#') {
            while (i < text.size() && text[i] != '\n')
                ++i;
            continue;
        }
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) && text[end] != ','
               && text[end] != '#')
            ++end;
        std::string token = text.substr(i, end - i);
        const bool prefixed = token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
        if (prefixed)
            token.erase(0, 2);
        bool good = prefixed ? token.size() <= 2 : token.size() % 2 == 0;
        for (const char digit : token)
            good = good && HexDigit(digit) >= 0;
        if (!good) {
            error = "line " + std::to_string(line) + ": \"" + text.substr(i, end - i) + "\" is not a hex byte";
            return std::nullopt;
        }
        if (prefixed && token.size() == 1)
            token.insert(0, "0");
        for (std::size_t k = 0; k < token.size(); k += 2)
            bytes.push_back(static_cast<std::uint8_t>(HexDigit(token[k]) * 16 + HexDigit(token[k + 1])));
        i = end;
    }
    return bytes;
}

} // namespace sim
