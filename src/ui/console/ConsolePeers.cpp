#include "ConsolePeers.h"

#include "ConsoleLoop.h"
#include "ConsoleText.h"

#include "rtl/Application.h"
#include "rtl/CodePage.h"

namespace console {

std::string OneLine(const rtl::AnsiString& text)
{
    return rtl::LogLineText(text);
}

TConsolePeers::TConsolePeers(app::TForm1& form, const TSessionOptions& options, std::ostream& out, std::ostream& err,
                             std::string outPrefix, std::string errPrefix)
    : FForm(form), FOptions(options), FOut(out), FErr(err), FOutPrefix(std::move(outPrefix)),
      FErrPrefix(std::move(errPrefix))
{
    form.SetPeer(this);
    form.OnUnitInUse = rtl::TNotifyEvent::Of<&TConsolePeers::UnitInUse>(this);
    CaptionChanged(*form.Label1);
}

TConsolePeers::~TConsolePeers()
{
    FForm.OnUnitInUse = {};
    FForm.SetPeer(nullptr);
}

void TConsolePeers::CaptionChanged(rtl::TLabel& label)
{
    FErr << FErrPrefix << "status: " << OneLine(label.Caption()) << std::endl;
}

void TConsolePeers::LineAdded(rtl::TMemo& memo, const rtl::AnsiString& line)
{
    if (&memo == FForm.Memo1.get())
        FOut << FOutPrefix << OneLine(line) << std::endl;
}

void TConsolePeers::LinesChanged(rtl::TMemo& memo)
{
    if (&memo != FForm.Memo2.get())
        return;
    const auto& lines = memo.Lines();
    FErr << FErrPrefix << "identity: " << (lines.size() > 0 ? OneLine(lines[0]) : "") << " | "
         << (lines.size() > 1 ? OneLine(lines[1]) : "") << std::endl;
}

void TConsolePeers::UnitInUse(rtl::TObject*)
{
    for (const std::string& path : FForm.UnitsInUse())
        if (FInUseTold.insert(path).second)
            FErr << FErrPrefix << "tolvane-cli: the unit at " << EscapePath(path)
                 << " is in use by another process; waiting for it" << std::endl;
}

int TConsolePeers::Answer(const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned)
{
    if (caption != app::ConfirmationCaption)
        return rtl::IdOk;
    const bool yes = rtl::Contains(text, "RGINFO.INI") ? FOptions.ReadInfo : FOptions.WriteSerial;
    FErr << FErrPrefix << "confirm: " << OneLine(rtl::StringReplaceAll(text, "\r\n", " ")) << " -> "
         << (yes ? "OK" : "Cancel") << std::endl;
    return yes ? rtl::IdOk : rtl::IdCancel;
}

std::optional<TConsolePeers::Clock::time_point> TConsolePeers::NextWake() const
{
    return FForm.Timer1->DueAt();
}

void TConsolePeers::TickIfDue()
{
    if (TConsoleLoop::NothingWaiting())
        FForm.Timer1->TickIfDue();
}

} // namespace console
