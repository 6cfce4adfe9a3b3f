#include "Win32MainWindow.h"

#include "Win32Dpi.h"
#include "Win32Support.h"

#include "rtl/Application.h"
#include "rtl/CodePage.h"
#include "rtl/MainThreadQueue.h"

#include <algorithm>
#include <string>
#include <utility>

namespace win32ui {

namespace {

constexpr const wchar_t* WindowClass = L"TForm1";
constexpr UINT WM_RUN_QUEUE = WM_APP + 1;
constexpr UINT_PTR StepTimerId = 1;
enum : UINT { IdExit1 = 101, IdVersion1 = 102, IdSpeedButton1 = 103, IdActivityLog1 = 104 };
constexpr DWORD WindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

TWin32MainWindow* gMainWindow = nullptr;

std::wstring LinesText(const rtl::TMemo& memo)
{
    std::wstring text;
    for (const auto& line : memo.Lines()) {
        if (!text.empty())
            text += L"\r\n";
        text += Wide(line);
    }
    return text;
}

HWND CreateControl(DWORD exStyle, const wchar_t* kind, DWORD style, const rtl::TBounds& bounds, HWND parent, UINT id,
                   HINSTANCE instance)
{
    return CreateWindowExW(exStyle, kind, L"", WS_CHILD | WS_VISIBLE | style, bounds.Left, bounds.Top, bounds.Width,
                           bounds.Height, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), instance,
                           nullptr);
}

} // namespace

TWin32MainWindow::TWin32MainWindow(HINSTANCE instance) : FInstance(instance)
{
    gMainWindow = this;
    FButtonFace = GetSysColorBrush(COLOR_BTNFACE);

    RegisterWindowClass(instance, WindowClass, WindowProc, FButtonFace);

    // The client area of the description, under the menu bar, centred on the screen; laid out
    // again below for the window's dpi.
    RECT frame{0, 0, app::layout::ClientWidth, app::layout::ClientHeight};
    AdjustWindowRectEx(&frame, WindowStyle, TRUE, WS_EX_COMPOSITED);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    FMenu = CreateMainMenu();
    FWindow = CreateWindowExW(WS_EX_COMPOSITED, WindowClass, Wide(app::layout::Caption).c_str(), WindowStyle, left, top,
                              width, height, nullptr, FMenu, instance, this);
    CreateControls(instance);
    ApplyDpi(WindowDpi(FWindow));
    GetWindowRect(FWindow, &frame);
    SetWindowPos(FWindow, nullptr, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    Form().ActivityLog1->SetOnClick(rtl::TNotifyEvent::Of<&TWin32MainWindow::ActivityLog1Click>(this));
    AttachControls();

    auto& queue = rtl::TMainThreadQueue::Instance();
    queue.SetMainThread();
    queue.SetWakeHandler([window = FWindow] { PostMessageW(window, WM_RUN_QUEUE, 0, 0); });
    PostMessageW(FWindow, WM_RUN_QUEUE, 0, 0);
    rtl::Application->SetMessageBoxHook([this](const rtl::AnsiString& text, const rtl::AnsiString& caption,
                                               unsigned flags) { return ShowMessageBox(text, caption, flags); });
    rtl::Application->SetTerminateHook([this] { PostMessageW(FWindow, WM_CLOSE, 0, 0); });
    rtl::Application->SetExceptionHook([this](const rtl::AnsiString& message) {
        // The box is modal and the timer goes on ticking under it: one box at a time.
        static bool showing = false;
        if (showing)
            return;
        showing = true;
        MessageBoxW(FWindow, Wide(message).c_str(), Wide(app::layout::Caption).c_str(), MB_OK | MB_ICONERROR);
        showing = false;
    });
}

TWin32MainWindow::~TWin32MainWindow()
{
    rtl::Application->SetMessageBoxHook(nullptr);
    rtl::Application->SetTerminateHook(nullptr);
    rtl::Application->SetExceptionHook(nullptr);
    rtl::TMainThreadQueue::Instance().SetWakeHandler(nullptr);
    if (FWindow)
        DestroyWindow(FWindow);
    if (FFont)
        DeleteObject(FFont);
    gMainWindow = nullptr;
}

HMENU TWin32MainWindow::CreateMainMenu()
{
    HMENU menu = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, IdExit1, Wide(Form().Exit1->Caption()).c_str());
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(file), Wide(Form().File1->Caption()).c_str());
    HMENU info = CreatePopupMenu();
    AppendMenuW(info, MF_STRING, IdVersion1, Wide(Form().Version1->Caption()).c_str());
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(info), Wide(Form().Info1->Caption()).c_str());
    HMENU log = CreatePopupMenu();
    AppendMenuW(log, MF_STRING, IdActivityLog1, Wide(Form().ActivityLog1->Caption()).c_str());
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(log), Wide(Form().Log1->Caption()).c_str());
    return menu;
}

