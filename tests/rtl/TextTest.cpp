// The 8-bit text helpers, formatting, the log time stamp and code page 932.

#include "rtl/AnsiString.h"
#include "rtl/CodePage.h"
#include "rtl/TimeStamp.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>

namespace {

using rtl::AnsiString;

TEST(Text, ReplaceAllScansLeftToRightWithoutRescanning)
{
    const struct {
        AnsiString Text, From, To, Result;
    } cases[] = {
        {"OK 1.0OK 5", "OK ", "", "1.05"}, {"OOK K", "OK ", "", "OK"},
        {"OK OK x", "OK ", "", "x"},       {"OOK  K", "OK ", "", "O K"},
        {"ser ser x", "ser ", "", "x"},    {"aaa", "aa", "a", "aa"},
        {"abc", "", "x", "abc"},           {AnsiString("a\0b\0", 4), AnsiString("\0", 1), "-", "a-b-"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rtl::StringReplaceAll(c.Text, c.From, c.To), c.Result) << c.Text;
}

TEST(Text, TrimRemovesBytesUpTo32AndNothingElse)
{
    const AnsiString padded("\0 \t\r\n x y \x1f\0", 12);
    EXPECT_EQ(rtl::Trim(padded), "x y");
    EXPECT_EQ(rtl::TrimRight(padded), AnsiString("\0 \t\r\n x y", 9));
    EXPECT_EQ(rtl::Trim(" \x80\x21 "), "\x80\x21");
    EXPECT_EQ(rtl::Trim("  \r\n"), "");
    EXPECT_EQ(rtl::TrimRight(""), "");
}

TEST(Text, FormatHasNoLengthLimit)
{
    EXPECT_EQ(rtl::Format("%d status", 99), "99 status");
    EXPECT_EQ(rtl::Format("%s (%X)", "Access is denied", 5u), "Access is denied (5)");
    EXPECT_EQ(rtl::Format("%.2X,", 0xABu), "AB,");
    EXPECT_EQ(rtl::Format("fileSize:%d", -2147483647 - 1), "fileSize:-2147483648");
    const AnsiString longText(5000, 'x');
    EXPECT_EQ(rtl::Format("<%s>", longText.c_str()), "<" + longText + ">");
    EXPECT_EQ(rtl::Format("%s", ""), "");
}

TEST(Text, LowerCaseTouchesOnlyAToZAndHex4ShowsFourDigitsOfTheLow16Bits)
{
    EXPECT_EQ(rtl::LowerCase("Tolvane@[Notify]_Z"), "tolvane@[notify]_z");
    EXPECT_EQ(rtl::LowerCase("\xC0\xDA\xDE"), "\xC0\xDA\xDE");
    EXPECT_EQ(rtl::Hex4(0x1D50), "1d50");
    EXPECT_EQ(rtl::Hex4(0x7), "0007");
    EXPECT_EQ(rtl::Hex4(0x12345), "2345");
}

TEST(Text, TimeStampIsTwoDigitDateTimeAndMilliseconds)
{
    std::tm local{};
    local.tm_year = 124;
    local.tm_mon = 1;
    local.tm_mday = 29;
    local.tm_hour = 13;
    local.tm_min = 5;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    const auto when = std::chrono::system_clock::from_time_t(std::mktime(&local)) + std::chrono::milliseconds(7);
    EXPECT_EQ(rtl::FormatTimeStamp(when), "24/02/29 13:05:09 007,");
    EXPECT_TRUE(std::regex_match(rtl::FormatTimeStamp(), std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d \d\d\d,)")));
}

TEST(CodePage, JapaneseLogTextsRoundTripBetweenCp932AndUtf8)
{
    const std::pair<AnsiString, std::string> texts[] = {
        {"\x83\x6f\x81\x5b\x83\x57\x83\x87\x83\x93", "バージョン"},
        {"\x46\x57\x83\x5e\x83\x43\x83\x76", "FWタイプ"},
        {"\x8e\xf3\x90\x4d\x83\x66\x81\x5b\x83\x5e\x96\xb3\x8e\x8b", "受信データ無視"},
        {"\x83\x74\x83\x40\x83\x43\x83\x8b\x83\x66\x81\x5b\x83\x5e\x8e\xe6\x93\xbe", "ファイルデータ取得"},
        {"Connect device : Quillmark", "Connect device : Quillmark"},
    };
    for (const auto& [cp932, utf8] : texts) {
        EXPECT_EQ(rtl::Utf8FromCp932(cp932), utf8);
        EXPECT_EQ(rtl::Cp932FromUtf8(utf8), cp932) << utf8;
        EXPECT_EQ(rtl::Cp932FromUtf16(rtl::Utf16FromCp932(cp932)), cp932) << utf8;
    }
}

TEST(CodePage, BytesThatDoNotConvertAreNeverDropped)
{
    // Each stray byte still stands for one character: the text around it keeps its place.
    for (const AnsiString& text : {AnsiString("A\xff"
                                              "B"),
                                   AnsiString("A\x80"
                                              "B"),
                                   AnsiString("A\x83")}) {
        const std::u16string wide = rtl::Utf16FromCp932(text);
        ASSERT_GE(wide.size(), 2u) << text;
        EXPECT_EQ(wide[0], u'A');
        EXPECT_NE(wide[1], u'B');
    }
#ifndef _WIN32
    // Elsewhere they become U+FFFD; Windows maps them its own way (U+F8F3, U+0080, U+30FB).
    EXPECT_EQ(rtl::Utf8FromCp932("A\xff"
                                 "B"),
              "A\xef\xbf\xbd"
              "B");
    EXPECT_EQ(rtl::Utf8FromCp932("\x80"), "\xef\xbf\xbd");
    // A lead byte at the end has no second byte.
    EXPECT_EQ(rtl::Utf8FromCp932("x\x83"), "x\xef\xbf\xbd");
#endif
    EXPECT_EQ(rtl::Cp932FromUtf8("a\xe2\x82\xac"
                                 "b"),
              "a?b");
}

} // namespace
