#include "SimProcess.h"
#include "sim/Options.h"
#include "sim/ReportDescriptor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <unistd.h>

namespace simtest {
namespace {

// What a host's parser makes of a descriptor, read item by item without the simulator's code.
struct TParsedDescriptor {
    std::uint32_t UsagePage = 0;
    std::uint32_t Usage = 0;
    bool Application = false;
    bool ReportIds = false;
    int Depth = 0;
    std::size_t InputBits = 0;
    std::size_t OutputBits = 0;
    std::size_t Malformed = 0;
};

TParsedDescriptor ParseDescriptor(const std::vector<std::uint8_t>& bytes)
{
    static const std::size_t Sizes[] = {0, 1, 2, 4};
    TParsedDescriptor parsed;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::uint8_t prefix = bytes[i];
        const std::size_t size = Sizes[prefix & 3];
        if (prefix == 0xfe || i + 1 + size > bytes.size()) {
            ++parsed.Malformed;
            break;
        }
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < size; ++k)
            value |= static_cast<std::uint32_t>(bytes[i + 1 + k]) << (8 * k);
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (type == 1 && tag == 0)
            parsed.UsagePage = value;
        else if (type == 1 && tag == 7)
            reportSize = value;
        else if (type == 1 && tag == 8)
            parsed.ReportIds = true;
        else if (type == 1 && tag == 9)
            reportCount = value;
        else if (type == 2 && tag == 0 && parsed.Depth == 0)
            parsed.Usage = value;
        else if (type == 0 && tag == 8)
            parsed.InputBits += reportSize * reportCount;
        else if (type == 0 && tag == 9)
            parsed.OutputBits += reportSize * reportCount;
        else if (type == 0 && tag == 10) {
            parsed.Application = parsed.Application || (parsed.Depth == 0 && value == 1);
            ++parsed.Depth;
        } else if (type == 0 && tag == 12)
            --parsed.Depth;
        i += 1 + size;
    }
    return parsed;
}

TEST(SimUhid, DescriptorYieldsTheUnitsReportLengths)
{
    const std::pair<std::size_t, std::size_t> cases[] = {{1025, 65}, {2, 2}, {256, 257}, {4097, 4096}, {300, 64}};
    for (const auto& [in, out] : cases) {
        const auto parsed = ParseDescriptor(sim::BuildReportDescriptor(in, out));
        EXPECT_EQ(parsed.Malformed, 0u) << in << "/" << out;
        EXPECT_EQ(parsed.UsagePage, 0xff00u);
        EXPECT_EQ(parsed.Usage, 0x01u);
        EXPECT_TRUE(parsed.Application);
        EXPECT_FALSE(parsed.ReportIds);
        EXPECT_EQ(parsed.Depth, 0);
        EXPECT_EQ(parsed.InputBits, (in - 1) * 8) << in;
        EXPECT_EQ(parsed.OutputBits, (out - 1) * 8) << out;
    }
}

struct THexCase {
    const char* Text;
    std::vector<std::uint8_t> Bytes;
    bool Good;
};

TEST(SimUhid, DescriptorFileTakesHexBytesInTheUsualSpellings)
{
    const THexCase cases[] = {
        {"05 01 09 06", {0x05, 0x01, 0x09, 0x06}, true},
        {"0x05, 0x1,\n\t0XA1,", {0x05, 0x01, 0xa1}, true},
        {"0501a1Ff # a comment 0x99 zz\nc0", {0x05, 0x01, 0xa1, 0xff, 0xc0}, true},
        {"", {}, true},
        {"501", {}, false},
        {"0x", {}, false},
        {"0x123", {}, false},
        {"05 zz", {}, false},
        {"05;01", {}, false},
    };
    for (const THexCase& c : cases) {
        std::string error;
        const auto bytes = sim::ParseHexBytes(c.Text, error);
        EXPECT_EQ(bytes.has_value(), c.Good) << c.Text;
        if (bytes)
            EXPECT_EQ(*bytes, c.Bytes) << c.Text;
        else
            EXPECT_NE(error.find("is not a hex byte"), std::string::npos) << error;
    }
}

struct TOptionCase {
    std::vector<std::string> Args;
    const char* Error; // nullptr: accepted
};

