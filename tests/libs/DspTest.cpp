// The DSP's promises on its own: the oversampled clip leaves alone what lies
// beyond its reach and holds its ceiling; the spectrum reads a full-scale sine at 0 dBFS.
#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "dsp/ClipStream.h"
#include "dsp/OversampledClip.h"
#include "dsp/Spectrum.h"

namespace {

constexpr double Pi = 3.14159265358979323846;

TEST(OversampledClip, CorrectsOnlyWithinItsReachAndSettlesAToneAtItsCeiling) {
    struct Row {
        unsigned factor;
        bool truePeak;
        double settles;  // where the peaks of a tone clipped throughout settle, in dB of the ceiling
    };
    for (const Row row : {Row{2, false, 0.0}, Row{4, false, 0.0}, Row{16, false, 0.0}, Row{32, false, 0.0},
                          Row{4, true, -0.25}, Row{16, true, -0.25}}) {
        SCOPED_TRACE(testing::Message() << row.factor << (row.truePeak ? " true peak" : ""));
        const float ceiling = 0.25f;
        velorik::dsp::OversampledClip clip(row.factor, ceiling, row.truePeak);
        const std::size_t reach = clip.Reach(), count = 8192, burst = 4000, burstLength = 300;
        // A quiet tone, and in its middle a burst 11 dB over the ceiling (3.5 kHz at 48 kHz).
        std::vector<float> window(count + 2 * reach, 0.0f), correction(count);
        const auto tone = [&](double level, double cycles) {
            for (std::size_t i = 0; i < count; ++i) {
                const bool loud = i >= burst && i < burst + burstLength;
                window[reach + i] = static_cast<float>((loud ? level : 0.1) * std::sin(2 * Pi * (loud ? cycles : 0.02) * i));
            }
        };
        tone(0.9, 0.0733);
        ASSERT_TRUE(clip.Correct(window.data(), count, correction.data()));
        for (std::size_t i = 0; i < count; ++i) {
            const bool near = i + reach >= burst && i < burst + burstLength + reach;
            if (!near) {
                EXPECT_EQ(correction[i], 0.0f) << "at " << i << ", beyond the reach of every over";
            }
        }
        // Clipped throughout, the peaks settle at the ceiling, within what the caller's last clamp takes.
        for (std::size_t i = 0; i < window.size(); ++i) window[i] = static_cast<float>(0.9 * std::sin(2 * Pi * 0.0733 * i));
        ASSERT_TRUE(clip.Correct(window.data(), count, correction.data()));
        double highest = 0;
        for (std::size_t i = 0; i < count; ++i) highest = std::max(highest, std::fabs(double{window[reach + i]} + correction[i]));
        EXPECT_NEAR(20 * std::log10(highest / ceiling), row.settles, row.truePeak ? 0.25 : 0.05);
        std::fill(window.begin(), window.end(), 0.2f);
        EXPECT_FALSE(clip.Correct(window.data(), count, correction.data())) << "nothing over the ceiling: no correction";
    }
}

// A stream fed any sizes of push gives, Latency() later, what the block clip gives the whole file.
TEST(ClipStream, GivesTheBlockClipLatencyLaterWhateverThePushes) {
    for (const bool truePeak : {false, true}) {
        SCOPED_TRACE(truePeak);
        const float ceiling = 0.3f;
        velorik::dsp::OversampledClip block(16, ceiling, truePeak);
        velorik::dsp::ClipStream stream(16, ceiling, truePeak, 64);
        stream.Reset(0);  // the audio starts here
        const std::size_t reach = block.Reach(), count = 6000, latency = stream.Latency();
        std::vector<float> window(count + 2 * reach, 0.0f), correction(count);
        for (std::size_t i = 0; i < 4000; ++i)  // a tone and a noisy burst, then silence
            window[reach + i] = static_cast<float>(0.8 * std::sin(0.31 * i) + (i / 700 % 2 ? 0.3 * std::sin(i * i * 0.7) : 0.0));
        block.Correct(window.data(), count, correction.data(), {reach, SIZE_MAX});
        std::vector<float> out;
        const float *clipped = nullptr, *input = nullptr;
        for (std::size_t fed = 0, n = 1; fed < count + latency; fed += n, n = n % 64 + 7) {
            n = std::min(n, count + latency - fed);
            std::vector<float> in(n, 0.0f);
            for (std::size_t j = 0; j < n; ++j) in[j] = fed + j < count ? window[reach + fed + j] : 0.0f;
            stream.Push(in.data(), n, clipped, input);
            out.insert(out.end(), clipped, clipped + n);
        }
        double worst = 0;
        for (std::size_t i = 0; i < count; ++i)
            worst = std::max(worst, std::fabs(double{out[latency + i]} - (window[reach + i] + correction[i])));
        EXPECT_LT(worst, 1e-6);
    }
}

TEST(Spectrum, AFullScaleSineReadsZeroDbfsAndSilenceNothing) {
    const std::size_t size = 8192;
    for (const unsigned channels : {1u, 2u}) {
        velorik::dsp::Spectrum spectrum(size, channels);
        const double bin = 700;  // a bin's own frequency: no scalloping
        std::vector<float> samples(size * 8 * channels);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<float>(std::sin(2 * Pi * bin * static_cast<double>(i / channels) / size));
        spectrum.Add(samples.data(), samples.size() / channels);
        const std::vector<double> levels = spectrum.Levels();
        const auto peak = std::max_element(levels.begin(), levels.end());
        EXPECT_EQ(peak - levels.begin(), static_cast<long>(bin));
        EXPECT_NEAR(*peak, 0.0, 0.05);
        EXPECT_LT(levels[static_cast<std::size_t>(bin) * 3], -100) << "no harmonic where a sine has none";
    }
}

}  // namespace
