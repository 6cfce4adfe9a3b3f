// The activity log's window, opened from the main window's Log menu.

#include "app/Main.h"
#include "rtl/CodePage.h"
#include "ui/win32/Win32MainWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

namespace {

std::wstring TextOf(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string FileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The log window's queued messages run as the main loop runs them.
void Pump(HWND window)
{
    MSG message;
    while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

class Win32LogWindowTest : public testing::Test {
protected:
    // One window for every case: under Wine without a window manager each shown window that
    // goes away waits two seconds for a state only a manager sets.
    static void SetUpTestSuite() { FMain = std::make_unique<win32ui::TWin32MainWindow>(GetModuleHandleW(nullptr)); }
    static void TearDownTestSuite()
    {
        FMain.reset();
        // Closing the window ended a message loop that these tests do not run.
        MSG quit;
        PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        std::filesystem::remove_all(Scratch());
    }
    void SetUp() override
    {
        Log().SetMaxLines(app::MaxLogLines);
        Log().Clear();
    }

    static std::filesystem::path Scratch() { return std::filesystem::temp_directory_path() / L"tolvane-log-test"; }
    app::TForm1& Form() { return FMain->Form(); }
    rtl::TMemo& Log() { return *Form().Memo1; }

    // Chooses Log > Activity log... as the menu sends it; the log window's text control.
    HWND OpenFromMenu()
    {
        HMENU log = GetSubMenu(GetMenu(FMain->Handle()), 2);
        wchar_t caption[32] = {};
        GetMenuStringW(log, 0, caption, 32, MF_BYPOSITION);
        EXPECT_STREQ(caption, L"Activity log...");
        SendMessageW(FMain->Handle(), WM_COMMAND, GetMenuItemID(log, 0), 0);
        if (!FMain->LogWindow())
            return nullptr;
        return FindWindowExW(FMain->LogWindow()->Handle(), nullptr, L"Edit", nullptr);
    }

    static inline std::unique_ptr<win32ui::TWin32MainWindow> FMain;
};

TEST_F(Win32LogWindowTest, MenuOpensOneResizableTopLevelWindowThatLeavesTheMainOneEnabled)
{
    ASSERT_TRUE(OpenFromMenu());
    const HWND window = FMain->LogWindow()->Handle();
    EXPECT_NE(window, FMain->Handle());
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow());
    EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
    EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & (WS_CHILD | WS_THICKFRAME | WS_MAXIMIZEBOX),
              WS_THICKFRAME | WS_MAXIMIZEBOX);
    EXPECT_TRUE(IsWindowEnabled(FMain->Handle()));

    // Closed, it opens again as the same window.
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window));
    const HWND text = OpenFromMenu();
    EXPECT_EQ(FMain->LogWindow()->Handle(), window);
    EXPECT_TRUE(IsWindowVisible(window));

    // Its text fills the client area at any size.
    for (const auto& [width, height] : {std::pair{300, 200}, std::pair{700, 450}}) {
        SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
        RECT client;
        RECT filled;
        GetClientRect(window, &client);
        GetWindowRect(text, &filled);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&filled), 2);
        EXPECT_TRUE(EqualRect(&client, &filled)) << width << "x" << height;
    }
}

TEST_F(Win32LogWindowTest, ShowsTheLinesFromBeforeItOpenedAndEachNewOneAsItComes)
{
    Log().Add("before");
    const HWND text = OpenFromMenu();
    ASSERT_TRUE(text);
    EXPECT_EQ(TextOf(text), L"before");

    Form().Log(rtl::Cp932FromUtf8("バージョン 1.0.05"));
    const std::wstring shown = TextOf(text);
    EXPECT_EQ(shown.substr(0, 8), L"before\r\n");
    EXPECT_TRUE(shown.ends_with(L"  バージョン 1.0.05")) << "not a log line";
    EXPECT_EQ(SendMessageW(text, EM_GETLINECOUNT, 0, 0), 2);
}

TEST_F(Win32LogWindowTest, FollowsClearsAndTheRemovalOfTheOldestLines)
{
    const HWND text = OpenFromMenu();
    ASSERT_TRUE(text);
    Log().Add("gone");
    Log().Clear();
    EXPECT_EQ(TextOf(text), L"");
    Log().SetMaxLines(3);
    for (const char* line : {"a", "b", "c", "d", "e"})
        Log().Add(line);
    EXPECT_EQ(TextOf(text), L"c\r\nd\r\ne");
}

