#pragma once

#include "rtl/AnsiString.h"

#include <QWidget>

#include <cstddef>

class QPlainTextEdit;
class QPushButton;

namespace rtl {
class TMemo;
}

namespace qtui {

// The activity log in a window of its own: the form keeps its log box outside the client area,
// so this is where the operator reads it. Each log line is one line here, its control
// characters escaped as tolvane-cli prints them. While hidden it only notes that it is behind
// and catches up when shown, so that a long session costs nothing when nobody looks.
class TQtLogWindow : public QWidget {
public:
    // The log is borrowed: the form that owns it outlives the window.
    explicit TQtLogWindow(const rtl::TMemo& log);

    QPlainTextEdit* Text() const { return FText; }
    QPushButton* SaveButton() const { return FSave; }

    void LineAdded(const rtl::AnsiString& line);
    void Cleared();
    void FirstLinesRemoved(std::size_t count);

    // The log's lines as shown, in UTF-8, each ending in "\n". False, with the reason, when
    // the file cannot be written; a file that was there is then left as it was.
    bool SaveTo(const QString& path, QString& error) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void KeepReaderCursor(int anchor, int position);
    void Rebuild();
    void SaveAs();

    const rtl::TMemo& FLog;
    QPlainTextEdit* FText = nullptr;
    QPushButton* FSave = nullptr;
    // Lines in FText; the text alone cannot tell one empty line from none.
    std::size_t FShownLines = 0;
    bool FStale = true;
};

} // namespace qtui
