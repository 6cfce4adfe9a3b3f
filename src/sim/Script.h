#pragma once

#include "Report.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class TStepKind { Expect, ExpectAny, Send, Upload, Quiet, Sleep, Await, Unplug, Plug };

struct TScriptStep {
    TStepKind Kind = TStepKind::ExpectAny;
    int Line = 0;
    TBytes Bytes;                      // expect: the prefix; send, send-hex: the data
    std::uint32_t Milliseconds = 0;    // quiet, sleep
    std::string File;                  // upload: the path as written; await: the path
    std::optional<std::uint32_t> Size; // upload: size announced in UPLI
    std::optional<std::string> Stamp;  // upload: UPLI time-stamp text
    std::string Name = "RGINFO.INI";   // upload: UPLS file name
    TBytes FileContents;               // upload: filled by LoadFiles
};

struct TScriptError {
    int Line = 0;
    std::string Message;
};

// Resolves \r \n \t \0 \xHH \\; anything else after a backslash is an error.
std::optional<TBytes> ParseEscapes(std::string_view text, std::string& error);

inline constexpr long long MaximumFileSize = 16 * 1024 * 1024;

// Reads a regular file of at most MaximumFileSize bytes; on failure sets error.Message.
bool ReadWholeFile(const std::string& path, TBytes& contents, TScriptError& error);

// A checked list of steps; nothing runs before the whole script has parsed.
class TScript {
public:
    bool Parse(const std::string& text, TScriptError& error);
    // Reads every upload's file and resolves every awaited one, relative paths against
    // `baseDirectory`.
    bool LoadFiles(const std::string& baseDirectory, TScriptError& error);
    const std::vector<TScriptStep>& Steps() const { return FSteps; }

private:
    std::vector<TScriptStep> FSteps;
};

} // namespace sim
