#include "distortion/ClipSample.h"

#include <gtest/gtest.h>

#include <vector>

namespace velorik {
namespace {

// The rule in plain 32-bit arithmetic, written apart from the library's code.
int16_t Reference(int sample, int32_t argument) {
    const int t = static_cast<int16_t>(argument & 0xFFFF);
    if (sample > t) return static_cast<int16_t>(t);
    const int mirror = -t;
    if (sample < mirror) return static_cast<int16_t>(mirror & 0xFFFF);
    return static_cast<int16_t>(sample);
}

const int32_t Thresholds[] = {0,      1,      100,    32767,   32768,      65636,      -1,
                              -100,   -32767, -32768, 65535,   65536,      0x7FFFFFFF, INT32_MIN,
                              123456, -98765, 0x18000, 0x7FFF8000};

class ClipSampleAllValues : public ::testing::TestWithParam<int32_t> {};

TEST_P(ClipSampleAllValues, MatchesTheRuleForEverySample) {
    const int16_t t = ThresholdFromArgument(GetParam());
    for (int s = -32768; s <= 32767; ++s) {
        int16_t sample = static_cast<int16_t>(s);
        ClipSample(sample, t);
        ASSERT_EQ(sample, Reference(s, GetParam())) << "sample " << s;
    }
}

TEST_P(ClipSampleAllValues, RunGivesTheSameBytesAsOneSampleAtATime) {
    const int16_t t = ThresholdFromArgument(GetParam());
    // Odd lengths and offsets so the vector loop's head and tail are exercised.
    std::vector<int16_t> run(65536 + 7);
    for (std::size_t i = 0; i < run.size(); ++i) run[i] = static_cast<int16_t>(i * 40503u);
    std::vector<int16_t> expected = run;
    for (auto& s : expected) ClipSample(s, t);
    uint32_t changed = 0;
    for (std::size_t i = 1; i < run.size(); ++i) changed += expected[i] != run[i];
    EXPECT_EQ(CountClipChanges(run.data() + 1, run.size() - 1, t), changed);
    ClipRun(run.data() + 1, run.size() - 1, t);
    EXPECT_EQ(run[0], static_cast<int16_t>(0));
    for (std::size_t i = 1; i < run.size(); ++i) ASSERT_EQ(run[i], expected[i]) << "index " << i;
}

INSTANTIATE_TEST_SUITE_P(Thresholds, ClipSampleAllValues, ::testing::ValuesIn(Thresholds));

TEST(ClipSample, KnownCases) {
    struct Case {
        int32_t threshold;
        int16_t in, out;
    } cases[] = {
        {100, 150, 100},       {100, -150, -100},      {100, 99, 99},          {100, -100, -100},
        {0, 1234, 0},          {0, -1234, 0},          {32767, -32768, -32767}, {32767, 32767, 32767},
        {32768, 5, -32768},    {32768, -32768, -32768}, {-100, 0, -100},       {-100, -100, 100},
        {65636, 150, 100},     {65636, -150, -100},
    };
    for (const Case& c : cases) {
        int16_t sample = c.in;
        ClipSample(sample, ThresholdFromArgument(c.threshold));
        EXPECT_EQ(sample, c.out) << "threshold " << c.threshold << ", sample " << c.in;
    }
}

}  // namespace
}  // namespace velorik
