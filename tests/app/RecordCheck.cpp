#include "RecordCheck.h"

#include "CliProcess.h"
#include "SessionFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace apptest {

namespace {

// A report's bytes after its ID.
std::string Payload(const std::string& hex)
{
    return Bytes(hex).substr(1);
}

// A report's bytes after its ID, up to the first zero byte.
std::string ReportText(const std::string& hex)
{
    const std::string payload = Payload(hex);
    return payload.substr(0, payload.find('\0'));
}

// An answer as the unit gave it: up to its line end, each "OK " gone.
std::string Answer(const std::string& hex)
{
    std::string text = ReportText(hex);
    text = text.substr(0, text.find("\r\n"));
    for (std::size_t at; (at = text.find("OK ")) != std::string::npos;)
        text.erase(at, 3);
    return text;
}

std::string Column(const std::string& text, std::size_t first, std::size_t last)
{
    if (first - 1 >= text.size())
        return {};
    std::string column = text.substr(first - 1, last - first + 1);
    column.erase(0, column.find_first_not_of(' '));
    column.erase(column.find_last_not_of(' ') + 1);
    return column;
}

const std::string* Find(const std::vector<std::string>& reports, const std::string& start)
{
    for (const std::string& report : reports)
        if (ReportText(report).rfind(start, 0) == 0)
            return &report;
    return nullptr;
}

} // namespace

std::vector<nlohmann::json> ReadRecord(const std::string& path, std::size_t skip)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    const std::string checked = path + ".checked";
    {
        std::ofstream out(checked, std::ios::binary);
        for (std::size_t i = skip; i < lines.size(); ++i)
            out << lines[i] << '\n';
    }
    testsupport::TChildProcess check("/usr/bin/env",
                                     {"python3", TOLVANE_SOURCE_DIR "/tests/tools/check-record.py",
                                      TOLVANE_SOURCE_DIR "/docs/record.schema.json", checked});
    EXPECT_EQ(check.WaitForExit(30s), 0) << check.Stdout() << check.Stderr();
    std::vector<nlohmann::json> records;
    for (std::size_t i = skip; i < lines.size(); ++i)
        records.push_back(nlohmann::json::parse(lines[i], nullptr, false));
    return records;
}

void ExpectRecordTrueToTrace(const nlohmann::json& record, const std::string& trace)
{
    const auto in = TraceReports(trace, '<');
    const auto out = TraceReports(trace, '>');
    SCOPED_TRACE(record.dump());

    // The first two answers are the version's and the serial block's.
    if (!record["firmware"].is_null()) {
        ASSERT_FALSE(in.empty());
        EXPECT_EQ(record["firmware"], Answer(in[0]));
    }
    if (!record["serialBlock"].is_null()) {
        ASSERT_GE(in.size(), 2u);
        const std::string block = Answer(in[1]);
        EXPECT_EQ(record["serialBlock"]["pcb"], Column(block, 1, 12));
        EXPECT_EQ(record["serialBlock"]["bat"], Column(block, 14, 25));
        EXPECT_EQ(record["serialBlock"]["ser"], Column(block, 27, 38));
    }

    const std::string* start = Find(in, "UPLS");
    EXPECT_EQ(record["file"].is_null(), start == nullptr);
    if (start && !record["file"].is_null()) {
        const std::string packet = Payload(*start);
        const auto size = static_cast<std::uint32_t>(static_cast<unsigned char>(packet[4]))
            | static_cast<std::uint32_t>(static_cast<unsigned char>(packet[5])) << 8
            | static_cast<std::uint32_t>(static_cast<unsigned char>(packet[6])) << 16
            | static_cast<std::uint32_t>(static_cast<unsigned char>(packet[7])) << 24;
        EXPECT_EQ(record["file"]["size"], static_cast<std::int32_t>(size));
        EXPECT_EQ(record["file"]["name"], packet.substr(12, packet.find('\0', 12) - 12));
        if (const std::string* verify = Find(in, "UPLI")) {
            const std::string info = Payload(*verify);
            EXPECT_EQ(record["file"]["timeStamp"], info.substr(8, info.find('\0', 8) - 8));
        }
    }

    const std::string* sser = Find(out, "SSER ");
    EXPECT_EQ(record["written"].is_null(), sser == nullptr);
    if (sser && !record["written"].is_null()) {
        const auto& written = record["written"];
        EXPECT_EQ("SSER " + written["pcb"].get<std::string>() + " " + written["bat"].get<std::string>() + " "
                      + written["ser"].get<std::string>(),
                  ReportText(*sser));
    }
}

} // namespace apptest
