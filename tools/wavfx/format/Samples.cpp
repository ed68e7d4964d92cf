#include "format/Samples.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "dsp/HardClip.h"
#include "format/Loudness.h"
#include "format/SampleFormat.h"
#include "system/System.h"
#include "riff/PcmHeader.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "16-bit samples are read as they lie in the file");

namespace wavfx {

namespace {

constexpr std::size_t ChunkBytes = 1 << 16, PeakChunkBytes = 1 << 20;

}  // namespace

std::optional<std::vector<ChannelPeak>> ChannelPeaks(velorik::ByteSource& source, velorik::WavLayout& layout,
                                                     bool& readFailed, LoudnessMeter* meter) {
    readFailed = false;
    std::string why;
    const auto format = SampleFormatOf(layout, why);
    if (!format) return std::nullopt;
    std::vector<ChannelRange> ranges(format->channels);
    const std::size_t frame = layout.blockAlign;
    // Not zeroed first: every byte looked at is read into it.
    const std::size_t chunkBytes = PeakChunkBytes - PeakChunkBytes % frame;
    const std::unique_ptr<unsigned char[]> chunk(new unsigned char[chunkBytes]);
    // Unsized and streamed: to the end of the source.
    const bool toEnd = !layout.sized && layout.dataToEnd;
    uint64_t done = 0;
    for (uint64_t left = toEnd ? UINT64_MAX : layout.dataSize; left > 0;) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, chunkBytes));
        const long long got = source.ReadAt(layout.dataOffset + done, chunk.get(), want);
        if (got < 0) {
            readFailed = true;
            return std::nullopt;
        }
        FoldRanges(format->coding, chunk.get(), static_cast<std::size_t>(got) / frame, ranges);
        if (meter != nullptr) meter->Add(chunk.get(), static_cast<std::size_t>(got) / frame);
        done += static_cast<uint64_t>(got);
        left -= toEnd ? 0 : static_cast<uint64_t>(got);
        if (static_cast<std::size_t>(got) < want) break;
    }
    if (!layout.sized) layout.dataSize = done;
    std::vector<ChannelPeak> peaks;
    for (const ChannelRange& range : ranges) {
        // No samples: silence.
        const double value = range.high < range.low ? 0.0 : std::max(std::fabs(range.high), std::fabs(range.low));
        peaks.push_back({value / FullScale(format->coding), value});
    }
    return peaks;
}

std::optional<uint64_t> CountClipped(std::FILE* file, uint64_t offset, uint64_t size, int32_t threshold) {
    const int16_t t = velorik::ThresholdFromArgument(threshold);
    if (!sys::Seek(file, offset)) return std::nullopt;
    std::vector<int16_t> chunk(ChunkBytes / 2);
    uint64_t changed = 0;
    for (uint64_t left = size - size % 2; left > 0;) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, ChunkBytes));
        if (std::fread(chunk.data(), 1, want, file) != want) return std::nullopt;
        changed += velorik::CountClipChanges(chunk.data(), want / 2, t);
        left -= want;
    }
    return changed;
}

bool WriteWav(const std::string& path, const std::vector<int16_t>& samples, uint32_t sampleRate, uint16_t channels) {
    std::FILE* file = sys::Open(path, "wb");
    if (file == nullptr) return false;
    const auto header = velorik::PcmHeader(static_cast<uint32_t>(samples.size() * 2), sampleRate, channels);
    const bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                    std::fwrite(samples.data(), 2, samples.size(), file) == samples.size();
    return std::fclose(file) == 0 && ok;
}

int Peak(const int16_t* samples, std::size_t count) {
    int peak = 0;
    for (std::size_t i = 0; i < count; ++i) peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    return peak;
}

}  // namespace wavfx