TEST(SimUhid, OptionsRefuseWhatAUhidDeviceOrUsbGadgetCannotBe)
{
    const TOptionCase cases[] = {
        {{"--transport", "uhid"}, nullptr},
        {{"--transport", "uhid", "--in-length", "4097", "--out-length", "4096"}, nullptr},
        {{"--transport", "uhid", "--in-length", "4098"}, "--in-length 4098 cannot be made with uhid"},
        {{"--transport", "uhid", "--out-length", "4097"}, "--out-length 4097 cannot be made with uhid"},
        {{"--transport", "uhid", "--in-length", "1"}, "--in-length 1 cannot"},
        {{"--transport", "uhid", "--dir", "/tmp"}, "--dir places socket units"},
        {{"--transport", "uhid", "--access", "query-only"}, "--access query-only cannot be made with uhid"},
        {{"--transport", "uhid", "--descriptor", "d.txt", "--script", "s.txt"}, "cannot play a --script"},
        {{"--descriptor", "d.txt"}, "--descriptor needs --transport uhid"},
        {{"--transport", "usbx"}, "--transport: bad value \"usbx\""},
        {{"--in-length", "4098"}, nullptr},
        {{"--transport", "usb"}, nullptr},
        {{"--transport", "usb", "--in-length", "1025", "--out-length", "1025", "--count", "32"}, nullptr},
        {{"--transport", "usb", "--in-length", "1026"}, "--in-length 1026 cannot be made with usb: from 2 to 1025"},
        {{"--transport", "usb", "--out-length", "1026"}, "--out-length 1026 cannot be made with usb: from 2 to 1025"},
        {{"--transport", "usb", "--out-length", "1"}, "--out-length 1 cannot be made with usb"},
        {{"--transport", "usb", "--count", "33"}, "--count 33 cannot be made with usb"},
        {{"--transport", "usb", "--dir", "/tmp"}, "a usb unit has no unit directory"},
        {{"--transport", "usb", "--access", "query-only"}, "--access query-only cannot be made with usb"},
        {{"--transport", "usb", "--descriptor", "d.txt"}, "--descriptor needs --transport uhid"},
        {{"--transport", "usb", "--usb-serial", "S1"}, nullptr},
        {{"--transport", "usb", "--usb-serial", std::string(127, 's')}, "longer than a USB string descriptor"},
        {{"--transport", "uhid", "--usb-serial", "S1"}, "--usb-serial needs --transport usb"},
        {{"--usb-serial", "S1"}, "--usb-serial needs --transport usb"},
    };
    for (const TOptionCase& c : cases) {
        std::vector<const char*> argv{"quillmark-sim"};
        for (const std::string& arg : c.Args)
            argv.push_back(arg.c_str());
        sim::TSimOptions options;
        std::string error;
        const auto outcome = sim::ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error);
        const std::string& last = c.Args.back();
        if (!c.Error) {
            EXPECT_EQ(outcome, sim::TParseOutcome::Run) << last << ": " << error;
        } else {
            EXPECT_EQ(outcome, sim::TParseOutcome::Error) << last;
            EXPECT_NE(error.find(c.Error), std::string::npos) << error;
        }
    }
}

TEST(SimUhid, UnusableUhidDeviceUsbBusOrDescriptorIsAUsageError)
{
    char pattern[] = "/tmp/quillmark-sim-uhid-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string bad = dir + "/bad.txt";
    const std::string big = dir + "/big.txt";
    std::ofstream(bad) << "05 01 # fine\n09 0g\n";
    {
        std::ofstream file(big);
        for (int i = 0; i < 4097; ++i)
            file << "00 ";
    }
    std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--transport", "uhid", "--descriptor", bad}, "--descriptor " + bad + ": line 2: \"0g\" is not a hex byte"},
        {{"--transport", "uhid", "--descriptor", big}, "4097 bytes, more than the kernel takes (4096)"},
    };
    // Which failure a host without a usable /dev/uhid meets; with one, a unit would be placed.
    if (::access("/dev/uhid", F_OK) != 0)
        cases.push_back({{"--transport", "uhid"}, "cannot place quillmark: /dev/uhid is missing"});
    else if (::access("/dev/uhid", W_OK) != 0)
        cases.push_back({{"--transport", "uhid"}, "cannot place quillmark: /dev/uhid is not writable"});
    // Without dummy_hcd the message names the lab that has it.
    if (::access("/sys/class/udc/dummy_udc.0", F_OK) != 0)
        cases.push_back({{"--transport", "usb"},
                         "cannot place quillmark: no dummy_hcd controller (no dummy_udc.0 in /sys/class/udc): this "
                         "kernel offers no virtual USB bus (the lab VM, tests/lab/run-in-vm.sh, loads dummy_hcd"});
    for (const auto& [args, message] : cases) {
        TSimProcess sim(args);
        EXPECT_EQ(sim.WaitForExit(), 2) << message;
        EXPECT_NE(sim.Stderr().find(message), std::string::npos) << sim.Stderr();
        EXPECT_EQ(std::count(sim.Stderr().begin(), sim.Stderr().end(), '\n'), 1) << sim.Stderr();
        EXPECT_EQ(sim.Stdout(), "") << "nothing placed";
    }
    ::unlink(bad.c_str());
    ::unlink(big.c_str());
    ::rmdir(dir.c_str());
}

} // namespace
} // namespace simtest
