#include "sim/Report.h"
#include "sim/Upload.h"

#include <gtest/gtest.h>

namespace {

using sim::TBytes;

std::uint32_t Dword(const TBytes& bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(bytes.at(offset)) | static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8
        | static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16
        | static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24;
}

std::string Type(const TBytes& data)
{
    return std::string(data.begin(), data.begin() + 4);
}

TBytes Pattern(std::size_t size)
{
    TBytes file(size);
    for (std::size_t i = 0; i < size; ++i)
        file[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return file;
}

struct TSizeCase {
    std::size_t Size;
    std::size_t DataPackets;
    std::uint32_t EndBytes;
};

TEST(SimUploadPackets, SplitIntoWholeDataPacketsAndAnEndPacketWithTheRest)
{
    const TSizeCase cases[] = {{0, 0, 0}, {1, 0, 1}, {1016, 1, 0}, {1017, 1, 1}, {2500, 2, 468}, {3048, 3, 0}};
    for (const TSizeCase& c : cases) {
        sim::TUploadRequest request;
        request.File = Pattern(c.Size);
        request.TimeStamp = 0x11223344;
        request.StampText = "2026/12/08 20:08:31";
        const auto packets = sim::BuildUploadPackets(request);
        ASSERT_EQ(packets.size(), c.DataPackets + 3) << "size " << c.Size;

        const TBytes& start = packets.front().Data;
        EXPECT_EQ(Type(start), "UPLS");
        EXPECT_EQ(Dword(start, 4), c.Size);
        EXPECT_EQ(Dword(start, 8), 0x11223344u);
        EXPECT_EQ(std::string(start.begin() + 12, start.end()), "RGINFO.INI");
        EXPECT_EQ(packets.front().ReplyCode, 0x1001u);

        TBytes joined;
        for (std::size_t n = 0; n < c.DataPackets; ++n) {
            const auto& packet = packets[1 + n];
            ASSERT_EQ(packet.Data.size(), 1024u);
            EXPECT_EQ(Type(packet.Data), "UPLD");
            EXPECT_EQ(Dword(packet.Data, 4), n);
            EXPECT_EQ(packet.ReplyCode, 0x1002u);
            EXPECT_EQ(packet.Label, "UPLD " + std::to_string(n));
            joined.insert(joined.end(), packet.Data.begin() + 8, packet.Data.end());
        }
        const auto& end = packets[c.DataPackets + 1];
        EXPECT_EQ(Type(end.Data), "UPLE");
        EXPECT_EQ(Dword(end.Data, 4), c.EndBytes) << "size " << c.Size;
        ASSERT_EQ(end.Data.size(), 8u + c.EndBytes);
        EXPECT_EQ(end.ReplyCode, 0x1003u);
        joined.insert(joined.end(), end.Data.begin() + 8, end.Data.end());
        EXPECT_EQ(joined, request.File) << "size " << c.Size;

        const auto& info = packets.back();
        EXPECT_EQ(Type(info.Data), "UPLI");
        EXPECT_EQ(Dword(info.Data, 4), c.Size);
        EXPECT_EQ(std::string(info.Data.begin() + 8, info.Data.end()), "2026/12/08 20:08:31");
        EXPECT_FALSE(info.ReplyCode) << "no reply is awaited after UPLI";
    }
}

TEST(SimUploadPackets, AnnouncedSizeChangesOnlyTheInformationPacketAndTextsAreCut)
{
    sim::TUploadRequest request;
    request.File = Pattern(10);
    request.AnnouncedSize = 0x80000000u;
    request.Name = std::string(60, 'N');
    request.StampText = std::string(70, 'S');
    const auto packets = sim::BuildUploadPackets(request);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(Dword(packets[0].Data, 4), 10u);
    EXPECT_EQ(packets[0].Data.size(), 12u + 52u);
    EXPECT_EQ(Dword(packets[2].Data, 4), 0x80000000u);
    EXPECT_EQ(packets[2].Data.size(), 8u + 56u);
}

TBytes Reply(const std::string& keyword, std::uint32_t code, std::uint32_t status, std::size_t padTo = 64)
{
    TBytes data(keyword.begin(), keyword.end());
    sim::AppendDword(data, code);
    sim::AppendDword(data, status);
    data.resize(std::max(data.size(), padTo), 0);
    return data;
}

struct TReplyCase {
    TBytes Data;
    const char* Arrived; // null: accepted
};

TEST(SimUploadReplies, OnlyAnAcceptingReplyWithTheRightCodePasses)
{
    const TReplyCase cases[] = {
        {Reply("UPLR", 0x1002, 0), nullptr},
        {Reply("UPLR", 0x1002, 0, 12), nullptr},
        {Reply("UPLR", 0x1002, 1), "UPLR code 4098 status 1 (refused)"},
        {Reply("UPLR", 0x1003, 0), "UPLR code 4099 status 0"},
        {Reply("uplr", 0x1002, 0), "\"uplr\\x02\\x10\" and "},
        {sim::BytesOf("VER"), "\"VER\" (hex 564552)"},
        {TBytes{'U', 'P', 'L', 'R', 2, 16, 0, 0}, "\"UPLR\\x02\\x10\" and 2 zero bytes"},
        {TBytes(64, 0), "64 zero bytes"},
    };
    for (const TReplyCase& c : cases) {
        const auto arrived = sim::CheckUploadReply(c.Data, 0x1002);
        if (!c.Arrived) {
            EXPECT_FALSE(arrived) << *arrived;
            continue;
        }
        ASSERT_TRUE(arrived) << c.Arrived;
        EXPECT_NE(arrived->find(c.Arrived), std::string::npos) << *arrived;
    }
}

TEST(SimReports, InputReportsAreZeroFilledAndCutToTheirLength)
{
    bool cut = true;
    EXPECT_EQ(sim::FrameInputReport(sim::BytesOf("OK"), 5, cut), (TBytes{0, 'O', 'K', 0, 0}));
    EXPECT_FALSE(cut);
    EXPECT_EQ(sim::FrameInputReport(sim::BytesOf("OKAY"), 5, cut), (TBytes{0, 'O', 'K', 'A', 'Y'}));
    EXPECT_FALSE(cut);
    EXPECT_EQ(sim::FrameInputReport(sim::BytesOf("OKAY!"), 5, cut), (TBytes{0, 'O', 'K', 'A', 'Y'}));
    EXPECT_TRUE(cut);
    EXPECT_EQ(sim::CommandTextOf(TBytes{0, 'V', 'E', 'R', 0, 'X'}), "VER");
    EXPECT_EQ(sim::CommandTextOf(TBytes{0}), "");
}

TEST(SimReports, DescriptionsShowNonPrintablesAndLongDataCut)
{
    EXPECT_EQ(sim::DescribeBytes(TBytes{'N', 'G', '\r', '\n', 0, 0}),
              "\"NG\\x0d\\x0a\" and 2 zero bytes (hex 4e470d0a)");
    EXPECT_EQ(sim::DescribeBytes(TBytes{}), "an empty report");
    const std::string longText = sim::DescribeBytes(TBytes(200, 'A'));
    EXPECT_NE(longText.find("\"..."), std::string::npos);
    EXPECT_NE(longText.find("...)"), std::string::npos);
    EXPECT_LT(longText.size(), 200u);
}

} // namespace
