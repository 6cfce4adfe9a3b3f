#include "QtMainWindow.h"

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
    QFont::insertSubstitutions(family, {"MS Gothic", "IPAGothic", "IPAexGothic", "Noto Sans CJK JP",
                                        "Noto Sans Mono CJK JP", "TakaoGothic", "VL Gothic"});
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
    QApplication::setWindowIcon(QIcon(QPixmap(tolvane_xpm)));
}

TQtMainWindow::TQtMainWindow()
{
    gMainWindow = this;
    FForm = std::make_unique<app::TForm1>();
    setWindowTitle(app::layout::Caption);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFont(WindowFont());
    setAttribute(Qt::WA_DeleteOnClose, false);
    BuildMenu();
    BuildControls();

    FForm->SetPeer(this);
    TimerChanged(*FForm->Timer1);

    // Fixed size: the client area of the description under the menu bar, nothing to resize.
    adjustSize();
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TQtMainWindow::~TQtMainWindow()
{
    FTimer->stop();
    FForm->SetPeer(nullptr);
    // The form goes first: its controller stops any reader while the window still stands.
    FForm->HidCtrl1->ReturnDevice(FForm->FHidDevice);
    FForm.reset();
    if (gMainWindow == this)
        gMainWindow = nullptr;
}

void TQtMainWindow::BuildMenu()
{
    for (const auto& top : FForm->MainMenu1->Items()) {
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

    FSpeedButton1 = new QPushButton(ToQString(FForm->SpeedButton1->Caption()), FClient);
    FSpeedButton1->setFocusPolicy(Qt::NoFocus);
    Place(FSpeedButton1, app::layout::SpeedButton1);
    connect(FSpeedButton1, &QPushButton::clicked, this, [this] { FForm->SpeedButton1->Click(); });

    FLabel1 = new QLabel(ToQString(FForm->Label1->Caption()), FClient);
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
    FMemo2->setPlainText(LinesText(*FForm->Memo2));
    Place(FMemo2, app::layout::Memo2);
    setTabOrder(FMemo1, FMemo2);

    FTimer = new QTimer(this);
    FTimer->setTimerType(Qt::PreciseTimer);
    connect(FTimer, &QTimer::timeout, this, [this] { FForm->Timer1->Tick(); });
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

void TQtMainWindow::CaptionChanged(rtl::TLabel& label)
{
    FLabel1->setText(ToQString(label.Caption()));
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
    FMemo1->setPlainText(LinesText(*FForm->Memo1));
}

bool TQtMainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Should the box ever come into view, it shows the log from then on.
    if (watched == FMemo1->viewport() && event->type() == QEvent::Paint && FLogStale)
        QTimer::singleShot(0, this, [this] { ShowLog(); });
    return QMainWindow::eventFilter(watched, event);
}

void TQtMainWindow::LineAdded(rtl::TMemo& memo, const rtl::AnsiString&)
{
    if (&memo == FForm->Memo1.get())
        FLogStale = true;
}

void TQtMainWindow::Cleared(rtl::TMemo& memo)
{
    if (&memo == FForm->Memo1.get())
        FLogStale = true;
}

void TQtMainWindow::FirstLinesRemoved(rtl::TMemo& memo, std::size_t)
{
    if (&memo == FForm->Memo1.get())
        FLogStale = true;
}

void TQtMainWindow::LinesChanged(rtl::TMemo& memo)
{
    if (&memo == FForm->Memo2.get())
        FMemo2->setPlainText(LinesText(memo));
}

void TQtMainWindow::TimerChanged(rtl::TTimer& timer)
{
    if (timer.Armed())
        FTimer->start(static_cast<int>(timer.Interval()));
    else
        FTimer->stop();
}

void TQtMainWindow::TickSoon(rtl::TTimer&)
{
    // One queued tick at a time: the reports and device changes behind it need no more.
    if (FTickQueued)
        return;
    FTickQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FTickQueued = false;
            FForm->Timer1->Tick();
        },
        Qt::QueuedConnection);
}

void TQtMainWindow::EnabledChanged(rtl::TMenuItem& item)
{
    if (QAction* action = ActionOf(&item))
        action->setEnabled(item.Enabled());
}

} // namespace qtui
