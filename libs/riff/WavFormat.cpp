#include "riff/WavFormat.h"

#include <algorithm>

namespace velorik {

std::optional<SampleFormat> SampleFormatOf(const WavLayout& layout, std::string& why) {
    if (!layout.isWave) return why = "not a WAV file", std::nullopt;
    if (!layout.hasFormat) {
        const bool present =
            std::any_of(layout.chunks.begin(), layout.chunks.end(), [](const RiffChunk& c) { return c.id == "fmt "; });
        why = present ? "the fmt chunk is too short" : layout.sized ? "no fmt chunk" : "no fmt chunk before the samples";
        return std::nullopt;
    }
    if (layout.channels == 0) return why = "the fmt chunk says 0 channels", std::nullopt;
    if (layout.blockAlign == 0) return why = "the fmt chunk says block align 0", std::nullopt;
    const unsigned bits = layout.bitsPerSample;
    const bool pcm = layout.Encoding() == WaveFormatPcm, fp = layout.Encoding() == WaveFormatFloat;
    std::optional<Coding> coding;
    if (pcm && bits == 8) coding = Coding::U8;
    if (pcm && bits == 16) coding = Coding::S16;
    if (pcm && bits == 24) coding = Coding::S24;
    if (pcm && bits == 32) coding = Coding::S32;
    if (fp && bits == 32) coding = Coding::F32;
    if (fp && bits == 64) coding = Coding::F64;
    if (!coding)
        return why = layout.FormatName() + ", not 8-, 16-, 24- or 32-bit PCM or 32- or 64-bit float", std::nullopt;
    const SampleFormat format{*coding, bits / 8, layout.channels};
    if (layout.blockAlign != format.bytes * format.channels)
        return why = "the fmt chunk says block align " + std::to_string(layout.blockAlign) + " for " +
                     std::to_string(layout.channels) + " channel(s) of " + std::to_string(bits) + " bits",
               std::nullopt;
    if (!layout.hasData) return why = "no data chunk", std::nullopt;
    return format;
}

bool IsPcm16(const WavLayout& layout) {
    std::string why;
    const auto format = SampleFormatOf(layout, why);
    return format && format->coding == Coding::S16;
}

}  // namespace velorik
