// The oversampled clip over samples as they stream from a file: bytes in as
// they are read, in any runs, the same bytes out clipped, in order, a block
// behind. Each channel is clipped on its own; blocks are shared out among the
// machine's cores. Every sample that no clip reaches leaves as it came.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/OversampledClip.h"
#include "format/SampleFormat.h"

namespace wavfx {

// How wavfx's own clip is done: at `factor` times the rate (1: the plain clip), and
// with `truePeak` holding the ceiling between the samples too.
struct Oversampling {
    unsigned factor = 1;
    bool truePeak = false;
};

class OversampledClipper {
public:
    OversampledClipper(const SampleFormat& format, const Ceiling& ceiling, const Oversampling& oversampling);

    // Takes `n` more bytes of samples; appends to `ready` what can be written now.
    void Push(const unsigned char* bytes, std::size_t n, std::vector<unsigned char>& ready);
    // The rest, a last partial frame as it came.
    void Finish(std::vector<unsigned char>& ready);
    std::uint64_t Changed() const { return changed_; }

private:
    // Clips and hands out the next `blocks` whole blocks, the last `last` frames long.
    void Flush(std::size_t blocks, std::size_t last, std::vector<unsigned char>& ready);
    std::uint64_t ClipBlock(velorik::dsp::OversampledClip& clip, std::size_t block, std::size_t frames);

    SampleFormat format_;
    Ceiling ceiling_;
    std::size_t frameBytes_, reach_, block_;
    std::vector<std::unique_ptr<velorik::dsp::OversampledClip>> workers_;
    // Frames from `reach_` before the first not yet handed out (zeros before the
    // file's start), as fractions of full scale, one row per channel; and those
    // frames' bytes from the first not yet handed out.
    std::vector<std::vector<float>> decoded_;
    std::vector<unsigned char> held_;
    std::vector<float> scratch_;
    std::uint64_t changed_ = 0;
    // Frames handed out so far, and all the file's once its end has come.
    std::size_t handed_ = 0, total_ = SIZE_MAX;
};

// The oversampling factors `--oversample` takes.
bool IsOversamplingFactor(long long factor);

}  // namespace wavfx
