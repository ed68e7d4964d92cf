// The oversampled clip over a window of a file's samples with context either
// side, as wavfx clips a file a block at a time: only the stretches that
// samples past the ceiling reach go through the clip, each with the context its
// corrections depend on, so a block gives what the whole file would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp/ClipStream.h"

namespace velorik::dsp {

// Where in a window the audio lies; zeros outside it are silence before and
// after the audio, which holding the true peak keeps silent.
struct Audio {
    std::size_t from = 0, to = SIZE_MAX;
};

class OversampledClip {
public:
    static constexpr unsigned TruePeakLeast = ClipStream::TruePeakLeast;

    // As ClipStream takes them.
    OversampledClip(unsigned factor, float ceiling, bool truePeak = false);

    // How many samples on either side a sample's correction depends on.
    std::size_t Reach() const { return stream_.Latency(); }

    // `window` holds Reach() samples of context, `count` samples, and Reach()
    // more (zeros beyond the audio's ends). Writes the correction of the
    // `count` middle samples, exactly 0 where the clip leaves a sample alone;
    // false when all of it is.
    bool Correct(const float* window, std::size_t count, float* correction, Audio audio = {});

private:
    ClipStream stream_;
    bool truePeak_;
    std::vector<float> tail_;  // a span's last hop, padded with silence
};

}  // namespace velorik::dsp
