#pragma once

// A TForm1 driven in the fuzzer's own process, as the reader thread's hand-over and the
// front end's timer would drive it, over an empty private unit directory. After every
// action it checks what no unit may ever make the tool do.

#include "app/Main.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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

class TFormHarness {
public:
    // The confirmations are answered OK or Cancel by the bits of `answers`, lowest first.
    explicit TFormHarness(std::uint8_t answers);
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
    void CheckNewLogLines();
    void CheckSerialCommand(const rtl::AnsiString& command) const;

    std::unique_ptr<app::TForm1> FForm;
    std::uint8_t FAnswers;
    unsigned FBoxes = 0;
    std::size_t FCheckedLines = 0;
};

// The steps a session can be in, for an input byte to pick one.
std::int32_t StateFromByte(std::uint8_t byte);

} // namespace fuzzing
