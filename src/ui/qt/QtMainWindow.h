#pragma once

#include "app/FormWindow.h"

#include <QMainWindow>

#include <map>
#include <memory>

class QAction;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace qtui {

class TQtLogWindow;

// Form1 on Qt Widgets: the window of the description, with native peers for the session's
// component models. It owns the form; closing the window ends the program.
class TQtMainWindow : public QMainWindow, public app::TFormWindow {
public:
    TQtMainWindow();
    ~TQtMainWindow() override;

    QWidget* Client() const { return FClient; }
    QLabel* Label1() const { return FLabel1; }
    // The activity log's box, brought up to date first: it lies outside the client area, so
    // its text is laid out only when someone looks.
    QPlainTextEdit* Memo1();
    QPlainTextEdit* Memo2() const { return FMemo2; }
    QPushButton* SpeedButton1() const { return FSpeedButton1; }
    QAction* ActionOf(const rtl::TMenuItem* item) const;
    // The activity log's own window, once Log > Activity log... has opened it.
    TQtLogWindow* LogWindow() const { return FLogWindow.get(); }

    // Shows a box as the session asks for one: modal, with the buttons and icon of the flags.
    int ShowMessageBox(const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned flags);

private:
    void BuildControls();
    void BuildMenu();
    void ShowStatus(const rtl::AnsiString& text) override;
    void LogLineAdded(const rtl::TMemo& log, const rtl::AnsiString& line) override;
    void LogCleared() override;
    void LogFirstLinesRemoved(std::size_t count) override;
    void ShowIdentityLines(const rtl::TMemo& identity) override;
    void SetStepTimer(std::optional<rtl::TTimer::Clock::time_point> due) override;
    void MenuEnabled(const rtl::TMenuItem& item) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void ShowLog();
    void ActivityLog1Click(rtl::TObject* sender);

    QWidget* FClient = nullptr;
    QLabel* FLabel1 = nullptr;
    QPlainTextEdit* FMemo1 = nullptr;
    QPlainTextEdit* FMemo2 = nullptr;
    QPushButton* FSpeedButton1 = nullptr;
    QTimer* FTimer = nullptr;
    // The model's lines are not yet in Memo1's box.
    bool FLogStale = false;
    std::map<const rtl::TMenuItem*, QAction*> FActions;
    std::unique_ptr<TQtLogWindow> FLogWindow;
};

// Wires the main-thread queue into Qt's event loop and installs the message-box and close
// hooks. Call once, after the QApplication exists and before the window is made.
void InstallQtRuntime();

// The font of the description, with a Japanese fallback where "ＭＳ ゴシック" is missing.
QFont WindowFont();

QString ToQString(const rtl::AnsiString& text);

} // namespace qtui
