#include "format/SampleFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "dsp/Vectorise.h"

namespace wavfx {

namespace {

// Samples per run of a clip: few enough for a 32-bit count.
constexpr std::size_t RunSamples = std::size_t{1} << 30;

// Three-byte samples vectorise only with byte shuffles, which x86-64's base
// instruction set lacks: there the loop is also built for AVX2, picked at run time.

// One sample where it lies, and back; the compiler turns these into plain
// loads and stores. A lane is what peaks are looked for in: the sample itself,
// save for 8-bit, whose bytes are compared as they are (128 being silence).
template <typename Format, typename Sample>
struct SameLane {
    using Lane = Sample;
    static Lane LoadLane(const unsigned char* p) { return Format::Load(p); }
    static double Value(Lane v) { return static_cast<double>(v); }
};
template <typename Sample>
struct Plain : SameLane<Plain<Sample>, Sample> {
    using T = Sample;
    static constexpr unsigned Size = sizeof(Sample);
    static T Load(const unsigned char* p) {
        T v;
        std::memcpy(&v, p, Size);
        return v;
    }
    static void Store(unsigned char* p, T v) { std::memcpy(p, &v, Size); }
};
using S16 = Plain<std::int16_t>;
using S32 = Plain<std::int32_t>;
using F32 = Plain<float>;
using F64 = Plain<double>;
struct U8 {
    using T = int;
    using Lane = std::uint8_t;
    static constexpr unsigned Size = 1;
    static T Load(const unsigned char* p) { return static_cast<int>(p[0]) - 128; }
    static void Store(unsigned char* p, T v) { p[0] = static_cast<unsigned char>(v + 128); }
    static Lane LoadLane(const unsigned char* p) { return p[0]; }
    static double Value(Lane v) { return static_cast<double>(v) - 128; }
};
struct S24 : SameLane<S24, std::int32_t> {
    using T = std::int32_t;
    static constexpr unsigned Size = 3;
    static T Load(const unsigned char* p) {
        return static_cast<T>(static_cast<std::uint32_t>(p[0]) << 8 | static_cast<std::uint32_t>(p[1]) << 16 |
                              static_cast<std::uint32_t>(p[2]) << 24) >> 8;
    }
    static void Store(unsigned char* p, T v) {
        p[0] = static_cast<unsigned char>(v);
        p[1] = static_cast<unsigned char>(v >> 8);
        p[2] = static_cast<unsigned char>(v >> 16);
    }
};

// A NaN is neither above nor below: it stays, bit for bit. The count is 32
// bits wide, as the samples it counts, so that the loop vectorises.
template <typename F>
inline __attribute__((always_inline)) std::uint32_t ClipRun(unsigned char* __restrict bytes, std::size_t count,
                                                             typename F::T high) {
    using T = typename F::T;
    const T low = -high;
    std::uint32_t changed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char* p = bytes + i * F::Size;
        const T v = F::Load(p);
        changed += static_cast<std::uint32_t>((v > high) | (v < low));
        F::Store(p, v > high ? high : v < low ? low : v);
    }
    return changed;
}

VWD_WITH_AVX2 std::uint32_t ClipRun24(unsigned char* __restrict bytes, std::size_t count, std::int32_t high) {
    return ClipRun<S24>(bytes, count, high);
}

template <typename F>
std::uint64_t Clip(unsigned char* bytes, std::size_t count, typename F::T high) {
    std::uint64_t changed = 0;
    for (std::size_t at = 0; at < count; at += RunSamples) {
        const std::size_t n = std::min(count - at, RunSamples);
        if constexpr (std::is_same_v<F, S24>)
            changed += ClipRun24(bytes + F::Size * at, n, high);
        else
            changed += ClipRun<F>(bytes + F::Size * at, n, high);
    }
    return changed;
}

// Lane j's highest and lowest of samples j, j + lanes, j + 2 lanes... of `count`:
// the loop over lanes vectorises whatever the channel count.
template <typename Lane, typename Load>
inline __attribute__((always_inline)) void LaneRanges(const unsigned char* bytes, std::size_t count, std::size_t lanes,
                                                      unsigned size, Lane* high, Lane* low, Load load) {
    std::size_t i = 0;
    for (; i + lanes <= count; i += lanes)
        for (std::size_t j = 0; j < lanes; ++j) {
            const Lane v = load(bytes + (i + j) * size);
            high[j] = high[j] < v ? v : high[j];
            low[j] = v < low[j] ? v : low[j];
        }
    for (std::size_t j = 0; i < count; ++i, ++j) {
        const Lane v = load(bytes + i * size);
        high[j] = high[j] < v ? v : high[j];
        low[j] = v < low[j] ? v : low[j];
    }
}

template <typename F>
void LaneRangesOf(const unsigned char* bytes, std::size_t count, std::size_t lanes, typename F::Lane* high,
                  typename F::Lane* low) {
    LaneRanges(bytes, count, lanes, F::Size, high, low, F::LoadLane);
}

VWD_WITH_AVX2 void LaneRanges24(const unsigned char* bytes, std::size_t count, std::size_t lanes, std::int32_t* high,
                                std::int32_t* low) {
    LaneRanges(bytes, count, lanes, 3, high, low, S24::LoadLane);
}

template <>
void LaneRangesOf<S24>(const unsigned char* bytes, std::size_t count, std::size_t lanes, std::int32_t* high,
                       std::int32_t* low) {
    LaneRanges24(bytes, count, lanes, high, low);
}

// Lanes of a whole number of frames, folded into their channels at the end.
template <typename F>
void Fold(const unsigned char* bytes, std::size_t frames, std::vector<ChannelRange>& ranges) {
    using Lane = typename F::Lane;
    using Limits = std::numeric_limits<Lane>;
    const std::size_t channels = ranges.size(), lanes = channels * std::max<std::size_t>(1, 64 / channels);
    std::vector<Lane> high(lanes, Limits::has_infinity ? -Limits::infinity() : Limits::lowest());
    std::vector<Lane> low(lanes, Limits::has_infinity ? Limits::infinity() : Limits::max());
    LaneRangesOf<F>(bytes, frames * channels, lanes, high.data(), low.data());
    for (std::size_t j = 0; j < std::min(lanes, frames * channels); ++j) {
        ChannelRange& range = ranges[j % channels];
        range.high = std::max(range.high, F::Value(high[j]));
        range.low = std::min(range.low, F::Value(low[j]));
    }
}

template <typename F>
std::uint64_t Corrected(unsigned char* bytes, std::size_t count, const float* correction, typename F::T high,
                        double scale) {
    using T = typename F::T;
    std::uint64_t changed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char* p = bytes + i * F::Size;
        const T v = F::Load(p);
        T w = v > high ? high : v < -high ? -high : v;
        if (correction[i] != 0.0f && !std::isnan(static_cast<double>(v))) {
            const double moved = std::clamp(static_cast<double>(v) + static_cast<double>(correction[i]) * scale,
                                            -static_cast<double>(high), static_cast<double>(high));
            // Half away from zero, as llround, without its call.
            if constexpr (std::is_integral_v<T>)
                w = static_cast<T>(moved < 0 ? moved - 0.5 : moved + 0.5);
            else
                w = std::clamp(static_cast<T>(moved), -high, high);
        }
        if (std::memcmp(&w, &v, sizeof(T)) != 0) {
            F::Store(p, w);
            ++changed;
        }
    }
    return changed;
}

