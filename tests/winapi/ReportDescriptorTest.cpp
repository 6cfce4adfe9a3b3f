// The report-descriptor parser against what Windows reported for real devices, and against
// descriptors it must refuse without reading past their end.

#include "posix/ReportDescriptor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace winapi::posix;

namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

struct TCapturedDevice {
    std::string Name;
    unsigned UsagePage = 0, Usage = 0, Input = 0, Output = 0, Feature = 0;
    std::vector<std::uint8_t> Descriptor;
};

std::vector<TCapturedDevice> LoadCapturedDevices()
{
    std::vector<TCapturedDevice> devices;
    std::ifstream file(TOLVANE_TEST_DATA_DIR "/hid-caps-windows.txt");
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        TCapturedDevice device;
        std::string hex;
        fields >> device.Name >> std::hex >> device.UsagePage >> device.Usage >> std::dec >> device.Input
            >> device.Output >> device.Feature >> hex;
        device.Descriptor = FromHex(hex);
        devices.push_back(device);
    }
    return devices;
}

TEST(ReportDescriptor, ReproducesWindowsCapsOfEveryCapturedDevice)
{
    const auto devices = LoadCapturedDevices();
    ASSERT_EQ(devices.size(), 25u);
    for (const auto& device : devices) {
        SCOPED_TRACE(device.Name);
        const auto caps = ParseReportDescriptor(device.Descriptor.data(), device.Descriptor.size());
        ASSERT_EQ(caps.Error, "");
        const THidCollectionCaps* found = nullptr;
        for (const auto& collection : caps.Collections)
            if (collection.UsagePage == device.UsagePage && collection.Usage == device.Usage && !found)
                found = &collection;
        ASSERT_NE(found, nullptr) << "no top-level collection " << std::hex << device.UsagePage << ":" << device.Usage;
        EXPECT_EQ(found->InputLength, device.Input);
        EXPECT_EQ(found->OutputLength, device.Output);
        EXPECT_EQ(found->FeatureLength, device.Feature);
    }
}

TEST(ReportDescriptor, SplitsTopLevelCollectionsAndKnowsTheirReportIds)
{
    // Two vendor collections: IDs 1 and 2 in the first, 3 in the second; a 4-byte usage
    // carries its own page.
    const auto bytes = FromHex("0600ff0901a101"
                               "8501750895038102"
                               "8502750895078102"
                               "c0"
                               "0b0200a0ffa101"
                               "850375089510910275089501b102"
                               "c0");
    const auto caps = ParseReportDescriptor(bytes.data(), bytes.size());
    ASSERT_EQ(caps.Error, "");
    ASSERT_EQ(caps.Collections.size(), 2u);
    EXPECT_TRUE(caps.HasReportIds);
    const auto& first = caps.Collections[0];
    EXPECT_EQ(first.UsagePage, 0xff00);
    EXPECT_EQ(first.Usage, 1);
    EXPECT_EQ(first.InputLength, 8);
    EXPECT_TRUE(first.InputReportIds.test(1) && first.InputReportIds.test(2) && !first.InputReportIds.test(3));
    const auto& second = caps.Collections[1];
    EXPECT_EQ(second.UsagePage, 0xffa0);
    EXPECT_EQ(second.Usage, 2);
    EXPECT_EQ(second.InputLength, 0);
    EXPECT_EQ(second.OutputLength, 17);
    EXPECT_EQ(second.FeatureLength, 2);
}

TEST(ReportDescriptor, QuillmarkShapeWithoutReportIdsCountsTheIdByte)
{
    // Vendor page, 1024 input bytes, 64 output bytes, no report IDs.
    const auto bytes = FromHex("0600ff0901a1017508960004810295409102c0");
    auto caps = ParseReportDescriptor(bytes.data(), bytes.size());
    ASSERT_EQ(caps.Collections.size(), 1u);
    EXPECT_FALSE(caps.HasReportIds);
    EXPECT_EQ(caps.Collections[0].InputLength, 1025);
    EXPECT_TRUE(caps.Collections[0].InputReportIds.test(0));
}

TEST(ReportDescriptor, RefusesMalformedDescriptorsWithAReason)
{
    const struct {
        const char* Why;
        const char* Hex;
    } cases[] = {
        {"empty", ""},
        {"item cut short", "0600"},
        {"long item cut short", "a101fe0500aa"},
        {"end without collection", "c0"},
        {"collection left open", "0600ff0901a101"},
        {"pop without push", "a101b4c0"},
        {"report ID 0", "a1018500c0"},
        {"no collection at all", "750895018102"},
        {"report too long", "a101770000010097ffff00008102c0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        const auto bytes = FromHex(c.Hex);
        const auto caps = ParseReportDescriptor(bytes.data(), bytes.size());
        EXPECT_TRUE(caps.Collections.empty());
        EXPECT_NE(caps.Error, "");
    }
}

} // namespace
