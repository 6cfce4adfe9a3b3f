// The session in every state: input reports of any length and content, unit removals and
// jumps between states, with the confirmations answered either way.

#include "FormHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzing::TInput input(data, size);
    const std::int32_t state = fuzzing::StateFromByte(input.Byte());
    fuzzing::TFormHarness harness(input.Byte());
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