void TWin32MainWindow::CreateControls(HINSTANCE instance)
{
    // Creation order as described; Memo1 and the Close button lie outside the client area and
    // the window has no scroll bars, so they are never seen.
    FSpeedButton1 =
        CreateControl(0, L"BUTTON", BS_PUSHBUTTON, app::layout::SpeedButton1, FWindow, IdSpeedButton1, instance);
    SetWindowTextW(FSpeedButton1, Wide(Form().SpeedButton1->Caption()).c_str());
    FLabel1 = CreateControl(0, L"STATIC", SS_LEFT, app::layout::Label1, FWindow, 0, instance);
    SetWindowTextW(FLabel1, Wide(Form().Label1->Caption()).c_str());
    FMemo1 = CreateControl(WS_EX_CLIENTEDGE, L"EDIT",
                           WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE | ES_AUTOHSCROLL | ES_AUTOVSCROLL
                               | ES_WANTRETURN,
                           app::layout::Memo1, FWindow, 0, instance);
    SendMessageW(FMemo1, EM_SETLIMITTEXT, 0, 0); // the model bounds the log by its lines
    FMemo2 =
        CreateControl(0, L"EDIT", WS_TABSTOP | ES_MULTILINE | ES_READONLY, app::layout::Memo2, FWindow, 0, instance);
    SetWindowTextW(FMemo2, LinesText(*Form().Memo2).c_str());
}

