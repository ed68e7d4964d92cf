#include "Samples.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "System.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "16-bit samples are read as they lie in the file");

namespace wavfx {

namespace {

constexpr std::size_t ChunkBytes = 1 << 16;

void Put(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// One sample's magnitude as a fraction of full scale.
double Level(const unsigned char* p, uint32_t encoding, unsigned bytes) {
    if (encoding == FormatFloat) {
        if (bytes == 4) {
            float f;
            std::memcpy(&f, p, 4);
            return std::fabs(static_cast<double>(f));
        }
        double d;
        std::memcpy(&d, p, 8);
        return std::fabs(d);
    }
    if (bytes == 1) return std::abs(static_cast<int>(p[0]) - 128) / 128.0;
    uint32_t raw = 0;
    for (unsigned i = 0; i < bytes; ++i) raw |= static_cast<uint32_t>(p[i]) << (8 * i);
    // Scaled up to 32 bits, so that full scale is 2^31 whatever the width.
    const auto value = static_cast<int32_t>(raw << (32 - 8 * bytes));
    return std::fabs(static_cast<double>(value)) / 2147483648.0;
}

}  // namespace

std::optional<std::vector<double>> ChannelPeaks(std::FILE* file, const WavLayout& layout) {
    const uint32_t encoding = layout.Encoding();
    const unsigned bytes = layout.bitsPerSample / 8;
    const bool known = (encoding == FormatPcm && bytes >= 1 && bytes <= 4 && layout.bitsPerSample % 8 == 0) ||
                       (encoding == FormatFloat && (bytes == 4 || bytes == 8));
    if (!layout.hasData || !known || layout.channels == 0 || layout.blockAlign != bytes * layout.channels)
        return std::nullopt;
    std::vector<double> peaks(layout.channels, 0.0);
    if (!sys::Seek(file, layout.dataOffset)) return std::nullopt;
    const std::size_t frame = layout.blockAlign;
    std::vector<unsigned char> chunk(ChunkBytes - ChunkBytes % frame);
    for (uint64_t left = layout.dataSize - layout.dataSize % frame; left > 0;) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, chunk.size()));
        if (std::fread(chunk.data(), 1, want, file) != want) return std::nullopt;
        for (std::size_t at = 0; at < want; at += frame)
            for (unsigned c = 0; c < layout.channels; ++c)
                peaks[c] = std::max(peaks[c], Level(chunk.data() + at + c * bytes, encoding, bytes));
        left -= want;
    }
    return peaks;
}

std::optional<uint64_t> CountClipped(std::FILE* file, uint64_t offset, uint64_t size, int32_t threshold) {
    // The library's clip: above t becomes t; otherwise below -t (in 32 bits) becomes -t's low 16 bits.
    // So a sample changes when it is above t, or else when t >= 0 and it is below -t, or when
    // t < 0 and it is not -t's low 16 bits already. Branch-free, so that it vectorises.
    const auto t = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(threshold) & 0xFFFFu));
    const auto mirror = static_cast<int16_t>(static_cast<uint16_t>(-static_cast<int32_t>(t) & 0xFFFF));
    if (!sys::Seek(file, offset)) return std::nullopt;
    std::vector<int16_t> chunk(ChunkBytes / 2);
    uint64_t changed = 0;
    for (uint64_t left = size - size % 2; left > 0;) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, ChunkBytes));
        if (std::fread(chunk.data(), 1, want, file) != want) return std::nullopt;
        const int16_t* s = chunk.data();
        const std::size_t n = want / 2;
        uint32_t count = 0;
        if (t >= 0)
            for (std::size_t i = 0; i < n; ++i) count += static_cast<uint32_t>((s[i] > t) | (s[i] < mirror));
        else
            for (std::size_t i = 0; i < n; ++i) count += static_cast<uint32_t>((s[i] > t) | (s[i] != mirror));
        changed += count;
        left -= want;
    }
    return changed;
}

bool CopyRange(std::FILE* from, uint64_t offset, uint64_t size, std::FILE* to) {
    if (!sys::Seek(from, offset)) return false;
    std::vector<char> chunk(ChunkBytes);
    while (size > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(size, chunk.size()));
        if (std::fread(chunk.data(), 1, want, from) != want || std::fwrite(chunk.data(), 1, want, to) != want)
            return false;
        size -= want;
    }
    return true;
}

bool CopyAll(std::FILE* from, std::FILE* to) {
    std::vector<char> chunk(ChunkBytes);
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), from);
        if (got > 0 && std::fwrite(chunk.data(), 1, got, to) != got) return false;
        if (got < chunk.size()) return !std::ferror(from);
    }
}

std::vector<unsigned char> WavHeader(uint32_t dataBytes, uint32_t sampleRate, uint16_t channels) {
    std::vector<unsigned char> h = {'R', 'I', 'F', 'F'};
    Put(h, dataBytes + 36, 4);
    for (char c : std::string("WAVEfmt ")) h.push_back(static_cast<unsigned char>(c));
    Put(h, 16, 4);
    Put(h, FormatPcm, 2);
    Put(h, channels, 2);
    Put(h, sampleRate, 4);
    Put(h, sampleRate * 2u * channels, 4);
    Put(h, 2u * channels, 2);
    Put(h, 16, 2);
    for (char c : std::string("data")) h.push_back(static_cast<unsigned char>(c));
    Put(h, dataBytes, 4);
    return h;
}

bool WriteWav(const std::string& path, const std::vector<int16_t>& samples, uint32_t sampleRate, uint16_t channels) {
    std::FILE* file = sys::Open(path, "wb");
    if (file == nullptr) return false;
    std::vector<unsigned char> bytes = WavHeader(static_cast<uint32_t>(samples.size() * 2), sampleRate, channels);
    for (int16_t s : samples) Put(bytes, static_cast<uint16_t>(s), 2);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

int Peak(const int16_t* samples, std::size_t count) {
    int peak = 0;
    for (std::size_t i = 0; i < count; ++i) peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    return peak;
}

}  // namespace wavfx
