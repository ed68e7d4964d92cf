#include "dsp/ClipStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velorik::dsp {

namespace {

constexpr double Pi = 3.14159265358979323846;

// The rounds after the first clip this much below the ceiling, with this weight.
constexpr float SettleLevel = 0.99f;
constexpr float SettleWeight = 2.0f;
constexpr int Rounds = 3;
// A round may clip the upsampled signal this many samples either side of a sample it concerns.
constexpr std::size_t GateSpread = 2;
// Holding the true peak: the estimate between samples reads low by up to this much (for a
// band of 0.45 of the rate, at the worst phase), so a stretch is settled from that far under.
constexpr float BetweenMargin = 0.89f;  // -1 dB
// Samples this far under the ceiling on both sides cannot peak past it between them.
constexpr float QuietBetween = 0.35f;  // -9 dB
constexpr int BetweenTaps = 6;  // either side
// Near such a stretch the top of the band is taken away first, this far either side and
// fading out over this much more.
constexpr std::size_t FadeInner = 32, FadeRamp = 32, FadeFar = FadeInner + FadeRamp;
constexpr int TopHalf = 64;
// Then more rounds than the sample peak needs, since every peak is clipped now; then rounds
// against the interpolation loudness meters read the true peak with.
constexpr int TruePeakRounds = 6;
constexpr float TruePeakLevel = 0.985f, TruePeakWeight = 2.0f;
constexpr int MeterRounds = 8;
constexpr float MeterLevel = 0.995f;
// That interpolation: 49 taps at four times the rate, so 13 samples around each quarter.
constexpr int MeterHalf = 6;

// A single-phase filter of `h`, centred.
Taps Centred(const std::vector<double>& h) {
    std::vector<Tap> taps;
    const int half = static_cast<int>(h.size() / 2);
    for (int k = -half; k <= half; ++k) taps.push_back({0, k, static_cast<float>(h[static_cast<std::size_t>(k + half)])});
    return {taps};
}

}  // namespace

ClipStream::ClipStream(unsigned factor, float ceiling, bool truePeak, std::size_t hop)
    : ceiling_(ceiling), truePeak_(truePeak), hop_(hop) {
    // The estimate between samples: a Kaiser-windowed sinc at each quarter's offset.
    for (int quarter = 1; quarter < 4; ++quarter) {
        std::vector<float> taps;
        for (int k = -BetweenTaps + 1; k <= BetweenTaps; ++k) {
            const double x = k - quarter / 4.0, r = x / (BetweenTaps + 0.5);
            taps.push_back(static_cast<float>(std::sin(Pi * x) / (Pi * x) * BesselI0(6.0 * std::sqrt(1.0 - r * r)) / BesselI0(6.0)));
        }
        between_.push_back(taps);
    }
    // The meter's: a Hann-windowed sinc cut off at half the rate (ITU-R BS.1770's
    // example, as libebur128 has it), as its four phases, and their adjoint.
    double energy = 0.0;
    meter_.resize(4);
    adjoint_.resize(1);
    for (unsigned quarter = 0; quarter < 4; ++quarter)
        for (int k = -MeterHalf; k <= MeterHalf; ++k) {
            const int j = 4 * MeterHalf + static_cast<int>(quarter) - 4 * k;  // its place among the 49
            const double x = (j - 4 * MeterHalf) / 4.0, hann = 0.5 * (1.0 - std::cos(2.0 * Pi * j / (8 * MeterHalf)));
            const bool inside = j >= 0 && j <= 8 * MeterHalf;
            const float tap = inside ? static_cast<float>(hann * (j == 4 * MeterHalf ? 1.0 : std::sin(Pi * x) / (Pi * x))) : 0.0f;
            meter_[quarter].push_back({0, k, tap});
            adjoint_[0].push_back({quarter, -k, tap});
            energy += static_cast<double>(tap) * tap;
        }
    meterStep_ = static_cast<float>(1.0 / energy);
    unsigned stages = 0;
    while ((1u << stages) < (truePeak ? std::max(factor, TruePeakLeast) : factor)) ++stages;
    for (unsigned i = 0; i < stages; ++i)
        // Between the file's rate and twice it: flat to 0.40 of the rate, 72 dB down from half of it,
        // so nothing folds back; holding the true peak, flat to 0.46 (it must see nearly all of the
        // band to see its peaks). Above: half-bands that keep 0 to half the file's rate from its images.
        cascade_.push_back(MakeStage(i > 0     ? Lowpass(i == 1 ? 11 : 7, 0.25, 8.0)
                                     : truePeak ? Lowpass(111, 0.24, 7.0)
                                                : Lowpass(45, 0.225, 7.0),
                                     1 << i));
    // Flat to 0.43 of the rate, 70 dB down from 0.46, where the first stage is still flat.
    top_ = Centred(Lowpass(TopHalf, 0.445, 7.0));

    input_ = NewSignal(1, 0);
    std::size_t signal = input_;
    if (truePeak) {
        signal = FadeTheTop(signal);
        for (int round = 0; round < TruePeakRounds; ++round)
            signal = ModelRound(signal, round == 0, round == 0 ? 1.0f : TruePeakLevel, round == 0 ? 1.0f : TruePeakWeight);
        for (int round = 0; round < MeterRounds; ++round) signal = MeterRound(signal);
    } else {
        for (int round = 0; round < Rounds; ++round)
            signal = ModelRound(signal, round == 0, round == 0 ? 1.0f : SettleLevel, round == 0 ? 1.0f : SettleWeight);
    }
    final_ = signal;
    Reads(input_, signals_[final_].lag, 0);  // given back beside the result

    std::size_t taps = 0;
    for (const Step& step : steps_)
        if (step.taps != nullptr)
            for (const auto& phase : *step.taps) taps = std::max(taps, phase.size());
    rows_.reserve(taps);
    coefficients_.reserve(taps);
    // Room for a few hops past the history, so that it moves back to the start seldom.
    // Each phase a different length, so that rows read together and the row written do not
    // sit at the same offset in 4 KiB pages, which the loads would wait on.
    std::size_t stagger = 0;
    for (Signal& s : signals_) {
        s.capacity = s.history + std::max(4 * hop_, s.history);
        for (auto& phase : s.phases) phase.resize(s.capacity + 24 * (++stagger % 32) + 8);
    }
    Reset();
}

