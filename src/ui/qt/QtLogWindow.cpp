#include "QtLogWindow.h"

#include "QtMainWindow.h"

#include "rtl/Controls.h"
#include "rtl/TextEscape.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace qtui {

namespace {

// Kana and kanji are twice as wide as the Latin letters in these fonts, so the columns of the
// log stay aligned; an even pixel size keeps that exact.
QFont LogFont()
{
    QFont font;
    font.setFamilies({"Noto Sans Mono CJK JP", "IPAGothic", "TakaoGothic", "VL Gothic", "MS Gothic"});
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(14);
    return font;
}

// One log line as one line of text: what a unit sent can neither break it nor forge another.
QString LogLineText(const rtl::AnsiString& line)
{
    return QString::fromStdString(rtl::LogLineText(line));
}

} // namespace

TQtLogWindow::TQtLogWindow(const rtl::TMemo& log) : QWidget(nullptr, Qt::Window), FLog(log)
{
    setWindowTitle("TOLVANE - Activity log");
    // Closing the main window ends the program even while this one is open.
    setAttribute(Qt::WA_QuitOnClose, false);

    FText = new QPlainTextEdit(this);
    FText->setReadOnly(true);
    FText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    FText->setLineWrapMode(QPlainTextEdit::NoWrap);
    FText->setFont(LogFont());
    FText->document()->setUndoRedoEnabled(false);

    FSave = new QPushButton("Save as...", this);
    FSave->setShortcut(QKeySequence::Save);
    connect(FSave, &QPushButton::clicked, this, [this] { SaveAs(); });
    auto* close = new QPushButton("Close", this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(FSave);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FText);
    layout->addLayout(buttons);

    QSize size(760, 420);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    resize(size);
}

void TQtLogWindow::LineAdded(const rtl::AnsiString& line)
{
    if (FStale || !isVisible()) {
        FStale = true;
        return;
    }
    QScrollBar* bar = FText->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    const int anchor = FText->textCursor().anchor();
    const int position = FText->textCursor().position();
    QTextCursor end(FText->document());
    end.movePosition(QTextCursor::End);
    if (FShownLines > 0)
        end.insertBlock();
    end.insertText(LogLineText(line));
    ++FShownLines;
    // A selection that reaches the end would otherwise grow with every line.
    if (FText->textCursor().anchor() != anchor || FText->textCursor().position() != position)
        KeepReaderCursor(anchor, position);
    if (following)
        bar->setValue(bar->maximum());
}

void TQtLogWindow::Cleared()
{
    FText->clear();
    FShownLines = 0;
    FStale = false;
}

void TQtLogWindow::FirstLinesRemoved(std::size_t count)
{
    if (FStale || !isVisible()) {
        FStale = true;
        return;
    }
    if (count >= FShownLines) {
        Cleared();
        return;
    }
    // The lines in view stay in view, unless the view follows the newest.
    QScrollBar* bar = FText->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    const int top = bar->value();
    QTextCursor oldest(FText->document());
    oldest.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, static_cast<int>(count));
    oldest.removeSelectedText();
    FShownLines -= count;
    bar->setValue(following ? bar->maximum() : std::max(0, top - static_cast<int>(count)));
}

bool TQtLogWindow::SaveTo(const QString& path, QString& error) const
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        QByteArray text;
        for (const auto& line : FLog.Lines()) {
            text += LogLineText(line).toUtf8();
            text += '\n';
        }
        file.write(text);
        if (file.commit())
            return true;
    }
    error = file.errorString();
    return false;
}

void TQtLogWindow::showEvent(QShowEvent* event)
{
    if (FStale)
        Rebuild();
    QWidget::showEvent(event);
}

void TQtLogWindow::KeepReaderCursor(int anchor, int position)
{
    QTextCursor kept(FText->document());
    kept.setPosition(anchor);
    kept.setPosition(position, QTextCursor::KeepAnchor);
    // Setting the cursor scrolls to it; the view stays where the reader left it.
    const int left = FText->horizontalScrollBar()->value();
    const int top = FText->verticalScrollBar()->value();
    FText->setTextCursor(kept);
    FText->horizontalScrollBar()->setValue(left);
    FText->verticalScrollBar()->setValue(top);
}

void TQtLogWindow::Rebuild()
{
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(FLog.Lines().size()));
    for (const auto& line : FLog.Lines())
        lines << LogLineText(line);
    FText->setPlainText(lines.join('\n'));
    FShownLines = FLog.Lines().size();
    FStale = false;
    FText->verticalScrollBar()->setValue(FText->verticalScrollBar()->maximum());
}

void TQtLogWindow::SaveAs()
{
    const QString path = QFileDialog::getSaveFileName(this, "Save the activity log", "tolvane-log.txt",
                                                      "Text files (*.txt);;All files (*)");
    if (path.isEmpty())
        return;
    QString error;
    if (!SaveTo(path, error))
        QMessageBox::warning(this, windowTitle(), QString("Cannot save %1: %2").arg(path, error));
}

} // namespace qtui
