#include "dsp/Filters.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "dsp/Vectorise.h"

namespace velorik::dsp {

namespace {

// The kernel is also built for AVX2 on x86-64, picked at run time. Each output
// sums its taps in the same order in every build, and nothing is contracted into
// fused multiply-adds: the result is the same wherever floats are single
// precision as they are stored (SSE, AVX, NEON, VFP).

constexpr double Pi = 3.14159265358979323846;

// Eight floats as one value: GCC's and Clang's vector types, which each build
// maps onto its machine's vectors (two SSE or NEON registers, one AVX one).
typedef float Lanes __attribute__((vector_size(32)));

// Taken by reference: a vector passed by value would change the call's ABI between builds.
inline void Add(Lanes& sum, float k, const float* at) {
    Lanes v;
    std::memcpy(&v, at, sizeof v);
    sum += k * v;
}

// Floor division, for phases left of zero.
int Below(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

// 32 outputs at a time in registers.
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

double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50 && term > 1e-12 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

std::vector<double> Lowpass(int half, double cutoff, double beta) {
    std::vector<double> h(static_cast<std::size_t>(2 * half + 1));
    for (int i = -half; i <= half; ++i) {
        const double x = 2.0 * cutoff * i, r = static_cast<double>(i) / half;
        const double sinc = i == 0 ? 1.0 : std::sin(Pi * x) / (Pi * x);
        h[static_cast<std::size_t>(i + half)] = 2.0 * cutoff * sinc * BesselI0(beta * std::sqrt(1.0 - r * r)) / BesselI0(beta);
    }
    return h;
}

// Up, each output phase's taps sum to 1 (its share of the gain of 2); down, the
// taps of each parity sum to 1/2, so that DC passes exactly both ways.
Stage MakeStage(const std::vector<double>& h, int phases) {
    const int half = static_cast<int>(h.size() / 2);
    double parity[2] = {0.0, 0.0};
    for (int i = -half; i <= half; ++i) parity[(i + 2 * half) % 2] += h[static_cast<std::size_t>(i + half)];
    auto tap = [&](int i) { return h[static_cast<std::size_t>(i + half)]; };
    Stage stage;
    // Up: y[2k + p] = the sum over i = p (mod 2) of h[i] x[k - (i - p) / 2].
    for (int r = 0; r < phases; ++r)
        for (int p = 0; p < 2; ++p) {
            std::vector<Tap> taps;
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
        std::vector<Tap> taps;
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

std::size_t Extent(const Taps& taps) {
    std::size_t extent = 0;
    for (const auto& phase : taps)
        for (const Tap& tap : phase) extent = std::max(extent, static_cast<std::size_t>(std::abs(tap.shift)));
    return extent;
}

}  // namespace velorik::dsp
