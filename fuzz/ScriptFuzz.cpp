// quillmark-sim's script parser: a script is whatever a test or an operator wrote.

#include "sim/Script.h"

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
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;

    sim::TScript script;
    sim::TScriptError error;
    if (!script.Parse(text, error)) {
        if (error.Line < 0 || error.Line > lines || error.Message.empty())
            Fail("a refused script without its line and reason");
    } else {
        for (const sim::TScriptStep& step : script.Steps())
            if (step.Line < 1 || step.Line > lines)
                Fail("a step outside the script's lines");
    }

    // An escape never gives more bytes than it was written with.
    std::string why;
    const std::unique_ptr<char[]> exact(new char[size]);
    std::copy(data, data + size, exact.get());
    if (const auto bytes = sim::ParseEscapes(std::string_view(exact.get(), size), why); bytes && bytes->size() > size)
        Fail("escapes that grow the text");
    return 0;
}
