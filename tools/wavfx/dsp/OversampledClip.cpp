#include "dsp/OversampledClip.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace wavfx::dsp {

namespace {

// The filters' kernel is also built for AVX2 on x86-64, picked at run time.
// Each output sums its taps in the same order in every build, and nothing is
// contracted into fused multiply-adds: the result is the same on every machine.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define WAVFX_WITH_AVX2 __attribute__((target_clones("avx2", "default")))
#else
#define WAVFX_WITH_AVX2
#endif

// Zeros on either side of each rate's signal: more than any filter reaches.
constexpr std::size_t Margin = 64;
// The rounds after the first clip this much below the ceiling, with this weight.
constexpr float SettleLevel = 0.99f;
constexpr float SettleWeight = 2.0f;
constexpr int Rounds = 3;
// A round may clip the upsampled signal this many samples either side of a sample it concerns.
constexpr std::size_t GateSpread = 2;

// out[i] = sum of taps[k] * in[i + k]; outputs in blocks that stay in registers.
WAVFX_WITH_AVX2 void Correlate(const float* __restrict in, const float* __restrict taps, std::size_t count,
                               float* __restrict out, std::size_t n) {
    constexpr std::size_t Block = 32;
    std::size_t i = 0;
    for (; i + Block <= n; i += Block) {
        float sum[Block] = {};
        for (std::size_t k = 0; k < count; ++k) {
            const float tap = taps[k];
            const float* from = in + i + k;
            for (std::size_t j = 0; j < Block; ++j) sum[j] += tap * from[j];
        }
        for (std::size_t j = 0; j < Block; ++j) out[i + j] = sum[j];
    }
    for (; i < n; ++i) {
        float sum = 0.0f;
        for (std::size_t k = 0; k < count; ++k) sum += taps[k] * in[i + k];
        out[i] = sum;
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
        const double sinc = i == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
        h[static_cast<std::size_t>(i + half)] = 2.0 * cutoff * sinc * BesselI0(beta * std::sqrt(1.0 - r * r)) / BesselI0(beta);
    }
    return h;
}

// The taps of one phase as correlation taps over j, h[i] at i = phase - 2j to
// make the higher rate's phase, h[2j + phase] to take one in (h is symmetric),
// with `from` the first j; zero taps at the ends dropped, the rest scaled to sum to `gain`.
std::vector<float> Phase(const std::vector<double>& h, int phase, bool up, double gain, int& from) {
    const int half = static_cast<int>(h.size() / 2);
    std::vector<double> taps;
    int first = 0;
    for (int j = -half; j <= half; ++j) {
        const int i = up ? phase - 2 * j : 2 * j + phase;
        const double tap = i < -half || i > half ? 0.0 : h[static_cast<std::size_t>(i + half)];
        if (taps.empty() && std::abs(tap) < 1e-9) continue;
        if (taps.empty()) first = j;
        taps.push_back(tap);
    }
    while (!taps.empty() && std::abs(taps.back()) < 1e-9) taps.pop_back();
    double sum = 0.0;
    for (double tap : taps) sum += tap;
    from = first;
    std::vector<float> out;
    for (double tap : taps) out.push_back(static_cast<float>(tap * gain / sum));
    return out;
}

OversampledClip::Stage MakeStage(const std::vector<double>& h, double downGain) {
    OversampledClip::Stage stage;
    for (int p = 0; p < 2; ++p) {
        stage.up[p] = Phase(h, p, true, 1.0, stage.upFrom[p]);
        stage.down[p] = Phase(h, p, false, downGain, stage.downFrom[p]);
    }
    return stage;
}

int Extent(const OversampledClip::Stage& stage) {
    int extent = 0;
    for (int p = 0; p < 2; ++p) {
        extent = std::max({extent, std::abs(stage.upFrom[p]), std::abs(stage.upFrom[p] + static_cast<int>(stage.up[p].size())),
                           std::abs(stage.downFrom[p]),
                           std::abs(stage.downFrom[p] + static_cast<int>(stage.down[p].size()))});
    }
    return extent;
}

}  // namespace

OversampledClip::OversampledClip(unsigned factor, float ceiling) : stages_(0), ceiling_(ceiling) {
    while ((1u << stages_) < factor) ++stages_;
    std::size_t round = GateSpread + 1;
    for (unsigned i = 0; i < stages_; ++i) {
        // Between the file's rate and twice it: flat to 0.40 of the rate, 80 dB down from half of it,
        // so nothing folds back. Above: half-bands that keep 0 to half the file's rate from its images.
        const std::vector<double> h = i == 0 ? Lowpass(53, 0.225, 8.0) : Lowpass(i == 1 ? 11 : 7, 0.25, 8.0);
        // The down filter's two phases together pass DC once; each up phase does alone.
        cascade_.push_back(MakeStage(h, 0.5));
        const std::size_t atRate = static_cast<std::size_t>(Extent(cascade_.back()));
        round += 2 * ((atRate + (1u << i) - 1) >> i);
    }
    reach_ = Rounds * round;
    rate_.resize(stages_ + 1);
}

