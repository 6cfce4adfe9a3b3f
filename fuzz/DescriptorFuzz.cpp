// The hidraw source's report-descriptor parser: the descriptor is whatever the device says.

#include "posix/ReportDescriptor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // An exact-size block: a read past the descriptor is an AddressSanitizer report.
    const std::unique_ptr<std::uint8_t[]> descriptor(new std::uint8_t[size]);
    std::copy(data, data + size, descriptor.get());
    const auto caps = winapi::posix::ParseReportDescriptor(descriptor.get(), size);
    if (!caps.Error.empty() && !caps.Collections.empty())
        Fail("a refused descriptor with collections");
    for (const auto& collection : caps.Collections) {
        if (!caps.HasReportIds && (collection.InputReportIds & ~std::bitset<256>(1)).any())
            Fail("a report ID on a device without report IDs");
        // A length counts the report-ID byte, so one that is there is never 1 byte short of it.
        if (collection.InputLength == 1 && collection.InputReportIds.none())
            Fail("an input length without an input report");
    }
    return 0;
}
