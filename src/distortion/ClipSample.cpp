#include "distortion/ClipSample.h"

namespace velorik {

void ClipSample(int16_t& sample, int16_t threshold) noexcept { sample = ClippedValue(sample, threshold); }

}  // namespace velorik
