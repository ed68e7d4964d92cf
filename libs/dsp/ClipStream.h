// The oversampled clip as a stream: samples go in a hop at a time and come out
// clipped, Latency() samples later, with no allocation, lock or system call
// after construction, whatever the audio.
//
// The clip is a correction added to the input: the clipped excess of the
// upsampled signal, band-limited and brought back to the file's rate. Band-limiting
// rings past the ceiling (Gibbs), so more rounds clip what rings over, slightly
// below the ceiling and over-weighted, which settles the peaks at the ceiling with
// no new harmonics; a last clamp by the caller takes what is left, a few
// hundredths of a dB. Without the true peak, a round clips only near the samples
// past the ceiling and what the rounds before changed, so audio far from any clip
// comes out exactly as it went in.
//
// Holding the true peak, the ceiling holds between the samples as well. Near a
// stretch that passes it, the top of the band, which the rounds could not see
// whole, is taken away first; then every point of the upsampled signal is
// clipped, each correction kept within the band the rounds see whole; then a few
// rounds against the interpolation loudness meters read the true peak with, so
// that they agree.
//
// The rate is doubled and halved by a cascade: one sharp filter between the
// file's rate and twice it, and short half-band filters above, which need only
// keep the band's images and aliases apart. A signal at N times the rate is kept
// as its N phases: every filter is then a sum of whole shifted rows, which
// vectorises with no interleaving. Each round is a stage of a pipeline that lags
// the one before by the filters' reach, so each sample is filtered once per round.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp/Filters.h"

namespace velorik::dsp {

class ClipStream {
public:
    // The least factor that holds the true peak: at 2 or 4 times the rate the
    // points clipped lie too far apart to catch every peak between them.
    static constexpr unsigned TruePeakLeast = 8;

    // `factor` is 2, 4, 8, 16 or 32 (with `truePeak`, at least TruePeakLeast is
    // used); `ceiling` a fraction of full scale, above 0; `hop` samples go in and
    // come out at a time, at most.
    ClipStream(unsigned factor, float ceiling, bool truePeak, std::size_t hop);

    std::size_t Hop() const { return hop_; }
    // A new ceiling, from the next push on; nothing else changes.
    void SetCeiling(float ceiling) { ceiling_ = ceiling; }
    // How many samples the clipped signal lags the input: how far ahead the clip looks.
    std::size_t Latency() const { return signals_[final_].lag; }

    // Starts again from silence. Holding the true peak, only positions [from, to),
    // counted from this start, carry audio: the rest is silence, and stays silent
    // (a correction there would be lost, and the peaks it held down between the
    // samples would come back). The sample-peak clip needs no such bounds.
    void Reset(std::int64_t from = INT64_MIN, std::int64_t to = INT64_MAX);

    // Takes `count` samples, at most Hop(); `clipped` then points at the `count`
    // samples Latency() back, clipped but for the caller's last clamp, and `input`
    // at the same samples as they came in. Both stay valid until the next call.
    void Push(const float* in, std::size_t count, const float*& clipped, const float*& input);

    // Whether `at[0]` is past the ceiling, or (holding the true peak) its estimate
    // on the way to `at[1]`; `before` and `after` samples either side are there to
    // read (the rest is silence).
    bool Over(const float* at, std::ptrdiff_t before, std::ptrdiff_t after) const;

private:
    struct Signal {
        std::size_t lag = 0, history = 0, capacity = 0, offset = 0, now = 0;
        std::vector<std::vector<float>> phases;
    };
    enum class Kind { Fir, Excess, Concerned, Gate, Add, Overs, Fade };
    static constexpr std::size_t None = SIZE_MAX;
    struct Step {
        Kind kind;
        std::size_t in, out, other = None, gate = None;
        const Taps* taps = nullptr;
        float level = 0.0f, weight = 0.0f;  // level: a fraction of the ceiling
        bool first = false;
    };

    std::size_t NewSignal(std::size_t phases, std::size_t lag);
    // A step writing at `lag` reads `signal` as far as `back` samples before its own positions.
    void Reads(std::size_t signal, std::size_t lag, std::size_t back);
    std::size_t Filter(std::size_t in, const Taps& taps);
    std::size_t Add(std::size_t in, std::size_t step, float weight);
    std::size_t ModelRound(std::size_t in, bool first, float level, float weight);
    std::size_t MeterRound(std::size_t in);
    std::size_t FadeTheTop(std::size_t in);
    const float* At(std::size_t signal, unsigned phase, std::size_t lag, int shift) const;
    void Begin(std::size_t signal);
    void Run(const Step& step);
    // Silence where there is no audio.
    void Pin(std::size_t signal);

    float ceiling_;
    bool truePeak_;
    std::size_t hop_, count_ = 0;
    std::vector<Stage> cascade_;
    Taps top_, meter_, adjoint_;  // the band the rounds see whole; the meter's interpolation and its adjoint
    std::vector<std::vector<float>> between_;  // estimates a quarter, a half and three quarters on
    float meterStep_ = 0.0f;
    std::vector<Signal> signals_;
    std::vector<Step> steps_;
    std::size_t input_ = 0, final_ = 0;
    std::int64_t position_ = 0, from_ = INT64_MIN, to_ = INT64_MAX;  // the position of the hop's first input
    std::vector<const float*> rows_;
    std::vector<float> coefficients_;
};

}  // namespace velorik::dsp
