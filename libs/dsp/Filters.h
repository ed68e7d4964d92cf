// The pieces the oversampled clip's filters are made of: a windowed-sinc design,
// the polyphase taps of a stage between one rate and twice it, and the one kernel
// every filter runs through.
#pragma once

#include <cstddef>
#include <vector>

namespace velorik::dsp {

// One output phase's sum: each tap a coefficient on an input phase, shifted.
struct Tap {
    unsigned phase;
    int shift;
    float coefficient;
};
using Taps = std::vector<std::vector<Tap>>;  // per output phase

// The taps of one stage between `phases` phases and twice as many.
struct Stage {
    Taps up;    // per phase of the higher rate
    Taps down;  // per phase of the lower rate
};

// A Kaiser-windowed sinc of 2 * half + 1 taps, cut off at `cutoff` cycles per
// sample, centred: no delay.
std::vector<double> Lowpass(int half, double cutoff, double beta);
// I0, for the Kaiser window.
double BesselI0(double x);
Stage MakeStage(const std::vector<double>& h, int phases);
// The largest shift among the taps, either way.
std::size_t Extent(const Taps& taps);

// out[t] = the sum over taps j of coefficients[j] * rows[j][t], summed in tap
// order, the same in every build.
void Sum(const float* const* rows, const float* coefficients, std::size_t taps, float* out, std::size_t n);

}  // namespace velorik::dsp
