// A hard clip done at N times the sample rate, so that the harmonics it makes
// above the band are filtered away instead of folding back into it, with the
// ceiling held at the file's own rate.
//
// The clip is a correction added to the input: the clipped excess of the
// upsampled signal, band-limited and brought back to the file's rate. Where no
// sample needs clipping the correction is exactly zero, so audio far from any
// clip comes out as it went in. Band-limiting rings past the ceiling (Gibbs),
// so two more rounds clip what rings over, slightly below the ceiling and
// doubled, which settles the peaks at the ceiling with no new harmonics; a last
// clamp by the caller takes what is left, a few hundredths of a dB.
//
// The rate is doubled and halved by a cascade: one sharp filter between the
// file's rate and twice it, and short half-band filters above, which need only
// keep the band's images and aliases apart. A signal at N times the rate is
// kept as its N phases, each as long as the file's block: every filter is then
// a sum of whole shifted rows, which vectorises with no interleaving.
#pragma once

#include <cstddef>
#include <vector>

namespace velorik::dsp {

class OversampledClip {
public:
    // `factor` is 2, 4, 8, 16 or 32; `ceiling` a fraction of full scale, above 0.
    OversampledClip(unsigned factor, float ceiling);

    // How many samples on either side a sample's correction depends on.
    std::size_t Reach() const { return reach_; }

    // `window` holds Reach() samples of context, `count` samples, and Reach()
    // more (zeros beyond the audio's ends). Writes the correction of the
    // `count` middle samples, exactly 0 where the clip leaves a sample alone;
    // false when all of it is.
    bool Correct(const float* window, std::size_t count, float* correction);

    // One output phase's sum: each tap a coefficient on an input phase, shifted.
    struct Tap {
        unsigned phase;
        int shift;
        float coefficient;
    };
    struct Stage {
        std::vector<std::vector<Tap>> up;    // per phase of the higher rate
        std::vector<std::vector<Tap>> down;  // per phase of the lower rate
    };

private:
    void Settle(const float* window, std::size_t length);
    void Run(unsigned from, const std::vector<Tap>& taps, float* out);
    void Round(float level, float weight);

    unsigned stages_;
    float ceiling_;
    std::size_t reach_ = 0, length_ = 0;
    std::vector<Stage> cascade_;
    // rate_[s][p]: phase p of the signal at 2^s times the rate, with zero margins.
    std::vector<std::vector<std::vector<float>>> rate_;
    std::vector<const float*> rows_;
    const float* input_ = nullptr;  // the span being settled, as it came
    std::vector<float> coefficients_, clipped_, concerned_, gate_;
};

}  // namespace velorik::dsp
