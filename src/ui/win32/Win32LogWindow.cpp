#include "Win32LogWindow.h"

#include "Win32Dpi.h"
#include "Win32Support.h"

#include "app/Main.h"
#include "rtl/Application.h"
#include "rtl/CodePage.h"
#include "rtl/TextEscape.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

namespace win32ui {

namespace {

constexpr const wchar_t* WindowClass = L"TOLVANE.ActivityLog";
constexpr const wchar_t* Caption = L"TOLVANE - Activity log";
constexpr DWORD WindowStyle = WS_OVERLAPPEDWINDOW;
constexpr int DesignClientWidth = 640;
constexpr int DesignClientHeight = 360;
enum : UINT { IdSaveAs = 201 };
constexpr UINT_PTR TextSubclassId = 1;

// One log line as one line of text, as tolvane-cli prints it: what a unit sent can neither
// break it nor forge another.
std::wstring LogText(const rtl::AnsiString& line)
{
    return WideFromUtf8(rtl::LogLineText(line));
}

struct TCloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

TWin32LogWindow::TWin32LogWindow(HINSTANCE instance, const rtl::TMemo& log) : FLog(log)
{
    RegisterWindowClass(instance, WindowClass, WindowProc, GetSysColorBrush(COLOR_WINDOW));

    HMENU menu = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, IdSaveAs, L"&Save as...");
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    // Not owned by the main window: it may lie behind it, and has its own taskbar button.
    FWindow = CreateWindowExW(0, WindowClass, Caption, WindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, menu, instance, this);
    FText = CreateWindowExW(0, L"EDIT", L"",
                            WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE | ES_AUTOHSCROLL
                                | ES_AUTOVSCROLL | ES_READONLY | ES_NOHIDESEL,
                            0, 0, 0, 0, FWindow, nullptr, instance, nullptr);
    SendMessageW(FText, EM_SETLIMITTEXT, 0, 0); // the memo bounds the log by its lines
    SetWindowSubclass(FText, TextProc, TextSubclassId, 0);
    std::wstring text;
    for (std::size_t i = 0; i < FLog.Lines().size(); ++i) {
        if (i > 0)
            text += L"\r\n";
        text += LogText(FLog.Lines()[i]);
    }
    SetWindowTextW(FText, text.c_str());
    const LRESULT end = GetWindowTextLengthW(FText);
    SendMessageW(FText, EM_SETSEL, static_cast<WPARAM>(end), end);

