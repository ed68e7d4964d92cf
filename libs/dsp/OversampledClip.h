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
// Holding the true peak, the ceiling holds between the samples as well. Near a
// stretch that passes it, the top of the band, which the rounds could not see
// whole, is taken away first; then every point of the upsampled signal is
// clipped, in more rounds, each correction kept within the band the rounds see
// whole; then a few rounds against the interpolation loudness meters read the
// true peak with, so that they agree.
//
// The rate is doubled and halved by a cascade: one sharp filter between the
// file's rate and twice it, and short half-band filters above, which need only
// keep the band's images and aliases apart. A signal at N times the rate is
// kept as its N phases, each as long as the file's block: every filter is then
// a sum of whole shifted rows, which vectorises with no interleaving.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velorik::dsp {

// Where in a window the audio lies; zeros outside it are silence before and
// after the audio, which holding the true peak keeps silent.
struct Audio {
    std::size_t from = 0, to = SIZE_MAX;
};

class OversampledClip {
public:
    // The least factor that holds the true peak: at 2 or 4 times the rate the
    // points clipped lie too far apart to catch every peak between them.
    static constexpr unsigned TruePeakLeast = 8;

    // `factor` is 2, 4, 8, 16 or 32; `ceiling` a fraction of full scale, above 0;
    // `truePeak`: the ceiling holds between the samples too (at TruePeakLeast or more).
    OversampledClip(unsigned factor, float ceiling, bool truePeak = false);

    // How many samples on either side a sample's correction depends on.
    std::size_t Reach() const { return reach_; }

    // `window` holds Reach() samples of context, `count` samples, and Reach()
    // more (zeros beyond the audio's ends). Writes the correction of the
    // `count` middle samples, exactly 0 where the clip leaves a sample alone;
    // false when all of it is.
    bool Correct(const float* window, std::size_t count, float* correction, Audio audio = {});

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
    // Whether the signal passes the ceiling at `n` or on its way to the next sample.
    bool Over(const float* window, std::size_t n, std::size_t total) const;
    void Settle(const float* window, std::size_t length);
    void KeepTheSilence();
    void FadeTheTop();
    void Run(unsigned from, const std::vector<Tap>& taps, float* out);
    void Round(float level, float weight);
    void MeterRound(float level);
    const float* TakeTheTop(const float* signal);

    unsigned stages_;
    float ceiling_;
    bool truePeak_;
    // The taps that estimate the signal a quarter, a half and three quarters of the way
    // to the next sample, from the samples either side.
    std::vector<std::vector<float>> between_;
    // The meter's interpolation to four times the rate, as taps on the samples around each quarter.
    std::vector<float> meter_;
    // A sharp lowpass at the file's rate, below the first stage's edge: the band the rounds see whole.
    std::vector<float> top_;
    float meterStep_ = 0.0f;
    std::size_t reach_ = 0, length_ = 0, margin_ = 0;
    Audio audio_;  // in the span being settled
    std::vector<Stage> cascade_;
    // rate_[s][p]: phase p of the signal at 2^s times the rate, with zero margins.
    std::vector<std::vector<std::vector<float>>> rate_;
    std::vector<const float*> rows_;
    const float* input_ = nullptr;  // the span being settled, as it came
    std::vector<float> coefficients_, clipped_, concerned_, gate_, fade_, padded_, excess_, step_;
};

}  // namespace velorik::dsp
