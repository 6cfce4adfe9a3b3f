// A whole information-file upload from quillmark-sim, with the tool's side played by the
// test over the Win32-named calls only.

#include "SimProcess.h"
#include "Win32TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>

using namespace testsupport;

namespace {

std::int32_t Dword(const std::vector<BYTE>& report, std::size_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | report[offset + static_cast<std::size_t>(i)];
    return static_cast<std::int32_t>(value);
}

std::vector<BYTE> Reply(std::uint32_t code, std::uint32_t status)
{
    std::vector<BYTE> report(65, 0);
    std::memcpy(&report[1], "UPLR", 4);
    for (int i = 0; i < 4; ++i) {
        report[5 + static_cast<std::size_t>(i)] = static_cast<BYTE>(code >> (8 * i));
        report[9 + static_cast<std::size_t>(i)] = static_cast<BYTE>(status >> (8 * i));
    }
    return report;
}

std::string PacketType(const TReadResult& read)
{
    return std::string(reinterpret_cast<const char*>(&read.Report[1]), 4);
}

// Takes UPLD packets, each answered, up to and with the UPLE; `number` counts the UPLDs.
void ReceivePackets(HANDLE reader, const std::function<void(const std::vector<BYTE>&)>& write, std::string& received,
                    std::int32_t& number)
{
    for (;;) {
        TReadResult packet = ReadReport(reader);
        ASSERT_TRUE(packet.Completed);
        const std::string type = PacketType(packet);
        if (type == "UPLD") {
            EXPECT_EQ(Dword(packet.Report, 5), number++);
            received.append(reinterpret_cast<const char*>(&packet.Report[9]), 1016);
            write(Reply(4098, 0));
        } else {
            ASSERT_EQ(type, "UPLE");
            const std::int32_t n = Dword(packet.Report, 5);
            ASSERT_GE(n, 0);
            ASSERT_LT(n, 1016);
            received.append(reinterpret_cast<const char*>(&packet.Report[9]), static_cast<std::size_t>(n));
            write(Reply(4099, 0));
            break;
        }
    }
}

class Upload : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Upload, WholeFileArrivesInPacketsAnsweredWithReplies)
{
    const std::size_t size = GetParam();
    TScratchUnitDirectory units;
    std::string file;
    for (std::size_t i = 0; i < size; ++i)
        file.push_back(static_cast<char>('A' + (i * 7) % 26 + (i % 97 == 0 ? 32 : 0)));
    const std::string infoPath = units.Path() + "/info.ini";
    std::ofstream(infoPath, std::ios::binary) << file;
    TSimProcess sim(units.Path(), {"--info-file", infoPath});

    HANDLE reader = OpenUnit(units.SocketPath("quillmark"), GENERIC_READ, FILE_FLAG_OVERLAPPED);
    HANDLE writer = OpenUnit(units.SocketPath("quillmark"), GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    auto write = [&](const std::vector<BYTE>& report) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(writer, report.data(), 65, &written, nullptr)) << GetLastError();
    };

    write(OutputReport("UPLS RGINFO.INI"));
    TReadResult start = ReadReport(reader);
    ASSERT_TRUE(start.Completed);
    ASSERT_EQ(PacketType(start), "UPLS");
    EXPECT_EQ(Dword(start.Report, 5), static_cast<std::int32_t>(size));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&start.Report[13])), "RGINFO.INI");
    write(Reply(4097, 0));

    std::string received;
    std::int32_t number = 0;
    ReceivePackets(reader, write, received, number);
    EXPECT_EQ(static_cast<std::size_t>(number), size / 1016);

    TReadResult info = ReadReport(reader);
    ASSERT_TRUE(info.Completed);
    ASSERT_EQ(PacketType(info), "UPLI");
    EXPECT_EQ(Dword(info.Report, 5), static_cast<std::int32_t>(size));
    EXPECT_EQ(received, file);

    // The unit is ready for the next command and said nothing about the upload.
    write(OutputReport("VER"));
    TReadResult version = ReadReport(reader);
    ASSERT_TRUE(version.Completed);
    EXPECT_EQ(ReportText(version.Report).substr(0, 3), "OK ");
    CloseHandle(reader);
    CloseHandle(writer);
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.Stderr().find("upload"), std::string::npos) << sim.Stderr();
}

INSTANTIATE_TEST_SUITE_P(Sizes, Upload, ::testing::Values(0, 1, 1016, 1017, 2032, 2500));

} // namespace
