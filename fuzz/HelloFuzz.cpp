// The virtual unit's hello, as any process that can place a socket may send it.

#include "VirtualUnitSource.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // An exact-size block: a read past the message is an AddressSanitizer report.
    const std::unique_ptr<char[]> message(new char[size]);
    std::copy(data, data + size, message.get());
    const std::string_view hello(message.get(), size);
    std::string why;
    const auto identity = winapi::posix::ParseUnitHello(hello, why);
    if (!identity) {
        if (why.empty()) {
            std::fprintf(stderr, "invariant broken: a refused hello without a reason\n");
            std::abort();
        }
        return 0;
    }
    // Product runs to the end of the message, whatever it holds.
    const std::size_t tail = identity->Product.size() + 8;
    const std::size_t at = hello.size() - tail;
    if (hello.size() < tail || hello.substr(at, 8) != "product=" || hello.substr(at + 8) != identity->Product
        || (at != 0 && hello[at - 1] != '\n')) {
        std::fprintf(stderr, "invariant broken: product is not the rest of the hello\n");
        std::abort();
    }
    return 0;
}
