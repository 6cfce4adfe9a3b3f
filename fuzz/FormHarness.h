#pragma once

// A TForm1 driven in the fuzzer's own process, as the reader thread's hand-over and the
// front end's timer would drive it, over an empty private unit directory. After every
// action it checks what no unit may ever make the tool do.

#include "app/Main.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fuzzing {

// The fuzzer's input, consumed front to back; reads past its end give zeros.
class TInput {
public:
    TInput(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
    bool Empty() const { return FPos >= FSize; }
    std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
    // Up to `count` bytes, fewer when the input ends.
    std::string Bytes(std::size_t count);

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

// What the unit's reports and the session's own output say of one session's verdicts, kept
// apart from the session's flags, which are checked against it. A VER starts it afresh.
struct TSessionModel {
    bool Started = false;                   // a start packet accepted
    bool Refused = false;                   // a data or end packet refused since it
    bool Ended = false;                     // an end packet accepted since it
    std::int64_t Received = 0;              // file bytes accepted since it
    std::size_t AnswerFrom = 0;             // the first report that can answer SSER; 0: none asked
    std::optional<std::string> SerialBlock; // the response taken as the serial block
};

class TFormHarness : private rtl::TMemoPeer {
public:
    // The confirmations are answered OK or Cancel by the bits of `answers`, lowest first.
    // With `writesTaken` every command counts as written, as a held unit would take it;
    // otherwise none does.
    TFormHarness(std::uint8_t answers, bool writesTaken);
    ~TFormHarness();

    app::TForm1& Form() { return *FForm; }
    // As if a unit were held in this state.
    void Begin(std::int32_t state);
    // One input report of exactly these bytes, in a heap block of exactly that size, so that
    // AddressSanitizer sees any read past it; then one timer tick.
    void Report(const std::string& bytes);
    void Step();
    // A device change with no unit to take: what the form sees when its unit has gone.
    void DeviceChange();

private:
    // Every line the log gets, also once the log keeps only its newest.
    void LineAdded(rtl::TMemo&, const rtl::AnsiString& line) override;
    void CheckNewLogLines();
    void CheckSerialCommand(const rtl::AnsiString& command) const;
    // The commands a step wrote, into the model; then the verdicts it reached, against it.
    void FollowCommand(const std::string& message);
    void CheckVerdicts(bool wasVerified, bool wasWritten);

    std::unique_ptr<app::TForm1> FForm;
    std::uint8_t FAnswers;
    unsigned FBoxes = 0;
    std::vector<std::string> FNewLines;
    std::size_t FFed = 0;  // reports fed; the last is the response a step takes
    std::string FResponse; // the last one as the command channel keeps it
    TSessionModel FSession;
    std::size_t FCommandsThisStep = 0;
    bool FVerifiedLogged = false;
};

// The steps a session can be in, for an input byte to pick one.
std::int32_t StateFromByte(std::uint8_t byte);

} // namespace fuzzing
