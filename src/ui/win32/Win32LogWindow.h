#pragma once

#include "rtl/Controls.h"

#include <windows.h>

#include <filesystem>
#include <string>

namespace win32ui {

// The activity log in a window of its own, beside the main window and not modal: the form's
// Memo1 lies outside the main window's client area, so that its user could never read it.
// It follows the memo it is given; the main window forwards each change.
class TWin32LogWindow {
public:
    TWin32LogWindow(HINSTANCE instance, const rtl::TMemo& log);
    ~TWin32LogWindow();
    TWin32LogWindow(const TWin32LogWindow&) = delete;
    TWin32LogWindow& operator=(const TWin32LogWindow&) = delete;

    HWND Handle() const { return FWindow; }
    // Shows the window, or brings it to the front when it is shown.
    void Open();

    void LineAdded(const rtl::TMemo& log, const rtl::AnsiString& line);
    void Cleared();
    void FirstLinesRemoved(std::size_t count);

    // Writes the log's lines in UTF-8, each ending in "\n". False, with the system's reason,
    // when the file cannot be written.
    bool SaveTo(const std::filesystem::path& file, std::string& error) const;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK TextProc(HWND text, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void ApplyDpi(UINT dpi);
    void SaveAs();
    // Replaces the characters from start to end, keeping the user's selection and the lines
    // in view unless the caret stood at the end: then the view follows the new lines.
    void Replace(LRESULT start, LRESULT end, const std::wstring& text);

    const rtl::TMemo& FLog;
    HWND FWindow = nullptr;
    HWND FText = nullptr;
    HFONT FFont = nullptr;
};

} // namespace win32ui