std::size_t ClipStream::NewSignal(std::size_t phases, std::size_t lag) {
    Signal signal;
    signal.lag = lag;
    signal.phases.resize(phases);
    signals_.push_back(std::move(signal));
    return signals_.size() - 1;
}

void ClipStream::Reads(std::size_t signal, std::size_t lag, std::size_t back) {
    Signal& s = signals_[signal];
    s.history = std::max(s.history, lag - s.lag + back);
}

std::size_t ClipStream::Filter(std::size_t in, const Taps& taps) {
    const std::size_t extent = Extent(taps), lag = signals_[in].lag + extent;
    const std::size_t out = NewSignal(taps.size(), lag);
    Reads(in, lag, extent);
    steps_.push_back({Kind::Fir, in, out, None, None, &taps});
    return out;
}

// `in` plus `weight` times `step`, once both have reached the same sample.
std::size_t ClipStream::Add(std::size_t in, std::size_t step, float weight) {
    const std::size_t out = NewSignal(1, signals_[step].lag);
    Reads(in, signals_[out].lag, 0);
    Reads(step, signals_[out].lag, 0);
    steps_.push_back({Kind::Add, in, out, step, None, nullptr, 0.0f, weight});
    return out;
}

// One round: up, clip what the gate allows of what passes `level` (of the ceiling), down, and add
// `weight` times the band-limited excess to the signal.
std::size_t ClipStream::ModelRound(std::size_t in, bool first, float level, float weight) {
    std::size_t gate = None, concerned = None;
    if (!truePeak_) {
        // The samples past the ceiling at first, then what the rounds before changed.
        concerned = NewSignal(1, signals_[in].lag);
        Reads(in, signals_[in].lag, 0);
        Reads(input_, signals_[in].lag, 0);
        steps_.push_back({Kind::Concerned, in, concerned, input_, None, nullptr, 0.0f, 0.0f, first});
    }
    std::size_t signal = in;
    for (const Stage& stage : cascade_) signal = Filter(signal, stage.up);
    if (!truePeak_) {
        // 1 where a sample within the spread either side is concerned.
        gate = NewSignal(1, signals_[signal].lag);
        Reads(concerned, signals_[gate].lag, GateSpread);
        steps_.push_back({Kind::Gate, concerned, gate});
        Reads(gate, signals_[gate].lag, 0);
    }
    steps_.push_back({Kind::Excess, signal, signal, None, gate, nullptr, level});
    for (auto stage = cascade_.rbegin(); stage != cascade_.rend(); ++stage) signal = Filter(signal, stage->down);
    if (truePeak_) signal = Filter(signal, top_);
    return Add(in, signal, weight);
}

