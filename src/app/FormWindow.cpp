#include "FormWindow.h"

#include "rtl/TextEscape.h"
#include "rtl/MainThreadQueue.h"

#include <cerrno>
#include <cstring>

namespace app {

TFormWindow::TFormWindow() : FForm(std::make_unique<TForm1>()) {}

TFormWindow::~TFormWindow()
{
    FForm->SetPeer(nullptr);
    FForm.reset();
}

void TFormWindow::AttachControls()
{
    FForm->SetPeer(this);
    TimerChanged(*FForm->Timer1);
}

bool TFormWindow::AppendLogTo(const std::filesystem::path& file, std::string& error)
{
#ifdef _WIN32
    std::FILE* opened = _wfopen(file.c_str(), L"ab");
#else
    std::FILE* opened = std::fopen(file.c_str(), "ab");
#endif
    if (!opened) {
        error = std::strerror(errno);
        return false;
    }
    FLogFile.reset(opened);
    return true;
}

void TFormWindow::StepIfDue()
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    while (queue.HasPending())
        queue.ProcessPending();
    if (!MessagesWaiting())
        FForm->Timer1->TickIfDue();
    SetStepTimer(FForm->Timer1->DueAt());
}

void TFormWindow::CaptionChanged(rtl::TLabel& label)
{
    ShowStatus(label.Caption());
}

void TFormWindow::LineAdded(rtl::TMemo& memo, const AnsiString& line)
{
    if (&memo != FForm->Memo1.get())
        return;
    if (FLogFile) {
        const std::string text = rtl::LogLineText(line) + "\n";
        std::fwrite(text.data(), 1, text.size(), FLogFile.get());
        std::fflush(FLogFile.get());
    }
    LogLineAdded(memo, line);
    if (FLogListener)
        FLogListener(line);
}

void TFormWindow::Cleared(rtl::TMemo& memo)
{
    if (&memo == FForm->Memo1.get())
        LogCleared();
}

void TFormWindow::FirstLinesRemoved(rtl::TMemo& memo, std::size_t count)
{
    if (&memo == FForm->Memo1.get())
        LogFirstLinesRemoved(count);
}

void TFormWindow::LinesChanged(rtl::TMemo& memo)
{
    if (&memo == FForm->Memo2.get())
        ShowIdentityLines(memo);
}

void TFormWindow::TimerChanged(rtl::TTimer& timer)
{
    SetStepTimer(timer.DueAt());
}

void TFormWindow::EnabledChanged(rtl::TMenuItem& item)
{
    MenuEnabled(item);
}

} // namespace app