void OversampledClip::Up(std::size_t length) {
    for (unsigned s = 0; s < stages_; ++s) {
        const std::size_t n = length << s;
        const float* in = rate_[s].data() + Margin;
        float* out = rate_[s + 1].data() + Margin;
        const Stage& stage = cascade_[s];
        for (int p = 0; p < 2; ++p) {
            float* phase = scratch_[p].data();
            Correlate(in + stage.upFrom[p], stage.up[p].data(), stage.up[p].size(), phase, n);
        }
        for (std::size_t i = 0; i < n; ++i) {
            out[2 * i] = scratch_[0][i];
            out[2 * i + 1] = scratch_[1][i];
        }
    }
}

void OversampledClip::Down(std::size_t length) {
    for (unsigned s = stages_; s-- > 0;) {
        const std::size_t n = length << s;
        const float* in = rate_[s + 1].data() + Margin;
        float* out = rate_[s].data() + Margin;
        const Stage& stage = cascade_[s];
        // Each phase of the higher rate, with its share of the zero margins.
        constexpr std::size_t Side = Margin / 2;
        for (int q = 0; q < 2; ++q) {
            float* phase = scratch_[q].data();
            for (std::size_t m = 0; m < n + 2 * Side; ++m) phase[m] = in[2 * m + q - 2 * Side];
        }
        float* sum = sum_.data();
        std::fill(out, out + n, 0.0f);
        for (int q = 0; q < 2; ++q) {
            Correlate(scratch_[q].data() + Side + stage.downFrom[q], stage.down[q].data(), stage.down[q].size(), sum, n);
            for (std::size_t i = 0; i < n; ++i) out[i] += sum[i];
        }
    }
}

// One round: up, clip what `gate` allows of what passes `level`, down, and
// add `weight` times the band-limited excess to the signal.
void OversampledClip::Round(std::size_t length, float level, float weight, const std::vector<unsigned char>& gate) {
    std::copy(clipped_.begin(), clipped_.begin() + static_cast<std::ptrdiff_t>(length), rate_[0].begin() + Margin);
    Up(length);
    const std::size_t factor = std::size_t{1} << stages_;
    float* top = rate_[stages_].data() + Margin;
    for (std::size_t n = 0; n < length; ++n) {
        float* v = top + n * factor;
        if (!gate[n]) {
            std::fill(v, v + factor, 0.0f);
            continue;
        }
        for (std::size_t p = 0; p < factor; ++p) v[p] = std::clamp(v[p], -level, level) - v[p];
    }
    Down(length);
    const float* excess = rate_[0].data() + Margin;
    for (std::size_t n = 0; n < length; ++n) clipped_[n] += weight * excess[n];
}

bool OversampledClip::Correct(const float* window, std::size_t count, float* correction) {
    const std::size_t length = count + 2 * reach_;
    std::fill(correction, correction + count, 0.0f);
    if (std::none_of(window, window + length, [this](float v) { return std::abs(v) > ceiling_; })) return false;
    for (unsigned s = 0; s <= stages_; ++s) rate_[s].assign((length << s) + 2 * Margin, 0.0f);
    for (auto& phase : scratch_) phase.assign((length << stages_) / 2 + Margin, 0.0f);
    input_.assign(window, window + length);
    sum_.assign((length << stages_) / 2, 0.0f);
    clipped_.assign(window, window + length);
    // First the samples past the ceiling and their neighbours; then what the rounds before changed.
    std::vector<unsigned char>& gate = gate_;
    for (int round = 0; round < Rounds; ++round) {
        gate.assign(length, 0);
        for (std::size_t n = 0; n < length; ++n) {
            const bool concerned = round == 0 ? std::abs(window[n]) > ceiling_ : clipped_[n] != input_[n];
            if (!concerned) continue;
            const std::size_t low = n > GateSpread ? n - GateSpread : 0, high = std::min(length, n + GateSpread + 1);
            std::fill(gate.begin() + static_cast<std::ptrdiff_t>(low), gate.begin() + static_cast<std::ptrdiff_t>(high), 1);
        }
        Round(length, round == 0 ? ceiling_ : ceiling_ * SettleLevel, round == 0 ? 1.0f : SettleWeight, gate);
    }
    bool any = false;
    for (std::size_t i = 0; i < count; ++i) {
        correction[i] = clipped_[reach_ + i] - input_[reach_ + i];
        any = any || correction[i] != 0.0f;
    }
    return any;
}

}  // namespace wavfx::dsp
