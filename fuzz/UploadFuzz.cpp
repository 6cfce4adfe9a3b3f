// The file upload receiver on arbitrary packet sequences, and the RGINFO.INI parser on
// arbitrary files delivered by a well-formed upload.

#include "FormHarness.h"

#include <cstring>

namespace {

std::string Dword(std::uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// Type, two fields and text, as a unit frames a packet.
std::string Packet(const char* type, std::uint32_t first, const std::string& rest)
{
    return std::string(type, 4) + Dword(first) + rest;
}

void UploadFile(fuzzing::TFormHarness& harness, const std::string& file)
{
    constexpr std::size_t perPacket = 1016;
    harness.Report(Packet("UPLS", static_cast<std::uint32_t>(file.size()), Dword(0) + std::string("RGINFO.INI\0", 11)));
    std::size_t at = 0;
    std::uint32_t number = 0;
    for (; file.size() - at > perPacket; at += perPacket)
        harness.Report(Packet("UPLD", number++, file.substr(at, perPacket)));
    const std::string last = file.substr(at);
    harness.Report(Packet("UPLE", static_cast<std::uint32_t>(last.size()), last));
    harness.Report(Packet("UPLI", static_cast<std::uint32_t>(file.size()), "20260101000000"));
    // The serial write's answer, whichever way it went.
    harness.Report("OK\r\n");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzing::TInput input(data, size);
    const std::uint8_t mode = input.Byte();
    // Bit 3: a unit takes every command, so that a serial write awaits its answer.
    fuzzing::TFormHarness harness(input.Byte(), mode & 8);
    // Firmware type 1 never writes the serial; the others do. The version's length sets it.
    static const char* const versions[] = {"OK 1.0.5\r\n", "OK 1.0\r\n", "OK 1.0.05\r\n", "OK 1.0.5\r\n"};
    harness.Begin(app::stVersionWait);
    harness.Report(versions[mode >> 1 & 3]);
    harness.Begin(app::stUploadWait);
    if (mode & 1) {
        UploadFile(harness, input.Bytes(size));
        return 0;
    }
    while (!input.Empty())
        harness.Report(input.Bytes(input.Word() % 2100));
    return 0;
}
