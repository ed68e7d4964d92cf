// The hard clip applied to every sample of the distortion pass; the rule and its
// kernels are the clip's own (dsp/HardClip.h), shared with what counts the changes.
#pragma once

#include <cstdint>

#include "dsp/HardClip.h"

namespace velorik {

void ClipSample(int16_t& sample, int16_t threshold) noexcept;

}  // namespace velorik
