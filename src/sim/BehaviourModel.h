#pragma once

#include "Report.h"

#include <chrono>
#include <optional>
#include <string>

namespace sim {

class TVirtualUnit;

enum class TSserReply { Ok, Ng, None };

struct TModelSettings {
    std::string Version = "1.0.05";
    std::string Pcb = "P2301A000417";
    std::string Bat = "B2210C000388";
    std::string Ser = "QM0000012345";
    std::optional<TBytes> InfoFile; // replaces the built-in RGINFO.INI
    TSserReply SserReply = TSserReply::Ok;
};

// How a Quillmark unit answers the tool's commands when no script drives it.
class TBehaviourModel {
public:
    enum class TAnswerKind { Report, Upload, Silent, StrayReply };
    struct TAnswer {
        TAnswerKind Kind = TAnswerKind::Silent;
        std::string Text; // the input report's text for Report
    };

    explicit TBehaviourModel(TModelSettings settings) : FSettings(std::move(settings)) {}

    // Decides the answer to one command text and applies its effect (SSER stores the numbers).
    TAnswer AnswerCommand(const std::string& command);
    // The information file as an upload would send it now.
    TBytes InfoFile() const;
    const TModelSettings& Settings() const { return FSettings; }

    // Answers output reports until a stop is requested.
    void Run(TVirtualUnit& unit, std::chrono::milliseconds stepTimeout);

private:
    TAnswer AnswerSerialWrite(const std::string& numbers);
    void SendAnswer(TVirtualUnit& unit, const std::string& command, const std::string& text,
                    std::chrono::milliseconds stepTimeout, bool& stopped);

    TModelSettings FSettings;
};

} // namespace sim
