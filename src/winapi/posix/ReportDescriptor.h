#pragma once

// The HID report-descriptor parser of the hidraw source: a pure function over the bytes, so
// that it can be tested against captured devices and fuzzed on any system.

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace winapi::posix {

// What HidP_GetCaps tells about one top-level collection. Each length is that of the longest
// report of its kind in the collection plus one byte for the report ID, which Windows counts
// even when the device has no report IDs; 0 when the collection has no report of the kind.
struct THidCollectionCaps {
    std::uint16_t UsagePage = 0;
    std::uint16_t Usage = 0;
    std::uint16_t InputLength = 0;
    std::uint16_t OutputLength = 0;
    std::uint16_t FeatureLength = 0;
    // The report IDs of the collection's input reports (0 on a device without report IDs).
    std::bitset<256> InputReportIds;
};

struct TReportDescriptorCaps {
    // In descriptor order; empty when the descriptor cannot be parsed.
    std::vector<THidCollectionCaps> Collections;
    // Reports carry their ID as first byte; without IDs the device sends and takes data only.
    bool HasReportIds = false;
    // Why the descriptor cannot be parsed; empty when it can.
    std::string Error;
};

TReportDescriptorCaps ParseReportDescriptor(const std::uint8_t* data, std::size_t size);

} // namespace winapi::posix
