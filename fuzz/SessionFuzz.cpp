// The session in every state: input reports of any length and content, unit removals and
// jumps between states, with the confirmations answered either way. Besides what no unit may
// make the tool do, the harness checks each verdict against what the reports said.

#include "FormHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzing::TInput input(data, size);
    const std::uint8_t first = input.Byte();
    const std::int32_t state = fuzzing::StateFromByte(first);
    // Bit 3: a unit takes every command, so that a serial write awaits its answer.
    fuzzing::TFormHarness harness(input.Byte(), first & 8);
    harness.Begin(state);
    while (!input.Empty()) {
        const std::uint8_t action = input.Byte();
        switch (action % 8) {
        case 5: harness.Step(); break;
        case 6: harness.DeviceChange(); break;
        case 7: harness.Begin(fuzzing::StateFromByte(input.Byte())); break;
        default:
            // Mostly short reports, as units send them; now and then up to the whole buffer.
            harness.Report(input.Bytes(action & 0x80 ? input.Word() % 2100 : input.Byte()));
            break;
        }
    }
    return 0;
}
