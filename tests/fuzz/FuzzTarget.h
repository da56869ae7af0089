#pragma once

// The one entry point every fuzz target defines. Under clang with -fsanitize=fuzzer libFuzzer calls it;
// in every other build FuzzMain.cpp runs the seed corpus through it once.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace qb::fuzz {

inline std::span<const std::uint8_t> bytes(const std::uint8_t* data, std::size_t size) {
    return {data, size};
}

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A broken invariant is a finding: abort, so that libFuzzer keeps the input and the seed run fails.
inline void require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

}  // namespace qb::fuzz