template <typename F>
void Decode(const unsigned char* bytes, std::size_t count, float* out, double scale) {
    const auto factor = static_cast<float>(1.0 / scale);
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<float>(F::Load(bytes + i * F::Size)) * factor;
}

// Calls `work` with the sample type of `coding`.
template <typename Work>
auto Dispatch(Coding coding, Work&& work) {
    switch (coding) {
        case Coding::U8: return work(U8{});
        case Coding::S16: return work(S16{});
        case Coding::S24: return work(S24{});
        case Coding::S32: return work(S32{});
        case Coding::F32: return work(F32{});
        case Coding::F64: break;
    }
    return work(F64{});
}

unsigned BitsOf(Coding coding) {
    switch (coding) {
        case Coding::U8: return 8;
        case Coding::S16: return 16;
        case Coding::S24: return 24;
        default: return 32;
    }
}

}  // namespace

Ceiling CeilingFor(const Threshold& threshold, Coding coding) {
    Ceiling ceiling;
    ceiling.level = threshold.fraction;
    ceiling.levelF = static_cast<float>(threshold.fraction);
    const unsigned bits = BitsOf(coding);
    if (threshold.spelling == Threshold::Spelling::Count) {
        // N of 32768 at every resolution; 8 bits round it, half away from zero.
        const long long n = threshold.count;
        ceiling.limit = coding == Coding::U8 ? (n + 128) / 256 : n << (bits - 16);
    } else {
        const long long top = (1ll << (bits - 1)) - 1;
        ceiling.limit = std::min(std::llround(threshold.fraction * static_cast<double>(1ll << (bits - 1))), top);
    }
    return ceiling;
}

std::uint64_t ClipSamples(Coding coding, unsigned char* bytes, std::size_t count, const Ceiling& ceiling) {
    return Dispatch(coding, [&](auto format) -> std::uint64_t {
        using F = decltype(format);
        using T = typename F::T;
        if constexpr (std::is_same_v<T, float>) return Clip<F>(bytes, count, ceiling.levelF);
        if constexpr (std::is_same_v<T, double>) return Clip<F>(bytes, count, ceiling.level);
        if constexpr (std::is_integral_v<T>) return Clip<F>(bytes, count, static_cast<T>(ceiling.limit));
    });
}

std::uint64_t ClipCorrected(Coding coding, unsigned char* bytes, std::size_t count, const float* correction,
                            const Ceiling& ceiling) {
    const double scale = FullScale(coding);
    return Dispatch(coding, [&](auto format) -> std::uint64_t {
        using F = decltype(format);
        using T = typename F::T;
        if constexpr (std::is_same_v<T, float>) return Corrected<F>(bytes, count, correction, ceiling.levelF, scale);
        if constexpr (std::is_same_v<T, double>) return Corrected<F>(bytes, count, correction, ceiling.level, scale);
        if constexpr (std::is_integral_v<T>) return Corrected<F>(bytes, count, correction, static_cast<T>(ceiling.limit), scale);
    });
}

void FoldRanges(Coding coding, const unsigned char* bytes, std::size_t frames, std::vector<ChannelRange>& ranges) {
    if (frames == 0 || ranges.empty()) return;
    Dispatch(coding, [&](auto format) { Fold<decltype(format)>(bytes, frames, ranges); });
}

double FullScale(Coding coding) {
    return coding == Coding::F32 || coding == Coding::F64 ? 1.0 : static_cast<double>(1ll << (BitsOf(coding) - 1));
}

void DecodeSamples(Coding coding, const unsigned char* bytes, std::size_t count, float* out) {
    Dispatch(coding, [&](auto format) { Decode<decltype(format)>(bytes, count, out, FullScale(coding)); });
}

}  // namespace wavfx
