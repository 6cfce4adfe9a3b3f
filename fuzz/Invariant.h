#pragma once

// A broken invariant ends the run the way libFuzzer records as a crash, with the reason.

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void Fail(const char* what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}
