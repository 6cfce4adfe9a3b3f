#pragma once

#include <cstdint>
#include <string_view>

namespace rtl {

// FNV-1a, 64 bits: a stable name for a text, the same in every process and build.
constexpr std::uint64_t Fnv1a64(std::string_view text)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3u;
    }
    return hash;
}

} // namespace rtl
