#include "WavFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

namespace wavfx {

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File Open(const std::string& path, const char* mode) { return File(std::fopen(path.c_str(), mode), std::fclose); }

uint32_t U32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void PutU32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void PutU16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

}  // namespace

bool WavInfo::IsPcm16() const { return riffId == "RIFF" && waveId == "WAVE" && audioFormat == 1 && bitsPerSample == 16; }

bool WavInfo::SizesMatch() const { return fileSize == 44ull + dataSize && riffSize == dataSize + 36ull; }

std::optional<WavInfo> ReadWavInfo(const std::string& path) {
    File file = Open(path, "rb");
    if (!file) return std::nullopt;
    unsigned char h[44] = {};
    const std::size_t got = std::fread(h, 1, sizeof h, file.get());
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return std::nullopt;
    WavInfo info;
    info.fileSize = static_cast<uint64_t>(std::ftell(file.get()));
    if (got < sizeof h) return info;
    info.riffId.assign(reinterpret_cast<char*>(h), 4);
    info.riffSize = U32(h + 4);
    info.waveId.assign(reinterpret_cast<char*>(h + 8), 4);
    info.fmtId.assign(reinterpret_cast<char*>(h + 12), 4);
    info.fmtSize = U32(h + 16);
    info.audioFormat = U16(h + 20);
    info.channels = U16(h + 22);
    info.sampleRate = U32(h + 24);
    info.byteRate = U32(h + 28);
    info.blockAlign = U16(h + 32);
    info.bitsPerSample = U16(h + 34);
    info.dataId.assign(reinterpret_cast<char*>(h + 36), 4);
    info.dataSize = U32(h + 40);
    return info;
}


namespace {

constexpr std::size_t ChunkSamples = 32768;

// Reads up to ChunkSamples samples; returns how many whole samples it read.
std::size_t ReadChunk(std::FILE* file, int16_t* out, bool& failed) {
    unsigned char bytes[ChunkSamples * 2];
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
    failed = failed || std::ferror(file);
    for (std::size_t i = 0; i + 1 < got; i += 2) out[i / 2] = static_cast<int16_t>(U16(bytes + i));
    return got / 2;
}

// The file positioned at its first sample, or empty.
File OpenSamples(const std::string& path) {
    File file = Open(path, "rb");
    if (file && std::fseek(file.get(), 44, SEEK_SET) != 0) file.reset();
    return file;
}

}  // namespace

std::optional<std::vector<int16_t>> ReadSamples(const std::string& path) {
    File file = OpenSamples(path);
    if (!file) return std::nullopt;
    std::vector<int16_t> samples, chunk(ChunkSamples);
    bool failed = false;
    while (const std::size_t n = ReadChunk(file.get(), chunk.data(), failed))
        samples.insert(samples.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    return failed ? std::nullopt : std::optional<std::vector<int16_t>>(std::move(samples));
}

std::optional<int> PeakOfFile(const std::string& path) {
    File file = OpenSamples(path);
    if (!file) return std::nullopt;
    std::vector<int16_t> chunk(ChunkSamples);
    int peak = 0;
    bool failed = false;
    while (const std::size_t n = ReadChunk(file.get(), chunk.data(), failed)) peak = std::max(peak, Peak(chunk.data(), n));
    return failed ? std::nullopt : std::optional<int>(peak);
}

std::optional<uint64_t> CountChangedSamples(const std::string& a, const std::string& b, uint64_t& total) {
    File first = OpenSamples(a), second = OpenSamples(b);
    if (!first || !second) return std::nullopt;
    std::vector<int16_t> x(ChunkSamples), y(ChunkSamples);
    uint64_t changed = 0;
    bool failed = false;
    total = 0;
    for (;;) {
        const std::size_t n = ReadChunk(first.get(), x.data(), failed), m = ReadChunk(second.get(), y.data(), failed);
        if (n != m || failed) return std::nullopt;
        if (n == 0) return changed;
        for (std::size_t i = 0; i < n; ++i) changed += x[i] != y[i];
        total += n;
    }
}

bool WriteWav(const std::string& path, const std::vector<int16_t>& samples, uint32_t sampleRate) {
    File file = Open(path, "wb");
    if (!file) return false;
    const uint32_t dataSize = static_cast<uint32_t>(samples.size() * 2);
    unsigned char h[44];
    std::copy_n("RIFF", 4, h);
    PutU32(h + 4, dataSize + 36);
    std::copy_n("WAVEfmt ", 8, h + 8);
    PutU32(h + 16, 16);
    PutU16(h + 20, 1);
    PutU16(h + 22, 1);
    PutU32(h + 24, sampleRate);
    PutU32(h + 28, sampleRate * 2);
    PutU16(h + 32, 2);
    PutU16(h + 34, 16);
    std::copy_n("data", 4, h + 36);
    PutU32(h + 40, dataSize);
    bool ok = std::fwrite(h, 1, sizeof h, file.get()) == sizeof h;
    for (int16_t s : samples) {
        unsigned char b[2];
        PutU16(b, static_cast<uint16_t>(s));
        ok = ok && std::fwrite(b, 1, 2, file.get()) == 2;
    }
    return std::fclose(file.release()) == 0 && ok;
}

int Peak(const int16_t* samples, std::size_t count) {
    int peak = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int level = std::abs(static_cast<int>(samples[i]));
        if (level > peak) peak = level;
    }
    return peak;
}

}  // namespace wavfx
