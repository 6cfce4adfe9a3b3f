#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

using TBytes = std::vector<std::uint8_t>;

// The host's side of the unit socket, raw: hello, open, reports.
class TTestClient {
public:
    TTestClient() = default;
    ~TTestClient();
    TTestClient(const TTestClient&) = delete;
    TTestClient& operator=(const TTestClient&) = delete;

    // Connects and reads the hello.
    bool Connect(const std::string& path);
    const std::string& Hello() const { return FHello; }
    std::map<std::string, std::string> HelloFields() const;

    bool Open(const std::string& access);
    bool SendRaw(const TBytes& message);
    // Report ID 0, the text, zero bytes to `length`.
    bool SendCommand(const std::string& text, std::size_t length = 65);
    bool SendReply(std::uint32_t code, std::uint32_t status, std::size_t length = 65);
    // One message, or nothing within `timeout`; an empty message means the unit closed.
    std::optional<TBytes> Receive(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void Close();

private:
    int FFd = -1;
    std::string FHello;
};

// The data of an input report after its report ID up to the first zero byte.
std::string TextOf(const TBytes& report);

} // namespace simtest