void TWin32MainWindow::ApplyDpi(UINT dpi)
{
    const std::wstring face = Wide(app::layout::FontName);
    HFONT font =
        CreateFontW(ScaleToDpi(app::layout::FontHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, face.c_str());
    const std::pair<HWND, rtl::TBounds> controls[] = {{FSpeedButton1, app::layout::SpeedButton1},
                                                      {FLabel1, app::layout::Label1},
                                                      {FMemo1, app::layout::Memo1},
                                                      {FMemo2, app::layout::Memo2}};
    for (const auto& [control, bounds] : controls) {
        const rtl::TBounds scaled = ScaleToDpi(bounds, dpi);
        SetWindowPos(control, nullptr, scaled.Left, scaled.Top, scaled.Width, scaled.Height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    if (FFont)
        DeleteObject(FFont);
    FFont = font;

    FitClientArea(FWindow, ScaleToDpi(app::layout::ClientWidth, dpi), ScaleToDpi(app::layout::ClientHeight, dpi));
}

void TWin32MainWindow::Show(int showCommand)
{
    ShowWindow(FWindow, showCommand);
    UpdateWindow(FWindow);
}

int TWin32MainWindow::Run()
{
    // Every waiting message first, then the step if it is due, as the system would hand out
    // a WM_TIMER; then a wait for a message or the step timer. Modal loops (a message box, a
    // menu, moving the window) dispatch only messages; there the WM_TIMER of SetTimer keeps
    // the steps going at the system's coarser pace.
    const HANDLE stepTimer = FStepTimer.Handle();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return static_cast<int>(message.wParam);
            if (!IsDialogMessageW(FWindow, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        if (FWindow)
            StepIfDue();
        MsgWaitForMultipleObjectsEx(stepTimer ? 1 : 0, &stepTimer, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

LRESULT CALLBACK TWin32MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = WindowObject<TWin32MainWindow>(window, message, lParam);
    if (!self || !self->FWindow)
        return DefWindowProcW(window, message, wParam, lParam);
    return Guarded([&] { return self->HandleMessage(message, wParam, lParam); });
}

LRESULT TWin32MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_RUN_QUEUE: rtl::TMainThreadQueue::Instance().ProcessPending(); return 0;
    case WM_TIMER:
        if (wParam == StepTimerId)
            StepIfDue();
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IdExit1: Form().Exit1->Click(); return 0;
        case IdVersion1: Form().Version1->Click(); return 0;
        case IdActivityLog1: Form().ActivityLog1->Click(); return 0;
        case IdSpeedButton1:
            if (HIWORD(wParam) == BN_CLICKED)
                Form().SpeedButton1->Click();
            return 0;
        }
        break;
    case WM_DPICHANGED:
        // Moved to a screen of another scale: the suggested place keeps the window on that screen.
        if (const auto* suggested = reinterpret_cast<const RECT*>(lParam))
            SetWindowPos(FWindow, nullptr, suggested->left, suggested->top, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        if (LOWORD(wParam))
            ApplyDpi(LOWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC:
        // The label and the read-only identity display sit on the button face.
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(FButtonFace);
    case WM_DESTROY:
        KillTimer(FWindow, StepTimerId);
        FStepTimer.Stop();
        FWindow = nullptr;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(FWindow, message, wParam, lParam);
}

void TWin32MainWindow::ActivityLog1Click(rtl::TObject*)
{
    if (!FLogWindow)
        FLogWindow = std::make_unique<TWin32LogWindow>(FInstance, *Form().Memo1);
    FLogWindow->Open();
}

int TWin32MainWindow::ShowMessageBox(const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned flags)
{
    const int result = MessageBoxW(FWindow, Wide(text).c_str(), Wide(caption).c_str(), flags);
    return result == IDOK ? rtl::IdOk : rtl::IdCancel;
}

void TWin32MainWindow::ShowStatus(const rtl::AnsiString& text)
{
    SetWindowTextW(FLabel1, Wide(text).c_str());
}

void TWin32MainWindow::LogLineAdded(const rtl::TMemo& log, const rtl::AnsiString& line)
{
    const std::wstring text = (log.Lines().size() > 1 ? L"\r\n" : L"") + Wide(line);
    const LRESULT end = GetWindowTextLengthW(FMemo1);
    SendMessageW(FMemo1, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(FMemo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    if (FLogWindow)
        FLogWindow->LineAdded(log, line);
}

void TWin32MainWindow::LogCleared()
{
    SetWindowTextW(FMemo1, L"");
    if (FLogWindow)
        FLogWindow->Cleared();
}

void TWin32MainWindow::LogFirstLinesRemoved(std::size_t count)
{
    if (FLogWindow)
        FLogWindow->FirstLinesRemoved(count);
    const LRESULT end = SendMessageW(FMemo1, EM_LINEINDEX, static_cast<WPARAM>(count), 0);
    if (end <= 0)
        return;
    SendMessageW(FMemo1, EM_SETSEL, 0, end);
    SendMessageW(FMemo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
}

void TWin32MainWindow::ShowIdentityLines(const rtl::TMemo& identity)
{
    SetWindowTextW(FMemo2, LinesText(identity).c_str());
}

void TWin32MainWindow::SetStepTimer(std::optional<rtl::TTimer::Clock::time_point> due)
{
    if (!FWindow)
        return;
    if (!due) {
        KillTimer(FWindow, StepTimerId);
        FStepTimer.Stop();
        return;
    }
    const auto wait = *due - rtl::TTimer::Clock::now();
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    SetTimer(FWindow, StepTimerId, static_cast<UINT>(std::max<long long>(milliseconds, USER_TIMER_MINIMUM)), nullptr);
    FStepTimer.StartOnce(wait);
}

bool TWin32MainWindow::MessagesWaiting() const
{
    // Posted and sent messages; a WM_TIMER is never generated while they wait either.
    return HIWORD(GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE | QS_INPUT)) != 0;
}

void TWin32MainWindow::MenuEnabled(const rtl::TMenuItem& item)
{
    const UINT position = &item == Form().File1 ? 0 : 1;
    EnableMenuItem(FMenu, position, MF_BYPOSITION | (item.Enabled() ? MF_ENABLED : MF_GRAYED));
    if (FWindow)
        DrawMenuBar(FWindow);
}

} // namespace win32ui
