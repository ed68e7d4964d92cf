#include <cmath>
#include <cstdio>
#include <memory>

#include "commands/Commands.h"
#include "format/Samples.h"
#include "io/Files.h"
#include "io/Source.h"
#include "report/Text.h"
#include "system/System.h"
#include "riff/WavFormat.h"
#include "work/Library.h"
#include "work/PlotFile.h"
#include "work/Recording.h"

namespace wavfx {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr int Threshold = 8000;
const char* const Folder = "wavfx-demo";

// Two seconds at 8000 Hz: a 440 Hz tone swelling from silence to full scale.
std::vector<int16_t> TestSignal() {
    std::vector<int16_t> samples(16000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double envelope = static_cast<double>(i) / static_cast<double>(samples.size() - 1);
        samples[i] = static_cast<int16_t>(std::lround(32767.0 * envelope * std::sin(2 * Pi * 440.0 * i / 8000.0)));
    }
    return samples;
}

// The samples of a 16-bit PCM file's data chunk.
std::vector<int16_t> ReadSamples(const std::string& path) {
    Source source;
    const auto layout = !source.Open(path) ? velorik::ReadWavLayout(source) : std::nullopt;
    if (!layout || !velorik::IsPcm16(*layout)) return {};
    std::vector<int16_t> samples(static_cast<std::size_t>(layout->dataSize / 2));
    const auto bytes = static_cast<long long>(samples.size() * 2);
    return source.ReadAt(layout->dataOffset, samples.data(), samples.size() * 2) == bytes ? samples : std::vector<int16_t>();
}

// One row of '#' per tenth of the signal, as long as its peak.
void ShowEnvelope(const char* title, const std::vector<int16_t>& samples) {
    std::fprintf(sys::Out(), "%s\n", title);
    const std::size_t step = samples.size() / 10;
    for (std::size_t part = 0; part < 10; ++part) {
        const int peak = Peak(samples.data() + part * step, step);
        std::fprintf(sys::Out(), "  %4.1f s |%-40s| %6d\n", part * step / 8000.0, std::string(peak * 40 / 32768, '#').c_str(), peak);
    }
}

// Records two seconds, from the capture device or, without one, from the
// demo's own tone played through a file-fed device of this process; a
// recording of the tone is checked sample for sample.
int RecordTwoSeconds(const std::string& dir, const std::vector<int16_t>& tone) {
    const std::string recording = dir + "/recording.wav";
    bool builtIn = false;
    Temporary played;  // the tone played as a device: the demo's own, gone when the demo is
    if (const Status missing = sys::CaptureDeviceReady()) {
        File raw{nullptr, std::fclose};
        Status notPlayed;
        if (!played.Create(recording) || !(raw = OpenFile(played.Path(), "wb")) ||
            std::fwrite(tone.data(), 2, tone.size(), raw.get()) != tone.size() || std::fclose(raw.release()) != 0)
            notPlayed = SystemFailure(Role::Other, played.Path(), "");
        else
            notPlayed = sys::UseRawFileAsCaptureDevice(played.Path());
        if (notPlayed) {
            std::fprintf(sys::Out(), "\n3. No capture device to record from (%s), and no built-in one: %s; recording skipped\n",
                        missing->Message().c_str(), notPlayed->Message().c_str());
            return 0;
        }
        builtIn = true;
    }
    std::fprintf(sys::Out(), "\n3. Recording two seconds into %s from %s\n", recording.c_str(),
                builtIn ? "the demo's own tone: no capture device here, so it plays through ALSA's file plugin"
                        : sys::CaptureDeviceName().c_str());
    std::fflush(sys::Out());
    RecordOptions options;
    options.seconds = 2;
    options.existing = Existing::Replace;
    if (const Recorded recorded = Record(recording, options); recorded.failure) return Report(*recorded.failure);
    const auto got = ReadSamples(recording);
    if (got.size() != 16000) return Fail(recording, "holds " + std::to_string(got.size()) + " samples, not 16000");
    if (builtIn && got != tone) return Fail(recording, "differs from the tone it recorded");
    std::fprintf(sys::Out(), "   %zu samples in 2 whole blocks%s\n", got.size(),
                builtIn ? ", sample for sample the tone that was played" : "");
    return 0;
}

}  // namespace

int RunDemo(const Invocation& call) {
    if (!call.Operands().empty()) return call.Usage("no operands");
    sys::MakeFolders(Folder);
    const std::string dir = Folder, tone = dir + "/tone.wav", clipped = dir + "/tone-clipped.wav";

    const auto signal = TestSignal();
    if (!WriteWav(tone, signal, library::RecordingRate)) return Fail(tone, "cannot be written: " + sys::LastError());
    std::fprintf(sys::Out(), "1. Test signal: %s, 2 s of 440 Hz rising to full scale\n", tone.c_str());
    std::fprintf(sys::Out(), "2. WAVDistortion(%s, %s, %d) says: ", tone.c_str(), clipped.c_str(), Threshold);
    std::fflush(sys::Out());  // the library's line goes straight to the C library's stdout, after this
    const library::Result status = library::Distort(tone, clipped, Threshold);
    if (!status.Ok()) {
        std::fprintf(sys::Out(), "\n");
        return Fail(clipped, "distortion failed (" + status.Why() + ")");
    }
    const auto result = ReadSamples(clipped);
    if (result.size() != signal.size()) return Fail(clipped, "cannot be read back");
    std::size_t changed = 0;
    for (std::size_t i = 0; i < signal.size(); ++i) changed += signal[i] != result[i];
    std::fprintf(sys::Out(), "   returned %d; %zu of %zu samples clipped to +-%d\n\n", status.code, changed, signal.size(), Threshold);
    ShowEnvelope("   before:", signal);
    ShowEnvelope("   after:", result);
    PlotRequest plot{tone, clipped, Threshold / 32768.0, std::to_string(Threshold)};
    const std::string svg = dir + "/tone.svg";
    if (const Status failure = WritePlotFile(plot, svg, Existing::Replace)) return Report(*failure);
    std::fprintf(sys::Out(), "   the same as a picture: %s (a browser opens it)\n", svg.c_str());
    const PlotRequest spectra{tone, clipped, std::nullopt, "", true};
    const std::string spectrum = dir + "/tone-spectrum.svg";
    if (const Status failure = WritePlotFile(spectra, spectrum, Existing::Replace)) return Report(*failure);
    std::fprintf(sys::Out(), "   and its spectrum: %s: the clip's harmonics, and between them the ones above 4000 Hz folded back;\n"
                "   wavfx distort --oversample 16 filters those away\n", spectrum.c_str());
    return RecordTwoSeconds(dir, signal);
}

}  // namespace wavfx