TEST_F(Win32LogWindowTest, KeepsTheUsersSelectionWhileLinesComeAndGo)
{
    for (const char* line : {"a1", "b2", "c3"})
        Log().Add(line);
    const HWND text = OpenFromMenu();
    ASSERT_TRUE(text);
    SendMessageW(text, EM_SETSEL, 4, 6);
    const auto selected = [text] {
        DWORD start = 0;
        DWORD end = 0;
        SendMessageW(text, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        return TextOf(text).substr(start, end - start);
    };
    Log().Add("d4");
    EXPECT_EQ(selected(), L"b2");
    Log().SetMaxLines(4);
    Log().Add("e5");
    EXPECT_EQ(TextOf(text), L"b2\r\nc3\r\nd4\r\ne5");
    EXPECT_EQ(selected(), L"b2");
}

TEST_F(Win32LogWindowTest, ShowsJapaneseInAFixedPitchShiftJisFont)
{
    const HWND text = OpenFromMenu();
    ASSERT_TRUE(text);
    const HDC dc = GetDC(text);
    const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(text, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    EXPECT_EQ(metrics.tmCharSet, SHIFTJIS_CHARSET);
    SIZE narrow{};
    SIZE wide{};
    GetTextExtentPoint32W(dc, L"iiii", 4, &narrow);
    GetTextExtentPoint32W(dc, L"WWWW", 4, &wide);
    EXPECT_EQ(narrow.cx, wide.cx);
    WORD glyphs[5] = {};
    ASSERT_EQ(GetGlyphIndicesW(dc, L"バージョン", 5, glyphs, GGI_MARK_NONEXISTING_GLYPHS), 5u);
    for (const WORD glyph : glyphs)
        EXPECT_NE(glyph, 0xFFFF);
    SelectObject(dc, previous);
    ReleaseDC(text, dc);
}

TEST_F(Win32LogWindowTest, CtrlASelectsEveryLineAndCtrlCCopiesThem)
{
    for (const char* line : {"first", "second"})
        Log().Add(line);
    const HWND text = OpenFromMenu();
    ASSERT_TRUE(text);
    const HWND window = FMain->LogWindow()->Handle();
    SetFocus(text);
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    BYTE pressed[256];
    std::copy(std::begin(keys), std::end(keys), pressed);
    pressed[VK_CONTROL] = pressed[VK_LCONTROL] = 0x80;
    SetKeyboardState(pressed);
    const auto press = [&](char key) {
        PostMessageW(text, WM_KEYDOWN, static_cast<WPARAM>(key), 1);
        PostMessageW(text, WM_KEYUP, static_cast<WPARAM>(key), static_cast<LPARAM>(0xC0000001));
        Pump(window);
    };
    press('A');
    DWORD start = 1;
    DWORD end = 0;
    SendMessageW(text, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, TextOf(text).size());

    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
    press('C');
    SetKeyboardState(keys);
    ASSERT_TRUE(OpenClipboard(nullptr));
    std::wstring copied;
    if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        copied = static_cast<const wchar_t*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    EXPECT_EQ(copied, L"first\r\nsecond");
}

TEST_F(Win32LogWindowTest, SaveToAndTheAppendedLogHoldTheSameUtf8Lines)
{
    const std::filesystem::path dir = Scratch();
    std::filesystem::create_directories(dir);
    const std::filesystem::path appended = dir / L"ログ-appended.txt";
    const std::filesystem::path saved = dir / L"ログ-saved.txt";
    std::filesystem::remove(appended);
    std::string error;
    ASSERT_TRUE(FMain->AppendLogTo(appended, error)) << error;
    ASSERT_TRUE(OpenFromMenu());

    for (const char* line : {"first", "バージョン 1.0.05", "", "last"})
        Log().Add(rtl::Cp932FromUtf8(line));
    ASSERT_TRUE(FMain->LogWindow()->SaveTo(saved, error)) << error;
    const std::string expected = "first\nバージョン 1.0.05\n\nlast\n";
    EXPECT_EQ(FileBytes(saved), expected);
    EXPECT_EQ(FileBytes(appended), expected);

    EXPECT_FALSE(FMain->LogWindow()->SaveTo(dir / L"missing" / L"log.txt", error));
    EXPECT_FALSE(error.empty());
}

} // namespace