    const UINT dpi = WindowDpi(FWindow);
    ApplyDpi(dpi);
    FitClientArea(FWindow, ScaleToDpi(DesignClientWidth, dpi), ScaleToDpi(DesignClientHeight, dpi));
}

TWin32LogWindow::~TWin32LogWindow()
{
    if (FWindow)
        DestroyWindow(FWindow);
    if (FFont)
        DeleteObject(FFont);
}

void TWin32LogWindow::Open()
{
    ShowWindow(FWindow, IsIconic(FWindow) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(FWindow);
    SetFocus(FText);
    SendMessageW(FText, EM_SCROLLCARET, 0, 0);
}

void TWin32LogWindow::ApplyDpi(UINT dpi)
{
    const std::wstring face = Wide(app::layout::FontName);
    HFONT font =
        CreateFontW(ScaleToDpi(app::layout::FontHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, face.c_str());
    SendMessageW(FText, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    // Set after the font, which resets them: the text would otherwise touch the window's edge.
    const int margin = ScaleToDpi(4, dpi);
    SendMessageW(FText, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(margin, margin));
    if (FFont)
        DeleteObject(FFont);
    FFont = font;
}

void TWin32LogWindow::LineAdded(const rtl::TMemo& log, const rtl::AnsiString& line)
{
    const LRESULT end = GetWindowTextLengthW(FText);
    std::wstring text = log.Lines().size() > 1 ? L"\r\n" : L"";
    text += LogText(line);
    Replace(end, end, text);
}

void TWin32LogWindow::Cleared()
{
    SetWindowTextW(FText, L"");
}

void TWin32LogWindow::FirstLinesRemoved(std::size_t count)
{
    LRESULT end = SendMessageW(FText, EM_LINEINDEX, static_cast<WPARAM>(count), 0);
    if (end < 0) // every line went
        end = GetWindowTextLengthW(FText);
    if (end > 0)
        Replace(0, end, L"");
}

void TWin32LogWindow::Replace(LRESULT start, LRESULT end, const std::wstring& text)
{
    DWORD selStart = 0;
    DWORD selEnd = 0;
    SendMessageW(FText, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
    const LRESULT length = GetWindowTextLengthW(FText);
    const bool following = selStart == selEnd && static_cast<LRESULT>(selEnd) == length;
    const LRESULT topLine = SendMessageW(FText, EM_GETFIRSTVISIBLELINE, 0, 0);
    const LRESULT lineCount = SendMessageW(FText, EM_GETLINECOUNT, 0, 0);

    SendMessageW(FText, EM_SETSEL, static_cast<WPARAM>(start), end);
    SendMessageW(FText, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    if (following) {
        const LRESULT newEnd = GetWindowTextLengthW(FText);
        SendMessageW(FText, EM_SETSEL, static_cast<WPARAM>(newEnd), newEnd);
        SendMessageW(FText, EM_SCROLLCARET, 0, 0);
        return;
    }
    const LRESULT grown = static_cast<LRESULT>(text.size()) - (end - start);
    const auto moved = [&](LRESULT at) { return at >= end ? at + grown : std::min(at, start); };
    SendMessageW(FText, EM_SETSEL, static_cast<WPARAM>(moved(selStart)), moved(selEnd));
    // Lines taken from the top move what the user reads up by as many lines.
    const LRESULT shift = start == 0 ? SendMessageW(FText, EM_GETLINECOUNT, 0, 0) - lineCount : 0;
    const LRESULT wanted = std::max<LRESULT>(0, topLine + shift);
    SendMessageW(FText, EM_LINESCROLL, 0, wanted - SendMessageW(FText, EM_GETFIRSTVISIBLELINE, 0, 0));
}

bool TWin32LogWindow::SaveTo(const std::filesystem::path& file, std::string& error) const
{
    std::unique_ptr<std::FILE, TCloseFile> out(_wfopen(file.c_str(), L"wb"));
    if (!out) {
        error = std::strerror(errno);
        return false;
    }
    std::string text;
    for (const auto& line : FLog.Lines()) {
        text += rtl::LogLineText(line);
        text += '\n';
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out.get()) == text.size();
    const int writeError = errno;
    // A full disk may show only when the buffered rest goes out on closing.
    const bool closed = std::fclose(out.release()) == 0;
    if (written && closed)
        return true;
    error = std::strerror(written ? errno : writeError);
    return false;
}

void TWin32LogWindow::SaveAs()
{
    wchar_t name[MAX_PATH] = L"tolvane-log.txt";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = FWindow;
    dialog.lpstrFilter = L"Text files (*.txt)\0*.txt\0All files\0*.*\0";
    dialog.lpstrFile = name;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = L"txt";
    dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&dialog))
        return;
    std::string error;
    if (SaveTo(name, error))
        return;
    std::wstring message = L"cannot write ";
    message += name;
    message += L": ";
    message += WideFromUtf8(error);
    MessageBoxW(FWindow, message.c_str(), Wide(app::layout::Caption).c_str(), MB_OK | MB_ICONERROR);
}

LRESULT CALLBACK TWin32LogWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = WindowObject<TWin32LogWindow>(window, message, lParam);
    if (!self || !self->FWindow || !self->FText)
        return DefWindowProcW(window, message, wParam, lParam);
    return Guarded([&] { return self->HandleMessage(message, wParam, lParam); });
}

LRESULT CALLBACK TWin32LogWindow::TextProc(HWND text, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    // Not every system's multiline edit control selects all on Ctrl+A.
    const bool control = GetKeyState(VK_CONTROL) < 0;
    if (message == WM_KEYDOWN && wParam == 'A' && control) {
        SendMessageW(text, EM_SETSEL, 0, -1);
        return 0;
    }
    if (message == WM_CHAR && wParam == 1) // the Ctrl+A character, which would only beep
        return 0;
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(text, TextProc, TextSubclassId);
    return DefSubclassProc(text, message, wParam, lParam);
}

LRESULT TWin32LogWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE: MoveWindow(FText, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE); return 0;
    case WM_SETFOCUS: SetFocus(FText); return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IdSaveAs && lParam == 0) {
            SaveAs();
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC:
        // Read-only, but a text to read rather than a label on the button face.
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
        SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_DPICHANGED:
        if (const auto* suggested = reinterpret_cast<const RECT*>(lParam))
            SetWindowPos(FWindow, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (LOWORD(wParam))
            ApplyDpi(LOWORD(wParam));
        return 0;
    case WM_CLOSE:
        // Kept, hidden, so that it goes on following the log and opens again as it was.
        ShowWindow(FWindow, SW_HIDE);
        return 0;
    case WM_DESTROY:
        FWindow = nullptr;
        FText = nullptr;
        return 0;
    }
    return DefWindowProcW(FWindow, message, wParam, lParam);
}

} // namespace win32ui
