#include "SimFixture.h"

#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <unistd.h>

namespace simtest {

void SimFixture::SetUp()
{
    char pattern[] = "/tmp/quillmark-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    FDir = pattern;
}

void SimFixture::TearDown()
{
    FSim.reset();
    for (const std::string& entry : DirectoryEntries())
        ::unlink((FDir + "/" + entry).c_str());
    ::rmdir(FDir.c_str());
}

TSimProcess& SimFixture::Launch(const std::vector<std::string>& args)
{
    std::vector<std::string> all{"--dir", FDir};
    all.insert(all.end(), args.begin(), args.end());
    FSim.reset(); // a table-driven test places one unit after the other under the same name
    FSim = std::make_unique<TSimProcess>(all);
    return *FSim;
}

std::string SimFixture::Place(const std::vector<std::string>& args)
{
    Launch(args);
    const auto line = FSim->WaitForLine("placed ");
    EXPECT_TRUE(line) << "no placed line; stderr: " << FSim->Stderr();
    if (!line)
        return {};
    const std::size_t space = line->find(' ', 7);
    return space == std::string::npos ? std::string() : line->substr(space + 1);
}

std::unique_ptr<TTestClient> SimFixture::OpenClient(const std::string& path, const std::string& access)
{
    auto client = std::make_unique<TTestClient>();
    EXPECT_TRUE(client->Connect(path)) << path;
    EXPECT_TRUE(client->Open(access));
    return client;
}

std::string SimFixture::WriteFile(const std::string& name, const std::string& contents)
{
    const std::string path = FDir + "/" + name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

std::vector<std::string> SimFixture::DirectoryEntries() const
{
    std::vector<std::string> entries;
    if (DIR* dir = ::opendir(FDir.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                entries.push_back(name);
        }
        ::closedir(dir);
    }
    return entries;
}

std::uint32_t DwordOf(const TBytes& bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(bytes.at(offset)) | static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8
        | static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16
        | static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24;
}

namespace {

std::string TextFrom(const TBytes& report, std::size_t offset, std::size_t limit)
{
    std::string text;
    for (std::size_t i = offset; i < report.size() && text.size() < limit && report[i] != 0; ++i)
        text += static_cast<char>(report[i]);
    return text;
}

} // namespace

std::optional<TReceivedUpload> ReceiveUpload(TTestClient& client, std::string& problem)
{
    TReceivedUpload upload;
    bool started = false;
    for (;;) {
        const auto report = client.Receive();
        if (!report || report->size() < 9) {
            problem = "no packet arrived";
            return std::nullopt;
        }
        // Packet offsets count from the byte after the report ID.
        const std::string type(report->begin() + 1, report->begin() + 5);
        const std::uint32_t first = DwordOf(*report, 5);
        if (type == "UPLS" && !started) {
            started = true;
            upload.StartSize = first;
            upload.TimeStamp = DwordOf(*report, 9);
            upload.Name = TextFrom(*report, 13, 64);
            client.SendReply(0x1001, 0);
        } else if (type == "UPLD" && started && report->size() >= 1025) {
            upload.DataNumbers.push_back(first);
            upload.File.insert(upload.File.end(), report->begin() + 9, report->begin() + 1025);
            client.SendReply(0x1002, 0);
        } else if (type == "UPLE" && started && first <= 1016) {
            upload.EndCount = first;
            upload.File.insert(upload.File.end(), report->begin() + 9, report->begin() + 9 + first);
            client.SendReply(0x1003, 0);
        } else if (type == "UPLI" && started) {
            upload.InfoSize = first;
            upload.Stamp = TextFrom(*report, 9, 64);
            return upload;
        } else {
            problem = "unexpected packet " + type;
            return std::nullopt;
        }
    }
}

} // namespace simtest
