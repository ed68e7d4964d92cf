// The hard clip applied to every sample of the distortion pass.
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

void ClipSample(int16_t& sample, int16_t threshold) noexcept;

// ClipSample over a run, branch-free so that the compiler vectorises it.
void ClipRun(int16_t* samples, std::size_t count, int16_t threshold) noexcept;

// The threshold argument's low 16 bits, read as signed.
inline int16_t ThresholdFromArgument(int32_t threshold) noexcept {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(threshold) & 0xFFFFu));
}

}  // namespace velorik
