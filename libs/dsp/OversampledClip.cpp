#include "dsp/OversampledClip.h"

#include <algorithm>

namespace velorik::dsp {

namespace {

// Samples a span goes through the stream at a time: enough that each hop's sums
// run long, few enough that a short span pays little for its padding.
constexpr std::size_t Hop = 512;

}  // namespace

OversampledClip::OversampledClip(unsigned factor, float ceiling, bool truePeak)
    : stream_(factor, ceiling, truePeak, Hop), truePeak_(truePeak), tail_(Hop) {}

bool OversampledClip::Correct(const float* window, std::size_t count, float* correction, Audio audio) {
    std::fill(correction, correction + count, 0.0f);
    const std::size_t reach = Reach(), total = count + 2 * reach, latency = stream_.Latency();
    auto over = [&](std::size_t n) {
        return stream_.Over(window + n, static_cast<std::ptrdiff_t>(n), static_cast<std::ptrdiff_t>(total - 1 - n));
    };
    bool any = false;
    // Only spans that samples past the ceiling reach change, each settled with
    // its context: a correction depends on nothing further than the reach, so a
    // span gives what the whole window would. Overs closer than that share one.
    for (std::size_t at = 0; at < total; ++at) {
        if (!over(at)) continue;
        std::size_t last = at;
        for (std::size_t n = at + 1; n < std::min(total, last + 4 * reach + 1); ++n) last = over(n) ? n : last;
        const std::size_t begin = at > 2 * reach ? at - 2 * reach : 0, end = std::min(total, last + 2 * reach + 1);
        const std::size_t length = end - begin;
        // Exact but within the reach of a cut the window itself does not make.
        const std::size_t from = std::max(begin + (begin > 0 ? reach : 0), reach);
        const std::size_t to = std::min(end - (end < total ? reach : 0), reach + count);
        // Holding the true peak, the silence before and after the audio stays silent.
        std::int64_t first = INT64_MIN, past = INT64_MAX;
        if (truePeak_) {
            first = static_cast<std::int64_t>(audio.from) - static_cast<std::int64_t>(begin);
            if (audio.to != SIZE_MAX) past = static_cast<std::int64_t>(audio.to) - static_cast<std::int64_t>(begin);
        }
        stream_.Reset(first, past);
        // The stream gives each sample `latency` later: fed until the last one wanted comes out.
        const std::size_t needed = to > begin ? to - begin + latency : 0;
        for (std::size_t fed = 0; fed < needed;) {
            const std::size_t n = std::min(Hop, needed - fed);
            const float* in = window + begin + fed;
            if (fed + n > length) {
                std::fill(tail_.begin(), tail_.end(), 0.0f);
                if (fed < length) std::copy(in, in + (length - fed), tail_.begin());
                in = tail_.data();
            }
            const float *clipped = nullptr, *input = nullptr;
            stream_.Push(in, n, clipped, input);
            for (std::size_t j = 0; j < n; ++j) {
                if (fed + j < latency) continue;
                const std::size_t k = begin + fed + j - latency;  // in the window
                if (k < from || k >= to) continue;
                correction[k - reach] = clipped[j] - input[j];
                any = any || correction[k - reach] != 0.0f;
            }
            fed += n;
        }
        at = last;
    }
    return any;
}

}  // namespace velorik::dsp
