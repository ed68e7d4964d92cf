// The PCM sample formats wavfx reads and clips itself: 8-bit unsigned, 16-,
// 24- and 32-bit signed integer, 32- and 64-bit IEEE float; one threshold for
// all of them, as a level of full scale, and the kernels that work on runs of
// their samples as they lie in the file (little-endian, channels interleaved).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "riff/WavFormat.h"

namespace wavfx {

using velorik::Coding;
using velorik::SampleFormat;
using velorik::SampleFormatOf;

// A threshold as the user spelled it (cli/Values.h reads it): N (of 32768, as the
// library takes it), decibels of full scale, or a fraction of it.
struct Threshold {
    enum class Spelling { Count, Decibels, Fraction } spelling = Spelling::Count;
    long long count = 0;    // Count: N
    double fraction = 0.0;  // of full scale, in double precision
};

// The threshold at a format's own resolution: samples in [-limit, limit]
// ([-level, level] for floats) stay as they are, others become the nearer end.
struct Ceiling {
    std::int64_t limit = 0;  // integer formats; for 8-bit, of the sample minus 128
    double level = 0.0;      // 64-bit float
    float levelF = 0.0f;     // 32-bit float: `level` rounded once
};
Ceiling CeilingFor(const Threshold& threshold, Coding coding);

// Clips `count` samples in place; how many changed. NaN stays NaN, bit for bit.
std::uint64_t ClipSamples(Coding coding, unsigned char* bytes, std::size_t count, const Ceiling& ceiling);

// Clips `count` samples in place after adding `correction` (a fraction of
// full scale each) to them: a sample whose correction is 0 is clipped as
// ClipSamples does, so one within the ceiling stays bit for bit; a NaN stays.
// How many changed.
std::uint64_t ClipCorrected(Coding coding, unsigned char* bytes, std::size_t count, const float* correction,
                            const Ceiling& ceiling);

// Each channel's highest and lowest sample, in the format's own units (8-bit:
// the byte minus 128); NaN is passed over.
struct ChannelRange {
    double high = -std::numeric_limits<double>::infinity(), low = std::numeric_limits<double>::infinity();
};
void FoldRanges(Coding coding, const unsigned char* bytes, std::size_t frames, std::vector<ChannelRange>& ranges);
// Full scale in those units: 128, 32768, 2^23, 2^31, or 1 for floats.
double FullScale(Coding coding);

// Samples as fractions of full scale.
void DecodeSamples(Coding coding, const unsigned char* bytes, std::size_t count, float* out);

}  // namespace wavfx
