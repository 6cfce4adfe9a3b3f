#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using TBytes = std::vector<std::uint8_t>;

TBytes BytesOf(const std::string& text);

// Report ID 0, the data, zero bytes up to `length`. Data that does not fit is cut and `cut` says so.
TBytes FrameInputReport(const TBytes& data, std::size_t length, bool& cut);

// The data of an output report after its report ID, up to the first zero byte.
std::string CommandTextOf(const TBytes& report);

// Lower-case pairs without separators.
std::string HexOf(const TBytes& bytes);

// For messages: the printable text with other bytes as \xHH, the trailing zero bytes counted
// instead of shown, and the leading bytes in hex.
std::string DescribeBytes(const TBytes& bytes);

void AppendDword(TBytes& out, std::uint32_t value);
// Four bytes at `offset`, least significant first; the caller checks the size.
std::uint32_t DwordAt(const TBytes& bytes, std::size_t offset);

} // namespace sim
