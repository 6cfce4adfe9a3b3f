#include "BehaviourModel.h"

#include "Console.h"
#include "Upload.h"
#include "VirtualUnit.h"

#include <ctime>

namespace sim {

namespace {

constexpr std::size_t SerialColumn = 12;
const std::string InfoFileName = "RGINFO.INI";

std::string PadColumn(const std::string& value)
{
    return value.size() >= SerialColumn ? value : value + std::string(SerialColumn - value.size(), ' ');
}

} // namespace

TBehaviourModel::TAnswer TBehaviourModel::AnswerCommand(const std::string& command)
{
    if (command == "VER")
        return {TAnswerKind::Report, "OK " + FSettings.Version + "\r\n"};
    if (command == "GSER")
        return {TAnswerKind::Report,
                "OK " + PadColumn(FSettings.Pcb) + " " + PadColumn(FSettings.Bat) + " " + PadColumn(FSettings.Ser)
                    + "\r\n"};
    if (command.rfind("UPLS ", 0) == 0)
        return command.substr(5) == InfoFileName ? TAnswer{TAnswerKind::Upload, {}}
                                                 : TAnswer{TAnswerKind::Report, "NG\r\n"};
    if (command.rfind("SSER ", 0) == 0)
        return AnswerSerialWrite(command.substr(5));
    if (command.rfind("UPLR", 0) == 0)
        return {TAnswerKind::StrayReply, {}};
    return {TAnswerKind::Report, "NG\r\n"};
}

TBehaviourModel::TAnswer TBehaviourModel::AnswerSerialWrite(const std::string& numbers)
{
    std::string fields[3];
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = numbers.find(' ', start);
        const std::string field = numbers.substr(start, space == std::string::npos ? space : space - start);
        if (field.empty() || field.size() > SerialColumn || count == 3)
            return {TAnswerKind::Report, "NG\r\n"};
        fields[count++] = field;
        if (space == std::string::npos)
            break;
        start = space + 1;
    }
    if (count != 3)
        return {TAnswerKind::Report, "NG\r\n"};

    switch (FSettings.SserReply) {
    case TSserReply::Ng: return {TAnswerKind::Report, "NG\r\n"};
    case TSserReply::Ok:
    case TSserReply::None:
        FSettings.Pcb = fields[0];
        FSettings.Bat = fields[1];
        FSettings.Ser = fields[2];
        break;
    }
    return FSettings.SserReply == TSserReply::Ok ? TAnswer{TAnswerKind::Report, "OK\r\n"}
                                                 : TAnswer{TAnswerKind::Silent, {}};
}

TBytes TBehaviourModel::InfoFile() const
{
    if (FSettings.InfoFile)
        return *FSettings.InfoFile;
    // The tool takes any line containing "ser", "pcb" or "bat" as an item, so no other line may.
    std::string text = "[RGINFO]\r\nmodel QM-2\r\n";
    text += "fw " + FSettings.Version + "\r\n";
    text += "ser " + FSettings.Ser + "\r\n";
    text += "pcb " + FSettings.Pcb + "\r\n";
    text += "bat " + FSettings.Bat + "\r\n";
    text += "date 2026/03/14\r\n";
    return BytesOf(text);
}

void TBehaviourModel::Run(TVirtualUnit& unit, std::chrono::milliseconds stepTimeout)
{
    const char* name = unit.Description().Name.c_str();
    for (;;) {
        TBytes report;
        if (unit.NextOutputReport(report, TVirtualUnit::Forever) != TWaitResult::Ready)
            return;
        const std::string command = CommandTextOf(report);
        const TAnswer answer = AnswerCommand(command);
        bool stopped = false;
        switch (answer.Kind) {
        case TAnswerKind::Report: SendAnswer(unit, command, answer.Text, stepTimeout, stopped); break;
        case TAnswerKind::Silent: break;
        case TAnswerKind::StrayReply: PrintDiagnostic("%s: UPLR reply outside an upload; ignored", name); break;
        case TAnswerKind::Upload: {
            TUploadRequest request;
            request.File = InfoFile();
            request.Name = InfoFileName;
            request.TimeStamp = static_cast<std::uint32_t>(std::time(nullptr));
            request.StampText = UploadStampNow();
            if (const auto failure = RunUpload(unit, request, stepTimeout)) {
                stopped = failure->Stopped;
                if (!stopped)
                    PrintDiagnostic("%s: upload of %s ended: expected %s; instead: %s", name, InfoFileName.c_str(),
                                    failure->Expected.c_str(), failure->Arrived.c_str());
            }
            break;
        }
        }
        if (stopped)
            return;
    }
}

void TBehaviourModel::SendAnswer(TVirtualUnit& unit, const std::string& command, const std::string& text,
                                 std::chrono::milliseconds stepTimeout, bool& stopped)
{
    switch (unit.SendInputReport(BytesOf(text), stepTimeout)) {
    case TWaitResult::Ready: break;
    case TWaitResult::TimedOut:
        PrintDiagnostic("%s: no connection opened for reading within %s; answer to %s dropped",
                        unit.Description().Name.c_str(), SecondsText(stepTimeout).c_str(),
                        DescribeBytes(BytesOf(command)).c_str());
        break;
    case TWaitResult::Stopped: stopped = true; break;
    }
}

} // namespace sim
