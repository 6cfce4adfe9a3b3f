#pragma once

#include "Report.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class TVirtualUnit;

inline constexpr std::size_t UploadChunkSize = 1016;
inline constexpr std::size_t UploadNameLimit = 52;
inline constexpr std::size_t UploadStampLimit = 56;
inline constexpr std::uint32_t UploadStartReplyCode = 0x1001;
inline constexpr std::uint32_t UploadDataReplyCode = 0x1002;
inline constexpr std::uint32_t UploadEndReplyCode = 0x1003;

struct TUploadRequest {
    TBytes File;
    std::string Name = "RGINFO.INI";
    std::uint32_t TimeStamp = 0;                // the start packet's time-stamp value
    std::string StampText;                      // the information packet's text
    std::optional<std::uint32_t> AnnouncedSize; // the information packet's size, when not the real one
};

struct TUploadPacket {
    std::string Label;                      // "UPLS", "UPLD 3", "UPLE", "UPLI"
    TBytes Data;                            // the input report's data, after its report ID
    std::optional<std::uint32_t> ReplyCode; // the reply the tool owes, if any
};

// UPLS, one UPLD per whole 1016 bytes, UPLE with the rest (possibly none), UPLI.
std::vector<TUploadPacket> BuildUploadPackets(const TUploadRequest& request);

// What arrived instead of an accepting reply with `code`, or nothing when it accepts.
// `data` is the output report after its report ID.
std::optional<std::string> CheckUploadReply(const TBytes& data, std::uint32_t code);

struct TUploadFailure {
    std::string Expected;
    std::string Arrived;
    bool Stopped = false; // a stop was requested; Expected says where
};

// Sends the packets, awaiting each owed reply within `timeout`.
std::optional<TUploadFailure> RunUpload(TVirtualUnit& unit, const TUploadRequest& request,
                                        std::chrono::milliseconds timeout);

// The local time as "yyyy/mm/dd hh:mm:ss".
std::string UploadStampNow();

} // namespace sim