// One round against the meter's interpolation: where it reads past its level, the step
// back along its own taps (its adjoint, scaled by their energy) that takes the excess
// away, kept within the band.
std::size_t ClipStream::MeterRound(std::size_t in) {
    const std::size_t read = Filter(in, meter_);
    steps_.push_back({Kind::Excess, read, read, None, None, nullptr, MeterLevel});
    return Add(in, Filter(Filter(read, adjoint_), top_), meterStep_);
}

// Near a stretch that passes the ceiling, the top of the band (past the first stage's
// passband) is taken away first: the rounds cannot see it, so its peaks between the
// samples would pass the ceiling out of their sight.
std::size_t ClipStream::FadeTheTop(std::size_t in) {
    const std::size_t overs = NewSignal(1, BetweenTaps);
    Reads(in, BetweenTaps, BetweenTaps);
    steps_.push_back({Kind::Overs, in, overs});
    const std::size_t low = Filter(in, top_);
    const std::size_t out = NewSignal(1, std::max(BetweenTaps + FadeFar, signals_[low].lag));
    Reads(overs, signals_[out].lag, FadeFar);
    Reads(in, signals_[out].lag, 0);
    Reads(low, signals_[out].lag, 0);
    steps_.push_back({Kind::Fade, in, out, low, overs});
    return out;
}

void ClipStream::Reset(std::int64_t from, std::int64_t to) {
    for (Signal& s : signals_) {
        // Nothing is read before it is written but the history.
        for (auto& phase : s.phases) std::fill(phase.begin(), phase.begin() + static_cast<std::ptrdiff_t>(s.history), 0.0f);
        s.offset = s.now = s.history;
    }
    position_ = 0;
    from_ = from;
    to_ = to;
}

const float* ClipStream::At(std::size_t signal, unsigned phase, std::size_t lag, int shift) const {
    const Signal& s = signals_[signal];
    return s.phases[phase].data() + (s.now - (lag - s.lag)) + shift;
}

void ClipStream::Begin(std::size_t signal) {
    Signal& s = signals_[signal];
    if (s.offset + count_ > s.capacity) {
        for (auto& phase : s.phases) std::memmove(phase.data(), phase.data() + s.offset - s.history, s.history * sizeof(float));
        s.offset = s.history;
    }
    s.now = s.offset;
}

void ClipStream::Push(const float* in, std::size_t count, const float*& clipped, const float*& input) {
    count_ = count;
    Begin(input_);
    std::copy(in, in + count, signals_[input_].phases[0].data() + signals_[input_].now);
    for (const Step& step : steps_) Run(step);
    clipped = At(final_, 0, signals_[final_].lag, 0);
    input = At(input_, 0, signals_[final_].lag, 0);
    for (Signal& s : signals_) s.offset = s.now + count;
    position_ += static_cast<std::int64_t>(count);
}

void ClipStream::Pin(std::size_t signal) {
    if (!truePeak_) return;
    const Signal& s = signals_[signal];
    float* out = signals_[signal].phases[0].data() + s.now;
    const std::int64_t first = position_ - static_cast<std::int64_t>(s.lag), end = first + static_cast<std::int64_t>(count_);
    if (first >= from_ && end <= to_) return;
    for (std::size_t j = 0; j < count_; ++j) {
        const std::int64_t at = first + static_cast<std::int64_t>(j);
        if (at < from_ || at >= to_) out[j] = 0.0f;
    }
}

bool ClipStream::Over(const float* at, std::ptrdiff_t before, std::ptrdiff_t after) const {
    if (std::abs(at[0]) > ceiling_) return true;
    if (!truePeak_ || after < 1) return false;
    const float quiet = ceiling_ * QuietBetween;
    if (std::abs(at[0]) < quiet && std::abs(at[1]) < quiet) return false;
    for (const std::vector<float>& taps : between_) {
        float sum = 0.0f;
        for (int k = -BetweenTaps + 1; k <= BetweenTaps; ++k)
            if (k <= after && -k <= before) sum += taps[static_cast<std::size_t>(k + BetweenTaps - 1)] * at[k];
        if (std::abs(sum) > ceiling_ * BetweenMargin) return true;
    }
    return false;
}

