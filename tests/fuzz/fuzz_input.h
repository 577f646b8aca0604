// Reading a fuzzer's input bytes as a stream of small decisions, and stopping
// the fuzzer with a readable message when an invariant breaks. Shared by the
// libFuzzer targets of the text handling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Past the end of the input every read gives zero, so that every input, even
// an empty one, decodes to a complete and reproducible run.
struct fuzz_input {
    const std::uint8_t* next;
    const std::uint8_t* end;

    [[nodiscard]] bool exhausted() const { return next == end; }

    std::uint8_t byte() { return next != end ? *next++ : 0; }

    std::uint16_t u16()
    {
        const unsigned low = byte();
        const unsigned high = byte();
        return static_cast<std::uint16_t>(low | (high << 8U));
    }

    std::uint32_t u32()
    {
        const std::uint32_t low = u16();
        const std::uint32_t high = u16();
        return low | (high << 16U);
    }

    std::uint64_t u64()
    {
        const std::uint64_t low = u32();
        const std::uint64_t high = u32();
        return low | (high << 32U);
    }
};

// A broken invariant is a crash for libFuzzer: it keeps the input that caused
// it and reports the message with the sanitizer's stack trace.
inline void require(bool holds, const char* invariant)
{
    if (!holds) {
        std::fprintf(stderr, "broken invariant: %s\n", invariant);
        std::abort();
    }
}
