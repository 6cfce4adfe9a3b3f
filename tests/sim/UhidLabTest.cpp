#include "SimProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace simtest {
namespace {

using TBytes = std::vector<std::uint8_t>;

class SimUhidLab : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access("/dev/uhid", W_OK) != 0)
            GTEST_SKIP() << "no writable /dev/uhid here; the lab runs this";
        char pattern[] = "/tmp/quillmark-sim-lab-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        FDir = pattern;
    }

    void TearDown() override
    {
        FSim.reset();
        if (!FDir.empty())
            std::system(("rm -rf '" + FDir + "'").c_str());
    }

    // Starts the unit and returns its hidraw node from the "placed" line.
    std::string Place(const std::vector<std::string>& args)
    {
        std::vector<std::string> all{"--transport", "uhid"};
        all.insert(all.end(), args.begin(), args.end());
        FSim = std::make_unique<TSimProcess>(all);
        return NextNode();
    }

    std::string NextNode()
    {
        const auto line = FSim->WaitForLine("placed ");
        EXPECT_TRUE(line) << FSim->Stderr();
        const std::size_t space = line ? line->rfind(' ') : std::string::npos;
        return space == std::string::npos ? std::string() : line->substr(space + 1);
    }

    std::string WriteFile(const std::string& name, const std::string& contents)
    {
        const std::string path = FDir + "/" + name;
        std::ofstream(path) << contents;
        return path;
    }

    std::string FDir;
    std::unique_ptr<TSimProcess> FSim;
};

// Report ID 0 first, as a host writes an unnumbered output report to hidraw.
bool WriteCommand(int fd, const std::string& text)
{
    std::string report(65, '\0');
    report.replace(1, text.size(), text);
    return ::write(fd, report.data(), report.size()) == 65;
}

// One input report as hidraw gives it (data only), or nothing within 10 s.
std::optional<std::string> ReadReport(int fd)
{
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 10000) != 1 || !(ready.revents & POLLIN))
        return std::nullopt;
    char buffer[8192];
    const ssize_t size = ::read(fd, buffer, sizeof buffer);
    if (size < 0)
        return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(size));
}

std::string Hex(const std::string& bytes)
{
    static const char Digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : bytes) {
        hex += Digits[byte >> 4];
        hex += Digits[byte & 15];
    }
    return hex;
}

TEST_F(SimUhidLab, HostMeetsTheUnitThroughHidrawAndTheTraceMatchesTheSocketUnits)
{
    const std::string trace = FDir + "/trace.txt";
    const std::string node = Place({"--trace", trace});
    ASSERT_EQ(node.rfind("/dev/hidraw", 0), 0u) << node;
    const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0) << node;
    hidraw_devinfo info{};
    char name[64] = {};
    ASSERT_EQ(::ioctl(fd, HIDIOCGRAWINFO, &info), 0);
    ASSERT_GE(::ioctl(fd, HIDIOCGRAWNAME(sizeof name), name), 0);
    EXPECT_EQ(info.bustype, BUS_USB);
    EXPECT_EQ(static_cast<std::uint16_t>(info.vendor), 0x1209);
    EXPECT_EQ(static_cast<std::uint16_t>(info.product), 0x0043);
    EXPECT_STREQ(name, "Quillmark");

    ASSERT_TRUE(WriteCommand(fd, "VER"));
    const auto answer = ReadReport(fd);
    ::close(fd);
    ASSERT_TRUE(answer) << FSim->Stderr();
    const std::string expected = "OK 1.0.05\r\n";
    EXPECT_EQ(answer->size(), 1024u) << "data only";
    EXPECT_EQ(answer->substr(0, expected.size()), expected);
    EXPECT_EQ(answer->find_first_not_of('\0', expected.size()), std::string::npos) << "zero-filled";

    FSim->Signal(SIGTERM);
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
    EXPECT_NE(::access(node.c_str(), F_OK), 0) << "the device is destroyed";
    std::ifstream file(trace);
    std::string stamp;
    std::string direction;
    std::string hex;
    std::vector<std::string> lines;
    while (file >> stamp >> direction >> hex)
        lines.push_back(direction + " " + hex);
    const std::vector<std::string> wanted{
        "> " + Hex(std::string("\0VER", 4) + std::string(61, '\0')),
        "< " + Hex('\0' + expected + std::string(1024 - expected.size(), '\0')),
    };
    EXPECT_EQ(lines, wanted);
}

TEST_F(SimUhidLab, UnplugDestroysTheDeviceAndPlugMakesItAgain)
{
    const std::string script =
        WriteFile("script.txt", "expect VER\nsend OK one\nunplug\nplug\nexpect GSER\nsend OK two\n");
    const std::string first = Place({"--script", script});
    const int old = ::open(first.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(old, 0) << first;
    ASSERT_TRUE(WriteCommand(old, "VER"));
    const auto one = ReadReport(old);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->substr(0, 6), std::string("OK one"));

    EXPECT_TRUE(FSim->WaitForLine("removed quillmark"));
    // A handle on a destroyed hidraw device reports the hang-up.
    pollfd gone{old, POLLIN, 0};
    ASSERT_EQ(::poll(&gone, 1, 10000), 1);
    EXPECT_TRUE(gone.revents & (POLLHUP | POLLERR)) << gone.revents;
    ::close(old);

    const std::string second = NextNode();
    const int fd = ::open(second.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0) << second;
    ASSERT_TRUE(WriteCommand(fd, "GSER"));
    const auto two = ReadReport(fd);
    ::close(fd);
    ASSERT_TRUE(two);
    EXPECT_EQ(two->substr(0, 6), std::string("OK two"));
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
}

TEST_F(SimUhidLab, DescriptorDeviceCarriesTheFilesReportDescriptor)
{
    // A keyboard's descriptor, spelled as a C array with a comment.
    const TBytes keyboard{0x05, 0x01, 0x09, 0x06, 0xa1, 0x01, 0x05, 0x07, 0x19, 0xe0, 0x29, 0xe7, 0x15, 0x00,
                          0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x75, 0x08, 0x95, 0x01, 0x81, 0x03,
                          0x19, 0x00, 0x29, 0xdd, 0x15, 0x00, 0x26, 0xdd, 0x00, 0x75, 0x08, 0x95, 0x06, 0x81,
                          0x00, 0x05, 0x08, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95,
                          0x03, 0x91, 0x02, 0x75, 0x05, 0x95, 0x01, 0x91, 0x03, 0xc0};
    std::ostringstream text;
    text << "# keyboard\n";
    for (const std::uint8_t byte : keyboard)
        text << "0x" << std::hex << static_cast<int>(byte) << ", ";
    const std::string file = WriteFile("keyboard.txt", text.str());
    const std::string node =
        Place({"--descriptor", file, "--vid", "0x046a", "--pid", "0x0011", "--product", "Keyboard"});
    ASSERT_EQ(node.rfind("/dev/", 0), 0u) << node;

    std::ifstream sysfs("/sys/class/hidraw/" + node.substr(5) + "/device/report_descriptor", std::ios::binary);
    const TBytes descriptor{std::istreambuf_iterator<char>(sysfs), std::istreambuf_iterator<char>()};
    EXPECT_EQ(descriptor, keyboard);
    FSim->Signal(SIGTERM);
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
}

} // namespace
} // namespace simtest
