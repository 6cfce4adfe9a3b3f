#pragma once

#include "app/Main.h"

#include <QMainWindow>

#include <map>
#include <memory>

class QAction;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace qtui {

// Form1 on Qt Widgets: the window of the description, with native peers for the session's
// component models. It owns the form; closing the window ends the program.
class TQtMainWindow : public QMainWindow, app::TFormPeer {
public:
    TQtMainWindow();
    ~TQtMainWindow() override;

    app::TForm1& Form() { return *FForm; }
    QWidget* Client() const { return FClient; }
    QLabel* Label1() const { return FLabel1; }
    // The activity log's box, brought up to date first: it lies outside the client area, so
    // its text is laid out only when someone looks.
    QPlainTextEdit* Memo1();
    QPlainTextEdit* Memo2() const { return FMemo2; }
    QPushButton* SpeedButton1() const { return FSpeedButton1; }
    QAction* ActionOf(const rtl::TMenuItem* item) const;

    // Shows a box as the session asks for one: modal, with the buttons and icon of the flags.
    int ShowMessageBox(const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned flags);

private:
    void BuildControls();
    void BuildMenu();
    void CaptionChanged(rtl::TLabel& label) override;
    void LineAdded(rtl::TMemo& memo, const rtl::AnsiString& line) override;
    void Cleared(rtl::TMemo& memo) override;
    void FirstLinesRemoved(rtl::TMemo& memo, std::size_t count) override;
    void LinesChanged(rtl::TMemo& memo) override;
    void TimerChanged(rtl::TTimer& timer) override;
    void TickSoon(rtl::TTimer& timer) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void ShowLog();
    void EnabledChanged(rtl::TMenuItem& item) override;

    std::unique_ptr<app::TForm1> FForm;
    QWidget* FClient = nullptr;
    QLabel* FLabel1 = nullptr;
    QPlainTextEdit* FMemo1 = nullptr;
    QPlainTextEdit* FMemo2 = nullptr;
    QPushButton* FSpeedButton1 = nullptr;
    QTimer* FTimer = nullptr;
    bool FTickQueued = false;
    // The model's lines are not yet in Memo1's box.
    bool FLogStale = false;
    std::map<const rtl::TMenuItem*, QAction*> FActions;
};

// Wires the main-thread queue into Qt's event loop and installs the message-box and close
// hooks. Call once, after the QApplication exists and before the window is made.
void InstallQtRuntime();

// The font of the description, with a Japanese fallback where "ＭＳ ゴシック" is missing.
QFont WindowFont();

QString ToQString(const rtl::AnsiString& text);

} // namespace qtui
