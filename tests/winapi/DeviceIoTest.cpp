// Opening, writing and reading virtual units through CreateFileA, WriteFile, ReadFileEx
// and SleepEx, against a real quillmark-sim.

#include "SimProcess.h"
#include "Win32TestSupport.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

using namespace testsupport;

namespace {

class DeviceIo : public ::testing::Test {
protected:
    void Place(std::vector<std::string> args = {})
    {
        FSim = std::make_unique<TSimProcess>(FUnits.Path(), std::move(args));
    }
    std::string UnitPath() const { return FUnits.SocketPath("quillmark"); }

    TScratchUnitDirectory FUnits;
    std::unique_ptr<TSimProcess> FSim;
};

TEST_F(DeviceIo, VersionCommandIsAnsweredAndReadWithReadFileEx)
{
    Place({"--version", "2.3.17"});
    HANDLE reader = OpenUnit(UnitPath(), GENERIC_READ, FILE_FLAG_OVERLAPPED);
    HANDLE writer = OpenUnit(UnitPath(), GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);

    const auto report = OutputReport("VER");
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, report.data(), 65, &written, nullptr)) << GetLastError();
    EXPECT_EQ(written, 65u);

    const TReadResult read = ReadReport(reader);
    ASSERT_TRUE(read.Completed);
    EXPECT_EQ(read.Error, ERROR_SUCCESS);
    EXPECT_EQ(read.Bytes, 1025u);
    EXPECT_EQ(read.Report[0], 0);
    EXPECT_EQ(ReportText(read.Report), "OK 2.3.17\r\n");
    // Zero fill to the input report length.
    EXPECT_EQ(std::count(read.Report.begin() + 12, read.Report.end(), 0), 1025 - 12);

    EXPECT_TRUE(read.OverlappedResult);
    EXPECT_EQ(read.OverlappedBytes, 1025u);

    EXPECT_TRUE(CloseHandle(writer));
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_FALSE(CloseHandle(reader));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(DeviceIo, WritesOfAnyOtherLengthThanTheOutputReportFailWithInvalidParameter)
{
    Place({"--out-length", "33"});
    HANDLE writer = OpenUnit(UnitPath(), GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    const auto report = OutputReport("VER", 65);
    for (DWORD length : {0u, 1u, 32u, 34u, 65u}) {
        DWORD written = 99;
        EXPECT_FALSE(WriteFile(writer, report.data(), length, &written, nullptr)) << length;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << length;
        EXPECT_EQ(written, 0u);
    }
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(writer, report.data(), 33, &written, nullptr));
    CloseHandle(writer);
}

