#include "dsp/OversampledClip.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dsp/Vectorise.h"

namespace velorik::dsp {

namespace {

// The filters' kernel is also built for AVX2 on x86-64, picked at run time.
// Each output sums its taps in the same order in every build, and nothing is
// contracted into fused multiply-adds: the result is the same wherever floats are
// single precision as they are stored (SSE, AVX, NEON, VFP).

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
constexpr std::size_t FadeInner = 32, FadeRamp = 32;
constexpr int TopHalf = 64;
// Then more rounds, and deeper, than the sample peak needs, since every peak is clipped now;
// then rounds against the interpolation loudness meters read the true peak with.
constexpr int TruePeakRounds = 6;
constexpr float TruePeakLevel = 0.985f, TruePeakWeight = 2.0f;
constexpr int MeterRounds = 8;
constexpr float MeterLevel = 0.995f;
// That interpolation: 49 taps at four times the rate, so 13 samples around each quarter.
constexpr int MeterHalf = 6, MeterWidth = 2 * MeterHalf + 1;

// Eight floats as one value: GCC's and Clang's vector types, which each build
// maps onto its machine's vectors (two SSE or NEON registers, one AVX one).
typedef float Lanes __attribute__((vector_size(32)));

// Taken by reference: a vector passed by value would change the call's ABI between builds.
inline void Add(Lanes& sum, float k, const float* at) {
    Lanes v;
    std::memcpy(&v, at, sizeof v);
    sum += k * v;
}

// out[t] = the sum over taps j of coefficients[j] * rows[j][t]; 32 outputs at a
// time in registers, each summed in tap order.
VWD_WITH_AVX2 void Sum(const float* const* rows, const float* coefficients, std::size_t taps, float* out,
                         std::size_t n) {
    std::size_t t = 0;
    for (; t + 32 <= n; t += 32) {
        Lanes a = {}, b = {}, c = {}, d = {};
        for (std::size_t j = 0; j < taps; ++j) {
            const float k = coefficients[j];
            const float* row = rows[j] + t;
            Add(a, k, row);
            Add(b, k, row + 8);
            Add(c, k, row + 16);
            Add(d, k, row + 24);
        }
        std::memcpy(out + t, &a, sizeof a);
        std::memcpy(out + t + 8, &b, sizeof b);
        std::memcpy(out + t + 16, &c, sizeof c);
        std::memcpy(out + t + 24, &d, sizeof d);
    }
    for (; t < n; ++t) {
        float sum = 0.0f;
        for (std::size_t j = 0; j < taps; ++j) sum += coefficients[j] * rows[j][t];
        out[t] = sum;
    }
}

// I0, for the Kaiser window.
double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50 && term > 1e-12 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// A Kaiser-windowed sinc of 2 * half + 1 taps at the higher rate, cut off at
// `cutoff` cycles per sample, centred: no delay.
std::vector<double> Lowpass(int half, double cutoff, double beta) {
    std::vector<double> h(static_cast<std::size_t>(2 * half + 1));
    for (int i = -half; i <= half; ++i) {
        const double x = 2.0 * cutoff * i, r = static_cast<double>(i) / half;
        const double sinc = i == 0 ? 1.0 : std::sin(Pi * x) / (Pi * x);
        h[static_cast<std::size_t>(i + half)] = 2.0 * cutoff * sinc * BesselI0(beta * std::sqrt(1.0 - r * r)) / BesselI0(beta);
    }
    return h;
}

// Floor division, for phases left of zero.
int Below(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The taps of one stage between `phases` phases and twice as many. Up, each
// output phase's taps sum to 1 (its share of the gain of 2); down, the taps
// of each parity sum to 1/2, so that DC passes exactly both ways.
OversampledClip::Stage MakeStage(const std::vector<double>& h, int phases) {
    const int half = static_cast<int>(h.size() / 2);
    double parity[2] = {0.0, 0.0};
    for (int i = -half; i <= half; ++i) parity[(i + 2 * half) % 2] += h[static_cast<std::size_t>(i + half)];
    auto tap = [&](int i) { return h[static_cast<std::size_t>(i + half)]; };
    OversampledClip::Stage stage;
    // Up: y[2k + p] = the sum over i = p (mod 2) of h[i] x[k - (i - p) / 2].
    for (int r = 0; r < phases; ++r)
        for (int p = 0; p < 2; ++p) {
            std::vector<OversampledClip::Tap> taps;
            for (int i = -half; i <= half; ++i) {
                if ((i + 2 * half) % 2 != p || std::abs(tap(i)) < 1e-9) continue;
                const int at = r - (i - p) / 2;
                taps.push_back({static_cast<unsigned>(at - phases * Below(at, phases)), Below(at, phases),
                                static_cast<float>(tap(i) / parity[p])});
            }
            stage.up.push_back(taps);
        }
    // Down: y[k] = the sum over i of h[i] v[2k - i].
    for (int r = 0; r < phases; ++r) {
        std::vector<OversampledClip::Tap> taps;
        for (int i = -half; i <= half; ++i) {
            if (std::abs(tap(i)) < 1e-9) continue;
            const int at = 2 * r - i, wide = 2 * phases;
            taps.push_back({static_cast<unsigned>(at - wide * Below(at, wide)), Below(at, wide),
                            static_cast<float>(tap(i) * 0.5 / parity[(i + 2 * half) % 2])});
        }
        stage.down.push_back(taps);
    }
    return stage;
}

int Extent(const std::vector<std::vector<OversampledClip::Tap>>& phases) {
    int extent = 0;
    for (const auto& taps : phases)
        for (const auto& tap : taps) extent = std::max(extent, std::abs(tap.shift));
    return extent;
}

}  // namespace

OversampledClip::OversampledClip(unsigned factor, float ceiling, bool truePeak)
    : stages_(0), ceiling_(ceiling), truePeak_(truePeak) {
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
    // example, as libebur128 has it), split into its four phases.
    for (int quarter = 0; quarter < 4; ++quarter)
        for (int k = -MeterHalf; k <= MeterHalf; ++k) {
            const int j = 4 * MeterHalf + quarter - 4 * k;  // its place among the 49
            const double x = (j - 4 * MeterHalf) / 4.0, hann = 0.5 * (1.0 - std::cos(2.0 * Pi * j / (8 * MeterHalf)));
            const bool inside = j >= 0 && j <= 8 * MeterHalf;
            meter_.push_back(inside ? static_cast<float>(hann * (j == 4 * MeterHalf ? 1.0 : std::sin(Pi * x) / (Pi * x))) : 0.0f);
        }
    double energy = 0.0;
    for (float tap : meter_) energy += static_cast<double>(tap) * tap;
    meterStep_ = static_cast<float>(1.0 / energy);
    while ((1u << stages_) < (truePeak ? std::max(factor, TruePeakLeast) : factor)) ++stages_;
    std::size_t round = GateSpread + 1;
    for (unsigned i = 0; i < stages_; ++i) {
        // Between the file's rate and twice it: flat to 0.40 of the rate, 72 dB down from half of it,
        // so nothing folds back; holding the true peak, flat to 0.46 (it must see nearly all of the
        // band to see its peaks). Above: half-bands that keep 0 to half the file's rate from its images.
        const std::vector<double> h = i > 0     ? Lowpass(i == 1 ? 11 : 7, 0.25, 8.0)
                                      : truePeak ? Lowpass(111, 0.24, 7.0)
                                                 : Lowpass(45, 0.225, 7.0);
        cascade_.push_back(MakeStage(h, 1 << i));
        const auto up = static_cast<std::size_t>(Extent(cascade_.back().up)), down = static_cast<std::size_t>(Extent(cascade_.back().down));
        round += up + down;
        margin_ = std::max({margin_, up + 1, down + 1});
    }
    if (!truePeak) {
        reach_ = Rounds * round;
    } else {
        // Flat to 0.43 of the rate, 70 dB down from 0.46, where the first stage is still flat.
        for (double tap : Lowpass(TopHalf, 0.445, 7.0)) top_.push_back(static_cast<float>(tap));
        const std::size_t fade = TopHalf + FadeInner + FadeRamp + BetweenTaps;
        reach_ = fade + TruePeakRounds * (round + TopHalf) + MeterRounds * 2 * MeterHalf;
    }
    rate_.resize(stages_ + 1);
    for (unsigned s = 0; s <= stages_; ++s) rate_[s].resize(std::size_t{1} << s);
}

// One phase at the rate `from` leads to or comes from, summed from that rate's phases.
void OversampledClip::Run(unsigned from, const std::vector<Tap>& taps, float* out) {
    rows_.clear();
    coefficients_.clear();
    for (const Tap& tap : taps) {
        rows_.push_back(rate_[from][tap.phase].data() + margin_ + tap.shift);
        coefficients_.push_back(tap.coefficient);
    }
    Sum(rows_.data(), coefficients_.data(), taps.size(), out, length_);
}

// One round: up, clip what the gate allows of what passes `level`, down, and
// add `weight` times the band-limited excess to the signal.
void OversampledClip::Round(float level, float weight) {
    std::copy(clipped_.begin(), clipped_.end(), rate_[0][0].begin() + margin_);
    const float* gate = gate_.data() + GateSpread;
    for (unsigned s = 0; s < stages_; ++s)
        for (std::size_t p = 0; p < rate_[s + 1].size(); ++p) Run(s, cascade_[s].up[p], rate_[s + 1][p].data() + margin_);
    for (auto& phase : rate_[stages_]) {
        float* v = phase.data() + margin_;
        for (std::size_t m = 0; m < length_; ++m) v[m] = (std::min(std::max(v[m], -level), level) - v[m]) * gate[m];
    }
    for (unsigned s = stages_; s-- > 0;)
        for (std::size_t p = 0; p < rate_[s].size(); ++p) Run(s + 1, cascade_[s].down[p], rate_[s][p].data() + margin_);
    const float* excess = rate_[0][0].data() + margin_;
    if (truePeak_) excess = TakeTheTop(excess);
    for (std::size_t m = 0; m < length_; ++m) clipped_[m] += weight * excess[m];
}

// All the rounds over `length` samples from `window`: clipped_ then holds the result.
void OversampledClip::Settle(const float* window, std::size_t length) {
    length_ = length;
    // What lies past the span's end is read as zeros, whatever an earlier, longer span left there.
    for (auto& phases : rate_)
        for (auto& phase : phases) {
            phase.resize(length_ + 2 * margin_);
            std::fill(phase.begin() + static_cast<std::ptrdiff_t>(margin_ + length_), phase.end(), 0.0f);
        }
    input_ = window;
    clipped_.assign(window, window + length_);
    gate_.resize(length_ + 2 * GateSpread);
    if (truePeak_) {
        // Every peak is clipped, wherever it is.
        FadeTheTop();
        KeepTheSilence();
        std::fill(gate_.begin(), gate_.end(), 1.0f);
        for (int round = 0; round < TruePeakRounds; ++round) {
            Round(round == 0 ? ceiling_ : ceiling_ * TruePeakLevel, round == 0 ? 1.0f : TruePeakWeight);
            KeepTheSilence();
        }
        for (int round = 0; round < MeterRounds; ++round) {
            MeterRound(ceiling_ * MeterLevel);
            KeepTheSilence();
        }
        return;
    }
    // First the samples past the ceiling and their neighbours; then what the rounds before changed.
    concerned_.assign(length_ + 4 * GateSpread, 0.0f);
    for (int round = 0; round < Rounds; ++round) {
        float* concerned = concerned_.data() + 2 * GateSpread;
        for (std::size_t n = 0; n < length_; ++n)
            concerned[n] = (round == 0 ? std::abs(window[n]) > ceiling_ : clipped_[n] != input_[n]) ? 1.0f : 0.0f;
        // gate[m] is 1 where a sample within the spread either side is concerned.
        std::fill(gate_.begin(), gate_.end(), 0.0f);
        for (std::size_t shift = 0; shift <= 2 * GateSpread; ++shift) {
            const float* from = concerned_.data() + shift;
            for (std::size_t m = 0; m < gate_.size(); ++m) gate_[m] = std::max(gate_[m], from[m]);
        }
        Round(round == 0 ? ceiling_ : ceiling_ * SettleLevel, round == 0 ? 1.0f : SettleWeight);
    }
}

// What lies before and after the audio is no part of it: a correction there would be
// lost, and the peaks it held down between the samples would come back.
void OversampledClip::KeepTheSilence() {
    std::fill(clipped_.begin(), clipped_.begin() + static_cast<std::ptrdiff_t>(std::min(audio_.from, length_)), 0.0f);
    if (audio_.to < length_) std::fill(clipped_.begin() + static_cast<std::ptrdiff_t>(audio_.to), clipped_.end(), 0.0f);
}

// Near a stretch that passes the ceiling, the top of the band (past the first stage's
// passband) is taken away first: the rounds cannot see it, so its peaks between the
// samples would pass the ceiling out of their sight.
void OversampledClip::FadeTheTop() {
    const float* low = TakeTheTop(clipped_.data());
    // fade_[n]: 1 within FadeInner of a sample that is over, falling to 0 over FadeRamp more.
    const std::size_t none = SIZE_MAX, far = FadeInner + FadeRamp;
    auto weight = [&](std::size_t distance) {
        return distance <= FadeInner ? 1.0f : distance >= far ? 0.0f : static_cast<float>(far - distance) / FadeRamp;
    };
    fade_.assign(length_, 0.0f);
    concerned_.assign(length_, 0.0f);
    for (std::size_t n = 0, last = none; n < length_; ++n) {
        if (Over(input_, n, length_)) concerned_[n] = 1.0f, last = n;
        if (last != none) fade_[n] = weight(n - last);
    }
    for (std::size_t n = length_, next = none; n-- > 0;) {
        if (concerned_[n] != 0.0f) next = n;
        if (next != none) fade_[n] = std::max(fade_[n], weight(next - n));
    }
    for (std::size_t n = 0; n < length_; ++n) clipped_[n] += fade_[n] * (low[n] - clipped_[n]);
}

// `signal` without the top of the band.
const float* OversampledClip::TakeTheTop(const float* signal) {
    const std::size_t half = top_.size() / 2;
    padded_.assign(length_ + 2 * half, 0.0f);
    std::copy(signal, signal + length_, padded_.begin() + static_cast<std::ptrdiff_t>(half));
    rows_.clear();
    for (std::size_t k = 0; k < top_.size(); ++k) rows_.push_back(padded_.data() + k);
    excess_.resize(length_);
    Sum(rows_.data(), top_.data(), top_.size(), excess_.data(), length_);
    return excess_.data();
}

// One round against the meter's interpolation: where it reads past `level`, the step
// back along its own taps (its adjoint, scaled by their energy) that takes the excess away.
void OversampledClip::MeterRound(float level) {
    const std::size_t padded = length_ + 2 * MeterHalf;
    padded_.assign(padded, 0.0f);
    std::copy(clipped_.begin(), clipped_.end(), padded_.begin() + MeterHalf);
    excess_.assign(4 * padded, 0.0f);
    bool any = false;
    for (std::size_t quarter = 0; quarter < 4; ++quarter) {
        rows_.clear();
        for (int k = 0; k < MeterWidth; ++k) rows_.push_back(padded_.data() + k);
        float* excess = excess_.data() + quarter * padded + MeterHalf;
        Sum(rows_.data(), meter_.data() + quarter * MeterWidth, MeterWidth, excess, length_);
        for (std::size_t m = 0; m < length_; ++m) {
            const float v = excess[m];
            excess[m] = std::min(std::max(v, -level), level) - v;
            any = any || excess[m] != 0.0f;
        }
    }
    if (!any) return;
    rows_.clear();
    for (std::size_t quarter = 0; quarter < 4; ++quarter)
        for (int k = 0; k < MeterWidth; ++k) rows_.push_back(excess_.data() + quarter * padded + (MeterWidth - 1 - k));
    step_.resize(length_);
    Sum(rows_.data(), meter_.data(), rows_.size(), step_.data(), length_);
    const float* step = TakeTheTop(step_.data());
    for (std::size_t m = 0; m < length_; ++m) clipped_[m] += meterStep_ * step[m];
}

bool OversampledClip::Over(const float* window, std::size_t n, std::size_t total) const {
    if (std::abs(window[n]) > ceiling_) return true;
    if (!truePeak_ || n + 1 >= total) return false;
    const float quiet = ceiling_ * QuietBetween;
    if (std::abs(window[n]) < quiet && std::abs(window[n + 1]) < quiet) return false;
    for (const std::vector<float>& taps : between_) {
        float sum = 0.0f;
        for (int k = -BetweenTaps + 1; k <= BetweenTaps; ++k) {
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(n) + k;
            if (at >= 0 && at < static_cast<std::ptrdiff_t>(total)) sum += taps[static_cast<std::size_t>(k + BetweenTaps - 1)] * window[at];
        }
        if (std::abs(sum) > ceiling_ * BetweenMargin) return true;
    }
    return false;
}

bool OversampledClip::Correct(const float* window, std::size_t count, float* correction, Audio audio) {
    std::fill(correction, correction + count, 0.0f);
    const std::size_t total = count + 2 * reach_, reach = reach_;
    auto over = [&](std::size_t n) { return Over(window, n, total); };
    bool any = false;
    // Only spans that samples past the ceiling reach change, each settled with
    // its context: a correction depends on nothing further than the reach, so a
    // span gives what the whole window would. Overs closer than that share one.
    for (std::size_t at = 0; at < total; ++at) {
        if (!over(at)) continue;
        std::size_t last = at;
        for (std::size_t n = at + 1; n < std::min(total, last + 4 * reach + 1); ++n) last = over(n) ? n : last;
        const std::size_t begin = at > 2 * reach ? at - 2 * reach : 0, end = std::min(total, last + 2 * reach + 1);
        audio_.from = audio.from > begin ? audio.from - begin : 0;
        audio_.to = audio.to > begin ? audio.to - begin : 0;
        Settle(window + begin, end - begin);
        // Exact but within the reach of a cut the window itself does not make.
        const std::size_t from = std::max(begin + (begin > 0 ? reach : 0), reach);
        const std::size_t to = std::min(end - (end < total ? reach : 0), reach + count);
        for (std::size_t k = from; k < to; ++k) {
            correction[k - reach] = clipped_[k - begin] - input_[k - begin];
            any = any || correction[k - reach] != 0.0f;
        }
        at = last;
    }
    return any;
}

}  // namespace velorik::dsp