void ClipStream::Run(const Step& step) {
    if (step.out != step.in) Begin(step.out);
    Signal& out = signals_[step.out];
    const std::size_t lag = out.lag;
    switch (step.kind) {
        case Kind::Fir:
            for (std::size_t p = 0; p < step.taps->size(); ++p) {
                rows_.clear();
                coefficients_.clear();
                for (const Tap& tap : (*step.taps)[p]) {
                    rows_.push_back(At(step.in, tap.phase, lag, tap.shift));
                    coefficients_.push_back(tap.coefficient);
                }
                Sum(rows_.data(), coefficients_.data(), rows_.size(), out.phases[p].data() + out.now, count_);
            }
            break;
        case Kind::Excess: {
            const float level = ceiling_ * step.level;
            const float* gate = step.gate == None ? nullptr : At(step.gate, 0, lag, 0);
            for (auto& phase : out.phases) {
                float* v = phase.data() + out.now;
                if (gate == nullptr)
                    for (std::size_t j = 0; j < count_; ++j) v[j] = std::min(std::max(v[j], -level), level) - v[j];
                else
                    for (std::size_t j = 0; j < count_; ++j) v[j] = (std::min(std::max(v[j], -level), level) - v[j]) * gate[j];
            }
            break;
        }
        case Kind::Concerned: {
            const float *a = At(step.in, 0, lag, 0), *x = At(step.other, 0, lag, 0);
            float* c = out.phases[0].data() + out.now;
            for (std::size_t j = 0; j < count_; ++j) c[j] = (step.first ? std::abs(x[j]) > ceiling_ : a[j] != x[j]) ? 1.0f : 0.0f;
            break;
        }
        case Kind::Gate: {
            float* g = out.phases[0].data() + out.now;
            std::fill(g, g + count_, 0.0f);
            for (int d = -static_cast<int>(GateSpread); d <= static_cast<int>(GateSpread); ++d) {
                const float* c = At(step.in, 0, lag, d);
                for (std::size_t j = 0; j < count_; ++j) g[j] = std::max(g[j], c[j]);
            }
            break;
        }
        case Kind::Add: {
            const float *a = At(step.in, 0, lag, 0), *c = At(step.other, 0, lag, 0);
            float* y = out.phases[0].data() + out.now;
            for (std::size_t j = 0; j < count_; ++j) y[j] = a[j] + step.weight * c[j];
            Pin(step.out);
            break;
        }
        case Kind::Overs: {
            const float* x = At(step.in, 0, lag, 0);
            float* o = out.phases[0].data() + out.now;
            const std::int64_t first = position_ - static_cast<std::int64_t>(lag);
            const auto taps = static_cast<std::int64_t>(BetweenTaps);
            for (std::size_t j = 0; j < count_; ++j) {
                // Samples left before the end, at most the taps; asked only near an end, since
                // to_ - 1 - at overflows where there is none (to_ is INT64_MAX, at negative).
                const std::int64_t at = first + static_cast<std::int64_t>(j);
                const std::int64_t after = at < to_ - taps ? taps : to_ - 1 - at;
                o[j] = Over(x + j, BetweenTaps, static_cast<std::ptrdiff_t>(after)) ? 1.0f : 0.0f;
            }
            break;
        }
        case Kind::Fade: {
            // The weight of the top's removal: 1 within FadeInner of a sample that is over,
            // falling to 0 over FadeRamp more.
            const float *x = At(step.in, 0, lag, 0), *low = At(step.other, 0, lag, 0), *overs = At(step.gate, 0, lag, 0);
            float* y = out.phases[0].data() + out.now;
            for (std::size_t j = 0; j < count_; ++j) {
                std::size_t nearest = FadeFar;
                const float* o = overs + j;
                for (std::size_t d = 0; d < nearest; ++d)
                    if (o[d] != 0.0f || o[-static_cast<std::ptrdiff_t>(d)] != 0.0f) nearest = d;
                const float fade = nearest <= FadeInner ? 1.0f : static_cast<float>(FadeFar - nearest) / FadeRamp;
                y[j] = x[j] + fade * (low[j] - x[j]);
            }
            Pin(step.out);
            break;
        }
    }
}

}  // namespace velorik::dsp
