// The Linux window: its layout as described, and whole sessions driven through it with the
// confirmation boxes answered the way an operator would.

#include "QtLogWindow.h"
#include "QtMainWindow.h"
#include "SimProcess.h"

#include "rtl/CodePage.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace testsupport;

namespace {

// Runs Qt's event loop until the condition holds or the time is up.
bool RunUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

struct TSeenBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon;
    QMessageBox::StandardButtons Buttons;
    bool TimerRunning;
};

// Answers every modal box as it opens, as an operator would, and remembers what it saw.
class TOperator {
public:
    TOperator(qtui::TQtMainWindow& window, std::function<QMessageBox::StandardButton(const TSeenBox&)> answer)
        : FWindow(window), FAnswer(std::move(answer))
    {
        FWatch.setInterval(10);
        QObject::connect(&FWatch, &QTimer::timeout, [this] { AnswerOpenBox(); });
        FWatch.start();
    }

    std::vector<TSeenBox> Seen;

private:
    void AnswerOpenBox()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        TSeenBox seen{box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                      FWindow.Form().Timer1->Running()};
        Seen.push_back(seen);
        box->button(FAnswer(seen))->click();
    }

    qtui::TQtMainWindow& FWindow;
    std::function<QMessageBox::StandardButton(const TSeenBox&)> FAnswer;
    QTimer FWatch;
};

class QtWindow : public ::testing::Test {
protected:
    TScratchUnitDirectory FUnits;
};

TEST_F(QtWindow, LaysOutTheDescribedWindow)
{
    qtui::TQtMainWindow window;
    window.show();
    EXPECT_EQ(window.windowTitle(), "TOLVANE");
    EXPECT_EQ(window.Client()->size(), QSize(242, 92));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(window.Client()->geometry().top(), window.menuBar()->geometry().bottom() + 1);

    EXPECT_EQ(window.Label1()->geometry(), QRect(24, 8, 198, 12));
    EXPECT_EQ(window.Memo2()->geometry(), QRect(20, 32, 205, 49));
    EXPECT_EQ(window.Memo1()->geometry(), QRect(20, 140, 829, 393));
    EXPECT_EQ(window.SpeedButton1()->geometry(), QRect(736, 552, 85, 22));
    // Outside the client area: they work but are never seen.
    EXPECT_FALSE(window.Client()->rect().intersects(window.Memo1()->geometry()));
    EXPECT_FALSE(window.Client()->rect().intersects(window.SpeedButton1()->geometry()));
    EXPECT_EQ(window.SpeedButton1()->focusPolicy(), Qt::NoFocus);

    EXPECT_EQ(window.Label1()->text(), "Please set Quillmark to a cradle.");
    EXPECT_EQ(window.Memo2()->toPlainText(), " FW :\nSER :");
    EXPECT_TRUE(window.Memo2()->isReadOnly());
    EXPECT_EQ(window.Memo2()->frameShape(), QFrame::NoFrame);
    EXPECT_FALSE(window.Memo1()->isReadOnly());
    EXPECT_EQ(QFontInfo(window.font()).pixelSize(), 12);

    auto& form = window.Form();
    EXPECT_EQ(window.ActionOf(form.File1)->text(), "File");
    EXPECT_EQ(window.ActionOf(form.Exit1)->text(), "Close");
    EXPECT_EQ(window.ActionOf(form.Info1)->text(), "Info");
    EXPECT_EQ(window.ActionOf(form.Version1)->text(), "Version");
    EXPECT_EQ(window.ActionOf(form.Log1)->text(), "Log");
    EXPECT_EQ(window.ActionOf(form.ActivityLog1)->text(), "Activity log...");
    EXPECT_TRUE(window.ActionOf(form.File1)->isEnabled());
    EXPECT_TRUE(window.ActionOf(form.Info1)->isEnabled());
}

