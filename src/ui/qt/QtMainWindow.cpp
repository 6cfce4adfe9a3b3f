#include "QtMainWindow.h"

#include "QtLogWindow.h"

#include "rtl/Application.h"
#include "rtl/CodePage.h"
#include "rtl/MainThreadQueue.h"

#include <QAction>
#include <QEvent>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "tolvane.xpm"

namespace qtui {

namespace {

TQtMainWindow* gMainWindow = nullptr;

void Place(QWidget* widget, const rtl::TBounds& bounds)
{
    widget->setGeometry(bounds.Left, bounds.Top, bounds.Width, bounds.Height);
}

QString LinesText(const rtl::TMemo& memo)
{
    QStringList lines;
    for (const auto& line : memo.Lines())
        lines << ToQString(line);
    return lines.join('\n');
}

} // namespace

QString ToQString(const rtl::AnsiString& text)
{
    const std::u16string wide = rtl::Utf16FromCp932(text);
    return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

QFont WindowFont()
{
    const QString family = ToQString(app::layout::FontName);
    QFont::insertSubstitutions(family,
                               {"MS Gothic", "IPAGothic", "IPAexGothic", "Noto Sans CJK JP", "Noto Sans Mono CJK JP",
                                "TakaoGothic", "VL Gothic"});
    QFont font(family);
    font.setPixelSize(-app::layout::FontHeight);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

void InstallQtRuntime()
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    queue.SetMainThread();
    // Each post becomes one queued call on the main thread; running the queue then takes
    // everything waiting, so a wake that finds it empty is harmless.
    queue.SetWakeHandler([] {
        QMetaObject::invokeMethod(
            qApp, [] { rtl::TMainThreadQueue::Instance().ProcessPending(); }, Qt::QueuedConnection);
    });
    rtl::Application->SetMessageBoxHook(
        [](const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned flags) {
            return gMainWindow ? gMainWindow->ShowMessageBox(text, caption, flags) : rtl::IdCancel;
        });
    rtl::Application->SetTerminateHook([] {
        if (gMainWindow)
            gMainWindow->close();
    });
    // The installed theme's icon (hicolor); the built-in pixmap where it is not installed.
    QApplication::setWindowIcon(QIcon::fromTheme("tolvane", QIcon(QPixmap(tolvane_xpm))));
}

TQtMainWindow::TQtMainWindow()
{
    gMainWindow = this;
    setWindowTitle(app::layout::Caption);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFont(WindowFont());
    setAttribute(Qt::WA_DeleteOnClose, false);
    BuildMenu();
    Form().ActivityLog1->SetOnClick(rtl::TNotifyEvent::Of<&TQtMainWindow::ActivityLog1Click>(this));
    BuildControls();

    AttachControls();

    // Fixed size: the client area of the description under the menu bar, nothing to resize.
    adjustSize();
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TQtMainWindow::~TQtMainWindow()
{
    FTimer->stop();
    if (gMainWindow == this)
        gMainWindow = nullptr;
}

void TQtMainWindow::BuildMenu()
{
    for (const auto& top : Form().MainMenu1->Items()) {
        QMenu* menu = menuBar()->addMenu(ToQString(top->Caption()));
        FActions[top.get()] = menu->menuAction();
        for (const auto& item : top->Items()) {
            QAction* action = menu->addAction(ToQString(item->Caption()));
            rtl::TMenuItem* model = item.get();
            connect(action, &QAction::triggered, this, [model] { model->Click(); });
            FActions[model] = action;
        }
    }
}

void TQtMainWindow::BuildControls()
{
    // Absolute positions, no scroll area: what lies outside the client area stays out of
    // reach, as on the original window.
    FClient = new QWidget(this);
    FClient->setFixedSize(app::layout::ClientWidth, app::layout::ClientHeight);
    FClient->setAutoFillBackground(true);
    FClient->setBackgroundRole(QPalette::Button);
    setCentralWidget(FClient);

    FSpeedButton1 = new QPushButton(ToQString(Form().SpeedButton1->Caption()), FClient);
    FSpeedButton1->setFocusPolicy(Qt::NoFocus);
    Place(FSpeedButton1, app::layout::SpeedButton1);
    connect(FSpeedButton1, &QPushButton::clicked, this, [this] { Form().SpeedButton1->Click(); });

    FLabel1 = new QLabel(ToQString(Form().Label1->Caption()), FClient);
    Place(FLabel1, app::layout::Label1);

    FMemo1 = new QPlainTextEdit(FClient);
    FMemo1->viewport()->installEventFilter(this);
    FMemo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    FMemo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Place(FMemo1, app::layout::Memo1);

    FMemo2 = new QPlainTextEdit(FClient);
    FMemo2->setReadOnly(true);
    FMemo2->setFrameShape(QFrame::NoFrame);
    FMemo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FMemo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette palette = FMemo2->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    FMemo2->setPalette(palette);
    FMemo2->setPlainText(LinesText(*Form().Memo2));
    Place(FMemo2, app::layout::Memo2);
    setTabOrder(FMemo1, FMemo2);

    FTimer = new QTimer(this);
    FTimer->setTimerType(Qt::PreciseTimer);
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, this, [this] { StepIfDue(); });
}

QAction* TQtMainWindow::ActionOf(const rtl::TMenuItem* item) const
{
    const auto found = FActions.find(item);
    return found == FActions.end() ? nullptr : found->second;
}

int TQtMainWindow::ShowMessageBox(const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned flags)
{
    QMessageBox box(this);
    box.setWindowTitle(ToQString(caption));
    box.setText(ToQString(rtl::StringReplaceAll(text, "\r\n", "\n")));
    box.setIcon((flags & rtl::MbIconQuestion) ? QMessageBox::Question : QMessageBox::Information);
    if ((flags & 0x0F) == rtl::MbOkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    // Closing the box without a button counts as Cancel, as on Windows.
    return box.exec() == QMessageBox::Ok ? rtl::IdOk : rtl::IdCancel;
}

void TQtMainWindow::ShowStatus(const rtl::AnsiString& text)
{
    FLabel1->setText(ToQString(text));
}

QPlainTextEdit* TQtMainWindow::Memo1()
{
    ShowLog();
    return FMemo1;
}

void TQtMainWindow::ShowLog()
{
    if (!FLogStale)
        return;
    FLogStale = false;
    FMemo1->setPlainText(LinesText(*Form().Memo1));
}

bool TQtMainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Should the box ever come into view, it shows the log from then on.
    if (watched == FMemo1->viewport() && event->type() == QEvent::Paint && FLogStale)
        QTimer::singleShot(0, this, [this] { ShowLog(); });
    return QMainWindow::eventFilter(watched, event);
}

void TQtMainWindow::ActivityLog1Click(rtl::TObject*)
{
    if (!FLogWindow)
        FLogWindow = std::make_unique<TQtLogWindow>(*Form().Memo1);
    FLogWindow->setWindowState(FLogWindow->windowState() & ~Qt::WindowMinimized);
    FLogWindow->show();
    FLogWindow->raise();
    FLogWindow->activateWindow();
}

void TQtMainWindow::LogLineAdded(const rtl::TMemo&, const rtl::AnsiString& line)
{
    FLogStale = true;
    if (FLogWindow)
        FLogWindow->LineAdded(line);
}

void TQtMainWindow::LogCleared()
{
    FLogStale = true;
    if (FLogWindow)
        FLogWindow->Cleared();
}

void TQtMainWindow::LogFirstLinesRemoved(std::size_t count)
{
    FLogStale = true;
    if (FLogWindow)
        FLogWindow->FirstLinesRemoved(count);
}

void TQtMainWindow::ShowIdentityLines(const rtl::TMemo& identity)
{
    FMemo2->setPlainText(LinesText(identity));
}

void TQtMainWindow::SetStepTimer(std::optional<rtl::TTimer::Clock::time_point> due)
{
    if (!due) {
        FTimer->stop();
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - rtl::TTimer::Clock::now());
    FTimer->start(static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0)));
}

void TQtMainWindow::MenuEnabled(const rtl::TMenuItem& item)
{
    if (QAction* action = ActionOf(&item))
        action->setEnabled(item.Enabled());
}

} // namespace qtui
