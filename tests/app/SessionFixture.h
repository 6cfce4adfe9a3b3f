#pragma once

// A TForm1 in the test's own process, over a private unit directory. Tests either feed it
// responses directly, as the reader thread's hand-over would, or let it run a session with
// a quillmark-sim unit while the test plays the front end: pumping the main-thread queue,
// ticking Timer1 and answering the message boxes.

#include "SimProcess.h"

#include "app/Main.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace apptest {

using namespace testsupport;

// The CP932 bytes of the Japanese log texts.
inline const std::string VersionText = "\x83\x6f\x81\x5b\x83\x57\x83\x87\x83\x93";
inline const std::string FirmwareTypeText = "\x46\x57\x83\x5e\x83\x43\x83\x76";
inline const std::string IgnoredText = "\x8e\xf3\x90\x4d\x83\x66\x81\x5b\x83\x5e\x96\xb3\x8e\x8b";
inline const std::string FileDataText = "\x83\x74\x83\x40\x83\x43\x83\x8b\x83\x66\x81\x5b\x83\x5e\x8e\xe6\x93\xbe";

// A 32-bit field, least significant byte first.
std::string Dword(std::uint32_t value);
// The upload reply as the unit must receive it.
std::string Reply(std::uint32_t code, std::uint32_t status);
// A packet of the upload as a unit sends it: type, a 32-bit field, the rest, then zero bytes
// to the report's 1024.
std::string UploadPacket(const char* type, std::uint32_t first, const std::string& rest);
// Creates an empty file: what a quillmark-sim script's await step waits for.
void Touch(const std::string& path);
// The marker and message of each log line, after checking the "yy/mm/dd hh:mm:ss zzz," stamp.
std::vector<std::string> StripTimeStamps(const std::vector<std::string>& lines);
// "N status" lines apart from the rest: the tick that logs one races with arriving reports.
std::vector<std::string> StateLines(const std::vector<std::string>& messages);
std::vector<std::string> WithoutStateLines(const std::vector<std::string>& messages);
// The reports of one direction ('>' to the unit, '<' from it) in a quillmark-sim trace.
std::vector<std::string> TraceReports(const std::string& path, char direction);
// Trace hex as bytes.
std::string Bytes(const std::string& hex);
// Report ID 0, the text, zero bytes up to `length`, as trace hex.
std::string ReportHex(const std::string& text, std::size_t length = 65);

// Message-box results as Windows numbers them.
constexpr int BoxOk = 1;
constexpr int BoxCancel = 2;

struct TBox {
    std::string Text;
    std::string Caption;
    unsigned Flags;
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // As if a unit were held, so that Step runs the state's action.
    void Begin(std::int32_t state);
    void Feed(const std::string& data);
    void Step();
    // Feed, then one step.
    void Answer(const std::string& data);
    // A session from its start up to the answer to the serial block, the first box included.
    void ReadIdentity(const std::string& version, const std::string& serialBlock);
    // The whole of a file's upload in the unit's packets, answered step by step, its UPLI
    // with the file's size and the stamp "t".
    void Upload(const std::string& file);

    std::vector<std::string> Messages() const;
    std::vector<std::string> MessagesSince(std::size_t first) const;
    // The bytes framed after the report ID by the last command.
    std::string Framed(std::size_t length) const;

    TSimProcess& Place(std::vector<std::string> args);
    std::string WriteFile(const std::string& name, const std::string& contents);
    // Pumps the main-thread queue and ticks Timer1 while it runs, as a front end does.
    bool RunUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);
    bool Logged(const std::string& message) const;

    TScratchUnitDirectory FUnits;
    std::unique_ptr<TSimProcess> FSim;
    std::unique_ptr<app::TForm1> FForm;
    std::vector<TBox> FBoxes;
    // Answers each box; OK unless a test says otherwise.
    std::function<int(const TBox&)> FOnBox;
};

} // namespace apptest