TEST_F(DeviceIo, SleepExTimesOutWithZeroAndCancelIoDropsThePendingRead)
{
    Place();
    HANDLE reader = OpenUnit(UnitPath(), GENERIC_READ, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);

    std::vector<BYTE> buffer(1025, 0xEE);
    OVERLAPPED overlapped{};
    static int completions;
    completions = 0;
    auto count = [](DWORD, DWORD, LPOVERLAPPED) { ++completions; };
    ASSERT_TRUE(ReadFileEx(reader, buffer.data(), 1025, &overlapped, count));
    EXPECT_EQ(SleepEx(30, TRUE), 0u);
    DWORD bytes = 7;
    EXPECT_FALSE(GetOverlappedResult(reader, &overlapped, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

    EXPECT_TRUE(CancelIo(reader));
    EXPECT_FALSE(GetOverlappedResult(reader, &overlapped, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

    // A report arriving after the cancel is not delivered into the old buffer.
    HANDLE writer = OpenUnit(UnitPath(), GENERIC_READ | GENERIC_WRITE);
    const auto report = OutputReport("VER");
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, report.data(), 65, &written, nullptr));
    EXPECT_EQ(SleepEx(200, TRUE), 0u);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(buffer[1], 0xEE);

    // The report waits in the handle's queue for the next read.
    const TReadResult next = ReadReport(reader);
    ASSERT_TRUE(next.Completed);
    EXPECT_EQ(ReportText(next.Report).substr(0, 3), "OK ");
    CloseHandle(writer);
    CloseHandle(reader);
}

TEST_F(DeviceIo, CancelIoExFromAnotherThreadEndsThePendingReadOnceAndLaterReadsComplete)
{
    Place();
    HANDLE reader = OpenUnit(UnitPath(), GENERIC_READ, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CancelIoEx(reader, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);

    std::promise<void> started;
    DWORD sleepResult = 0;
    static DWORD completionError;
    completionError = 0;
    std::thread waiter([&] {
        std::vector<BYTE> buffer(1025);
        OVERLAPPED overlapped{};
        ReadFileEx(reader, buffer.data(), 1025, &overlapped, [](DWORD e, DWORD, LPOVERLAPPED) { completionError = e; });
        started.set_value();
        // Only the cancel can end this wait before the test's own time-out.
        sleepResult = SleepEx(30000, TRUE);
    });
    started.get_future().wait();
    EXPECT_TRUE(CancelIoEx(reader, nullptr));
    waiter.join();
    EXPECT_EQ(sleepResult, WAIT_IO_COMPLETION);
    EXPECT_EQ(completionError, ERROR_OPERATION_ABORTED);

    // The cancel is spent on that read: the next one gets the unit's answer.
    HANDLE writer = OpenUnit(UnitPath(), GENERIC_READ | GENERIC_WRITE);
    const auto report = OutputReport("VER");
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, report.data(), 65, &written, nullptr));
    const TReadResult next = ReadReport(reader);
    ASSERT_TRUE(next.Completed);
    EXPECT_EQ(ReportText(next.Report).substr(0, 3), "OK ");
    CloseHandle(writer);
    CloseHandle(reader);
}

TEST_F(DeviceIo, ClosingAHandleAbortsTheReadPendingOnIt)
{
    Place();
    HANDLE reader = OpenUnit(UnitPath(), GENERIC_READ, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    std::vector<BYTE> buffer(1025);
    OVERLAPPED overlapped{};
    static DWORD error;
    error = 0;
    ASSERT_TRUE(
        ReadFileEx(reader, buffer.data(), 1025, &overlapped, [](DWORD code, DWORD, LPOVERLAPPED) { error = code; }));
    ASSERT_TRUE(CloseHandle(reader));
    EXPECT_EQ(SleepEx(1000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
}

TEST_F(DeviceIo, UnitTakenOutEndsThePendingReadAndFailsTheNextWriteAsNotConnected)
{
    Place();
    HANDLE reader = OpenUnit(UnitPath(), GENERIC_READ, FILE_FLAG_OVERLAPPED);
    HANDLE writer = OpenUnit(UnitPath(), GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);

    std::vector<BYTE> buffer(1025);
    OVERLAPPED overlapped{};
    static DWORD error, bytes;
    error = bytes = 12345;
    ASSERT_TRUE(ReadFileEx(reader, buffer.data(), 1025, &overlapped, [](DWORD code, DWORD count, LPOVERLAPPED) {
        error = code;
        bytes = count;
    }));
    EXPECT_EQ(FSim->Stop(), 0);
    EXPECT_EQ(SleepEx(5000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(bytes, 0u);

    const auto report = OutputReport("VER");
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(writer, report.data(), 65, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(ReadFileEx(reader, buffer.data(), 1025, &overlapped, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);

    // And the message the tool will log for it.
    char text[256];
    ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             ERROR_DEVICE_NOT_CONNECTED, 0, text, sizeof text, nullptr),
              0u);
    EXPECT_STREQ(text, "The device is not connected.\r\n");

    // Nor can the unit be opened again.
    EXPECT_EQ(OpenUnit(UnitPath(), 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    CloseHandle(reader);
    CloseHandle(writer);
}

TEST_F(DeviceIo, QueryOnlyUnitOpensWithAccessZeroOnly)
{
    Place({"--access", "query-only"});
    for (DWORD access : {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE}) {
        EXPECT_EQ(OpenUnit(UnitPath(), access), INVALID_HANDLE_VALUE) << access;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    HANDLE query = OpenUnit(UnitPath(), 0);
    ASSERT_NE(query, INVALID_HANDLE_VALUE);

    HIDD_ATTRIBUTES attributes{};
    EXPECT_TRUE(TEST_ENTRY("HID.dll", HidD_GetAttributes)(query, &attributes));
    EXPECT_EQ(attributes.VendorID, 0x1209);

    const auto report = OutputReport("VER");
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(query, report.data(), 65, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    std::vector<BYTE> buffer(1025);
    OVERLAPPED overlapped{};
    EXPECT_FALSE(ReadFileEx(query, buffer.data(), 1025, &overlapped, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(query);
}

TEST_F(DeviceIo, OpeningAPathWithNoUnitFailsWithFileNotFound)
{
    EXPECT_EQ(OpenUnit(UnitPath(), GENERIC_READ | GENERIC_WRITE), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

} // namespace
