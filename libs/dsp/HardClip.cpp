#include "dsp/HardClip.h"

#include "dsp/Vectorise.h"

namespace velorik {

VWD_WITH_AVX2 void ClipRun(int16_t* samples, std::size_t count, int16_t threshold) noexcept {
    // Each sign of the threshold reduces to a form without 32-bit widening:
    // t >= 0 is a clamp into [-t, t]; for t < 0 every sample not above t lies
    // below -t, so it takes -t's low 16 bits.
    if (threshold >= 0) {
        const int16_t low = static_cast<int16_t>(-threshold);
        for (std::size_t i = 0; i < count; ++i) {
            const int16_t s = samples[i];
            const int16_t upper = s > threshold ? threshold : s;
            samples[i] = upper < low ? low : upper;
        }
    } else {
        const int16_t mirror =
            static_cast<int16_t>(static_cast<uint16_t>(-static_cast<int32_t>(threshold) & 0xFFFF));
        for (std::size_t i = 0; i < count; ++i) samples[i] = samples[i] > threshold ? threshold : mirror;
    }
}

}  // namespace velorik
