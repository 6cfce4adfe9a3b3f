#pragma once

#include "Report.h"

#include <cstddef>
#include <optional>
#include <string>

namespace sim {

// The most a uhid report carries: input data after the report ID, and an output report with
// the report ID the kernel hands over in front of it.
inline constexpr std::size_t UhidLargestInLength = 4097;
inline constexpr std::size_t UhidLargestOutLength = 4096;
inline constexpr std::size_t LargestReportDescriptor = 4096;

// A vendor-defined application collection (usage page 0xFF00, usage 0x01) without report IDs:
// one input report of inLength - 1 bytes and one output report of outLength - 1 bytes, so that
// a host counting the report-ID byte finds inLength and outLength. Both lengths are at least 2.
TBytes BuildReportDescriptor(std::size_t inLength, std::size_t outLength);

// Hex bytes: pairs of digits, runs of pairs allowed ("0501a101"), or one or two digits after
// 0x; separated by white space and commas; '#' starts a comment to the end of the line.
// Nothing on error, with the reason in `error`.
std::optional<TBytes> ParseHexBytes(const std::string& text, std::string& error);

} // namespace sim
