#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "Commands.h"
#include "Text.h"
#include "VelorikWAVDistortion.h"
#include "WavFile.h"

namespace wavfx {

namespace {

constexpr double Pi = 3.14159265358979323846;

// Two seconds at 8000 Hz: a 440 Hz tone swelling from silence to full scale.
std::vector<int16_t> TestSignal() {
    std::vector<int16_t> samples(16000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double envelope = static_cast<double>(i) / static_cast<double>(samples.size() - 1);
        samples[i] = static_cast<int16_t>(std::lround(32767.0 * envelope * std::sin(2 * Pi * 440.0 * i / 8000.0)));
    }
    return samples;
}

// One row of '#' per tenth of the signal, as long as its peak.
void ShowEnvelope(const char* title, const std::vector<int16_t>& samples) {
    std::printf("%s\n", title);
    const std::size_t step = samples.size() / 10;
    for (std::size_t part = 0; part < 10; ++part) {
        const int peak = Peak(samples.data() + part * step, step);
        std::printf("  %4.1f s |%-40s| %6d\n", part * step / 8000.0, std::string(peak * 40 / 32768, '#').c_str(), peak);
    }
}

}  // namespace

int RunDemo(const Args& args) {
    if (WantsHelp(args)) {
        std::puts("usage: wavfx demo\n\nWrites a test tone to wavfx-demo/tone.wav, distorts it at threshold 8000 into\nwavfx-demo/tone-clipped.wav and shows the difference; then records two seconds into\nwavfx-demo/recording.wav when a capture device exists.");
        return 0;
    }
    const std::string dir = "wavfx-demo";
    std::error_code ignored;
    std::filesystem::create_directory(dir, ignored);
    const std::string tone = dir + "/tone.wav", clipped = dir + "/tone-clipped.wav", recording = dir + "/recording.wav";
    const int threshold = 8000;

    const auto signal = TestSignal();
    if (!WriteWav(tone, signal, 8000)) {
        std::fprintf(stderr, "wavfx: cannot write %s\n", tone.c_str());
        return 1;
    }
    std::printf("1. Test signal: %s, 2 s of 440 Hz rising to full scale\n", tone.c_str());
    std::printf("2. WAVDistortion(%s, %s, %d) says: ", tone.c_str(), clipped.c_str(), threshold);
    std::fflush(stdout);
    const int32_t status = WAVDistortion(ToUtf16(tone).c_str(), ToUtf16(clipped).c_str(), threshold);
    std::fflush(stdout);
    if (status != StatusSuccess) {
        std::printf("\nwavfx: distortion failed (%d: %s)\n", status, DescribeStatus(status));
        return 1;
    }
    const auto result = ReadSamples(clipped);
    if (!result || result->size() != signal.size()) {
        std::fprintf(stderr, "wavfx: cannot read back %s\n", clipped.c_str());
        return 1;
    }
    std::size_t changed = 0;
    for (std::size_t i = 0; i < signal.size(); ++i) changed += signal[i] != (*result)[i];
    std::printf("   returned %d; %zu of %zu samples clipped to +-%d\n\n", status, changed, signal.size(), threshold);
    ShowEnvelope("   before:", signal);
    ShowEnvelope("   after:", *result);

    std::printf("\n3. Recording two seconds from ALSA's \"default\" capture device into %s\n", recording.c_str());
    std::fflush(stdout);
    if (Record(recording, 2, true) != 0) {
        std::printf("   skipped: no capture device is available on this machine\n");
        return 0;
    }
    const auto info = ReadWavInfo(recording);
    if (info)
        std::printf("   %u bytes of audio, header sizes %s\n", info->dataSize,
                    info->SizesMatch() ? "match the file" : "DO NOT match the file");
    return 0;
}

}  // namespace wavfx
