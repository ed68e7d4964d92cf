// The sample kernels against a plain model, format by format: a threshold's
// ceiling at each resolution, the clip and its count, ranges and decoding.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "cli/Values.h"
#include "format/SampleFormat.h"

namespace {

using wavfx::Coding;

// Samples as full-scale fractions, coded as they lie in a file.
std::vector<unsigned char> Code(Coding coding, const std::vector<double>& values) {
    std::vector<unsigned char> out;
    for (const double v : values) {
        unsigned char bytes[8] = {};
        std::size_t width = 0;
        if (coding == Coding::F32) {
            const float f = static_cast<float>(v);
            std::memcpy(bytes, &f, width = 4);
        } else if (coding == Coding::F64) {
            std::memcpy(bytes, &v, width = 8);
        } else {
            const int bits = coding == Coding::U8 ? 8 : coding == Coding::S16 ? 16 : coding == Coding::S24 ? 24 : 32;
            const long long top = (1ll << (bits - 1)) - 1;
            long long n = std::min(std::llround(v * static_cast<double>(1ll << (bits - 1))), top);
            if (coding == Coding::U8) n += 128;
            width = static_cast<std::size_t>(bits / 8);
            for (std::size_t i = 0; i < width; ++i) bytes[i] = static_cast<unsigned char>(static_cast<unsigned long long>(n) >> (8 * i));
        }
        out.insert(out.end(), bytes, bytes + width);
    }
    return out;
}

TEST(SampleFormat, EachFormatClipsAtItsOwnCeilingAndCountsWhatChanged) {
    const Coding codings[] = {Coding::U8, Coding::S16, Coding::S24, Coding::S32, Coding::F32, Coding::F64};
    const std::vector<double> in = {0.0, 0.25, -0.25, 0.5, -0.5, 0.75, -1.0, 0.4999};
    for (const char* spelling : {"0.5", "16384"}) {
        wavfx::Threshold threshold;
        std::string error;
        ASSERT_TRUE(wavfx::ParseThreshold(spelling, threshold, error)) << error;
        for (const Coding coding : codings) {
            SCOPED_TRACE(std::string(spelling) + " coding " + std::to_string(static_cast<int>(coding)));
            const wavfx::Ceiling ceiling = wavfx::CeilingFor(threshold, coding);
            std::vector<unsigned char> bytes = Code(coding, in);
            std::vector<double> model;
            for (const double v : in) model.push_back(std::max(-0.5, std::min(0.5, v)));
            // Both spellings mean half of full scale exactly, at every resolution.
            EXPECT_EQ(wavfx::ClipSamples(coding, bytes.data(), in.size(), ceiling), 2u);
            EXPECT_EQ(bytes, Code(coding, model));
            std::vector<float> decoded(in.size());
            wavfx::DecodeSamples(coding, bytes.data(), in.size(), decoded.data());
            for (std::size_t i = 0; i < in.size(); ++i) EXPECT_NEAR(decoded[i], model[i], 1.0 / 128);
            std::vector<wavfx::ChannelRange> ranges(2);
            wavfx::FoldRanges(coding, bytes.data(), in.size() / 2, ranges);
            // Channels interleaved: 0, -0.25, -0.5, -0.5 and 0.25, 0.5, 0.5, 0.4999.
            const double scale = wavfx::FullScale(coding);
            EXPECT_NEAR(ranges[0].high / scale, 0.0, 1.0 / 128);
            EXPECT_NEAR(ranges[0].low / scale, -0.5, 1.0 / 128);
            EXPECT_NEAR(ranges[1].high / scale, 0.5, 1.0 / 128);
            EXPECT_NEAR(ranges[1].low / scale, 0.25, 1.0 / 128);
        }
    }
}

// The oversampled clip's last step: a correction added, then the ceiling; no correction, the plain clip.
TEST(SampleFormat, CorrectionsMoveSamplesWithinTheCeilingAndNoneMeansThePlainClip) {
    const std::vector<double> in = {0.25, 0.6, -0.1, 0.75}, model = {0.25, 0.45, -0.5, 0.5};
    const std::vector<float> correction = {0.0f, -0.15f, -0.5f, 0.0f};
    wavfx::Threshold half;
    std::string error;
    ASSERT_TRUE(wavfx::ParseThreshold("0.5", half, error));
    for (const Coding coding : {Coding::U8, Coding::S16, Coding::S24, Coding::S32, Coding::F32, Coding::F64}) {
        SCOPED_TRACE(static_cast<int>(coding));
        std::vector<unsigned char> bytes = Code(coding, in);
        const std::vector<unsigned char> untouched(bytes.begin(), bytes.begin() + bytes.size() / 4);
        EXPECT_EQ(wavfx::ClipCorrected(coding, bytes.data(), in.size(), correction.data(), wavfx::CeilingFor(half, coding)), 3u);
        EXPECT_TRUE(std::equal(untouched.begin(), untouched.end(), bytes.begin())) << "no correction, no change";
        std::vector<float> decoded(in.size());
        wavfx::DecodeSamples(coding, bytes.data(), in.size(), decoded.data());
        for (std::size_t i = 0; i < in.size(); ++i) EXPECT_NEAR(decoded[i], model[i], 1.0 / 127);
    }
}

TEST(SampleFormat, FloatNanStaysAsItWasAndInfinityClips) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (const Coding coding : {Coding::F32, Coding::F64}) {
        std::vector<unsigned char> bytes = Code(coding, {nan, inf, -inf});
        const std::vector<unsigned char> before = bytes;
        wavfx::Threshold half;
        std::string error;
        ASSERT_TRUE(wavfx::ParseThreshold("0.5", half, error));
        EXPECT_EQ(wavfx::ClipSamples(coding, bytes.data(), 3, wavfx::CeilingFor(half, coding)), 2u);
        const std::size_t width = coding == Coding::F32 ? 4 : 8;
        EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + width),
                  std::vector<unsigned char>(before.begin(), before.begin() + width));
        EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + width, bytes.end()), Code(coding, {0.5, -0.5}));
    }
}

}  // namespace