TEST_F(QtWindow, AboutBoxShowsTheVersionWithOnlyOk)
{
    qtui::TQtMainWindow window;
    window.show();
    TOperator operatorAtDesk(window, [](const TSeenBox&) { return QMessageBox::Ok; });
    window.ActionOf(window.Form().Version1)->trigger();
    ASSERT_EQ(operatorAtDesk.Seen.size(), 1u);
    const TSeenBox& about = operatorAtDesk.Seen[0];
    EXPECT_EQ(about.Title, "Version");
    EXPECT_TRUE(about.Text.startsWith("TOLVANE\n")) << about.Text.toStdString();
    EXPECT_EQ(about.Icon, QMessageBox::Information);
    EXPECT_EQ(about.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST_F(QtWindow, WholeSessionWithBothConfirmationsAnsweredOk)
{
    TSimProcess unit(FUnits.Path(), {"--version", "1.0.05", "--ser", "QM0000054321"});
    qtui::TQtMainWindow window;
    window.show();
    auto& form = window.Form();
    window.ActionOf(form.ActivityLog1)->trigger();
    bool menusDisabledDuringSession = false;
    bool logMenuEnabledDuringSession = false;
    TOperator operatorAtDesk(window, [&](const TSeenBox&) {
        menusDisabledDuringSession = !window.ActionOf(form.File1)->isEnabled();
        logMenuEnabledDuringSession =
            window.ActionOf(form.Log1)->isEnabled() && window.ActionOf(form.ActivityLog1)->isEnabled();
        return QMessageBox::Ok;
    });
    ASSERT_TRUE(RunUntil([&] { return form.State() == app::stFinished && !form.HoldsUnit(); }));

    ASSERT_EQ(operatorAtDesk.Seen.size(), 2u);
    EXPECT_EQ(operatorAtDesk.Seen[0].Title, "Confirmation");
    EXPECT_EQ(operatorAtDesk.Seen[0].Text, "Get GSER response.\nIs read RGINFO.INI?");
    EXPECT_EQ(operatorAtDesk.Seen[0].Icon, QMessageBox::Question);
    EXPECT_EQ(operatorAtDesk.Seen[0].Buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(operatorAtDesk.Seen[1].Text, "Is a Serial write in?");
    // No step may start while a box waits for the operator.
    EXPECT_FALSE(operatorAtDesk.Seen[0].TimerRunning);
    EXPECT_FALSE(operatorAtDesk.Seen[1].TimerRunning);
    EXPECT_TRUE(menusDisabledDuringSession);
    EXPECT_TRUE(logMenuEnabledDuringSession);

    EXPECT_EQ(window.Label1()->text(), "Serial write end.");
    EXPECT_EQ(window.Memo2()->toPlainText(), " FW : 1.0.05\nSER : QM0000054321");
    const QString log = window.Memo1()->toPlainText();
    EXPECT_TRUE(log.contains("Verify : OK. fileSize:")) << log.toStdString();
    EXPECT_TRUE(log.contains("\u30D0\u30FC\u30B8\u30E7\u30F31.0.05")) << log.toStdString(); // バージョン
    EXPECT_TRUE(log.contains(">>SSER ")) << log.toStdString();
    // The log window, open all along, shows the same lines.
    EXPECT_EQ(window.LogWindow()->Text()->toPlainText(), log);

    // Taking the finished unit out shows the cradle text and opens the menus at the next tick.
    unit.Stop();
    ASSERT_TRUE(RunUntil([&] { return form.State() == app::stIdle && window.ActionOf(form.File1)->isEnabled(); }));
    EXPECT_EQ(window.Label1()->text(), "Please set Quillmark to a cradle.");
}

TEST_F(QtWindow, CancelAtTheFirstConfirmationEndsTheSessionWithoutUpload)
{
    TSimProcess unit(FUnits.Path(), {});
    qtui::TQtMainWindow window;
    window.show();
    auto& form = window.Form();
    TOperator operatorAtDesk(window, [](const TSeenBox&) { return QMessageBox::Cancel; });
    ASSERT_TRUE(RunUntil([&] { return form.State() == app::stFinished && !form.HoldsUnit(); }));
    ASSERT_EQ(operatorAtDesk.Seen.size(), 1u);
    EXPECT_EQ(window.Label1()->text(), "Read end.");
    EXPECT_FALSE(window.Memo1()->toPlainText().contains("UPLS"));
}

TEST_F(QtWindow, ClosingWhileAUnitIsLentEndsCleanly)
{
    // The unit answers the version and then keeps the tool waiting, reader running.
    const std::string script = FUnits.Path() + "/hold.txt";
    FILE* file = fopen(script.c_str(), "w");
    fputs("expect VER\nsend OK 1.0.05\\r\\n\nexpect GSER\nsleep 60000\n", file);
    fclose(file);
    TSimProcess unit(FUnits.Path(), {"--script", script});
    {
        qtui::TQtMainWindow window;
        window.show();
        auto& form = window.Form();
        // The version answer came through the unit's reader, which runs while the unit is lent.
        ASSERT_TRUE(RunUntil([&] { return form.State() == app::stSerialInfoWait && form.HoldsUnit(); }));
        // The menus are disabled now; the title bar's close still ends the program.
        EXPECT_FALSE(window.ActionOf(form.File1)->isEnabled());
        window.close();
        EXPECT_FALSE(window.isVisible());
    }
    // The window and its reader are gone; the unit itself is still waiting in its script.
    EXPECT_EQ(unit.Stop(), 1);
}

// The log window's lines of text; an empty log shows none.
QStringList ShownLines(const qtui::TQtLogWindow& log)
{
    QStringList lines;
    for (QTextBlock block = log.Text()->document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    return lines == QStringList{""} ? QStringList{} : lines;
}

rtl::AnsiString Cp932(const char8_t* utf8)
{
    return rtl::Cp932FromUtf8(reinterpret_cast<const char*>(utf8));
}

TEST_F(QtWindow, LogWindowFromTheLogMenuFollowsTheActivityLog)
{
    qtui::TQtMainWindow window;
    window.show();
    auto& form = window.Form();
    form.Log("before the window");
    QAction* open = window.ActionOf(form.ActivityLog1);
    open->trigger();
    qtui::TQtLogWindow* log = window.LogWindow();
    ASSERT_NE(log, nullptr);
    form.Memo1->SetMaxLines(4);

    const QString version = "\u30D0\u30FC\u30B8\u30E7\u30F31.0.05"; // バージョン1.0.05
    struct TStep {
        const char* What;
        std::function<void()> Do;
        // The end of each line shown, after the time stamp.
        QStringList Shown;
    };
    const TStep steps[] = {
        {"opened", [] {}, {"before the window"}},
        {"lines added",
         [&] {
             form.Log(Cp932(u8"\u30D0\u30FC\u30B8\u30E7\u30F31.0.05"));
             form.Log("second");
         },
         {"before the window", version, "second"}},
        {"controls from a unit escaped",
         [&] { form.Log("name\x1B[2J\\x\nforged"); },
         {"before the window", version, "second", "name\\x1B[2J\\\\x\\x0Aforged"}},
        {"oldest line removed at the limit",
         [&] { form.Log("fifth"); },
         {version, "second", "name\\x1B[2J\\\\x\\x0Aforged", "fifth"}},
        {"cleared", [&] { form.Memo1->Clear(); }, {}},
        {"added after the clear", [&] { form.Log("after"); }, {"after"}},
        {"closed, behind, caught up when opened again",
         [&] {
             log->close();
             for (const char* line : {"h1", "h2", "h3", "h4", "h5"})
                 form.Log(line);
             open->trigger();
         },
         {"h2", "h3", "h4", "h5"}},
        {"raised when open", [&] { open->trigger(); }, {"h2", "h3", "h4", "h5"}},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.What);
        step.Do();
        EXPECT_EQ(window.LogWindow(), log);
        EXPECT_TRUE(log->isVisible());
        const QStringList shown = ShownLines(*log);
        ASSERT_EQ(shown.size(), step.Shown.size()) << shown.join('\n').toStdString();
        for (qsizetype i = 0; i < shown.size(); ++i)
            EXPECT_TRUE(shown[i].endsWith("  " + step.Shown[i])) << shown[i].toStdString();
    }
}

TEST_F(QtWindow, LogWindowIsANonModalResizableReadOnlyWindowWithJapaneseFixedPitchText)
{
    qtui::TQtMainWindow window;
    window.show();
    auto& form = window.Form();
    form.Log("first");
    window.ActionOf(form.ActivityLog1)->trigger();
    qtui::TQtLogWindow* log = window.LogWindow();
    ASSERT_NE(log, nullptr);

    EXPECT_TRUE(log->isWindow());
    EXPECT_TRUE(log->windowTitle().contains("Activity log"));
    EXPECT_EQ(log->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    const QSize larger = log->size() + QSize(120, 80);
    log->resize(larger);
    EXPECT_EQ(log->size(), larger);

    // Kana take exactly two columns: the log's columns stay aligned.
    const QFontMetrics metrics(log->Text()->font());
    EXPECT_TRUE(metrics.inFontUcs4(0x30D0)); // バ
    const int column = metrics.horizontalAdvance('0');
    for (const QChar c : QString("iW.:,-_>|"))
        EXPECT_EQ(metrics.horizontalAdvance(c), column) << c.toLatin1();
    EXPECT_EQ(metrics.horizontalAdvance("\u30D0\u30FC\u30B8\u30E7\u30F3"), 10 * column);

    // Read-only, yet what is selected can be copied; a line that comes in keeps the selection.
    EXPECT_TRUE(log->Text()->isReadOnly());
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(log->Text(), &event);
    };
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->setText("before");
    press(Qt::Key_Home, Qt::ControlModifier);
    press(Qt::Key_End, Qt::ShiftModifier);
    form.Log("second");
    press(Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(clipboard->text().endsWith("  first")) << clipboard->text().toStdString();
    EXPECT_FALSE(clipboard->text().contains('\n')) << clipboard->text().toStdString();
    press(Qt::Key_A, Qt::ControlModifier);
    press(Qt::Key_C, Qt::ControlModifier);
    const QStringList copied = clipboard->text().split('\n');
    ASSERT_EQ(copied.size(), 2);
    EXPECT_TRUE(copied[1].endsWith("  second"));
    press(Qt::Key_X);
    EXPECT_EQ(log->Text()->toPlainText(), clipboard->text());
}

TEST_F(QtWindow, SavedLogAndLogFileHoldTheLinesInUtf8)
{
    qtui::TQtMainWindow window;
    auto& form = window.Form();
    const std::string appended = FUnits.Path() + "/appended.log";
    std::string openError;
    ASSERT_TRUE(window.AppendLogTo(appended, openError)) << openError;
    form.Log(Cp932(u8"\u30D0\u30FC\u30B8\u30E7\u30F31.0.05"));
    form.Log("plain");
    window.ActionOf(form.ActivityLog1)->trigger();
    qtui::TQtLogWindow* log = window.LogWindow();
    ASSERT_NE(log, nullptr);

    const auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    };
    const QString saved = QString::fromStdString(FUnits.Path() + "/saved.txt");
    QString error;
    ASSERT_TRUE(log->SaveTo(saved, error)) << error.toStdString();
    const QByteArray text = read(saved);
    const QList<QByteArray> lines = text.split('\n');
    ASSERT_EQ(lines.size(), 3) << text.toStdString();
    EXPECT_TRUE(lines[0].endsWith("  \xE3\x83\x90\xE3\x83\xBC\xE3\x82\xB8\xE3\x83\xA7\xE3\x83\xB3"
                                  "1.0.05"))
        << text.toStdString();
    EXPECT_TRUE(lines[1].endsWith("  plain"));
    EXPECT_TRUE(lines[2].isEmpty());
    // Without controls in the lines, what --log appended is the same text.
    EXPECT_EQ(read(QString::fromStdString(appended)), text);

    form.Log("a\r\nb");
    ASSERT_TRUE(log->SaveTo(saved, error)) << error.toStdString();
    EXPECT_TRUE(read(saved).endsWith("  a\\x0D\\x0Ab\n"));

    EXPECT_FALSE(log->SaveTo(QString::fromStdString(FUnits.Path() + "/missing/saved.txt"), error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
