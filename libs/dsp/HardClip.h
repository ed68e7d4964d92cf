// The hard clip of 16-bit samples at a threshold, as the library applies it, and
// the kernels over runs of them: one rule for the library's pass and for what
// wavfx counts of it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velorik {

// The clip rule: samples above `threshold` become `threshold`; otherwise samples
// below -threshold (taken in 32 bits, so -(-32768) is +32768) become its low 16 bits.
constexpr int16_t ClippedValue(int16_t sample, int16_t threshold) noexcept {
    const int32_t mirror = -static_cast<int32_t>(threshold);
    return sample > threshold ? threshold
                              : sample < mirror ? static_cast<int16_t>(static_cast<uint16_t>(mirror & 0xFFFF)) : sample;
}

// How many of `count` samples (at most 2^32 - 1) the clip changes, in the forms
// the compiler vectorises: for t >= 0 a sample outside [-t, t]; for t < 0 one
// above t or, not above it, not yet -t's low 16 bits.
inline uint32_t CountClipChanges(const int16_t* samples, std::size_t count, int16_t threshold) noexcept {
    const auto mirror = static_cast<int16_t>(static_cast<uint16_t>(-static_cast<int32_t>(threshold) & 0xFFFF));
    uint32_t changed = 0;
    if (threshold >= 0)
        for (std::size_t i = 0; i < count; ++i)
            changed += static_cast<uint32_t>((samples[i] > threshold) | (samples[i] < mirror));
    else
        for (std::size_t i = 0; i < count; ++i)
            changed += static_cast<uint32_t>((samples[i] > threshold) | (samples[i] != mirror));
    return changed;
}

// The clip over a run, branch-free so that the compiler vectorises it.
void ClipRun(int16_t* samples, std::size_t count, int16_t threshold) noexcept;

// A threshold argument's low 16 bits, read as signed.
inline int16_t ThresholdFromArgument(int32_t threshold) noexcept {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(threshold) & 0xFFFFu));
}

}  // namespace velorik
