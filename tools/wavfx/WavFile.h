// Reading WAV files for display: the 44-byte header's fields and the samples.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wavfx {

struct WavInfo {
    std::string riffId, waveId, fmtId, dataId;
    uint32_t riffSize = 0, fmtSize = 0, sampleRate = 0, byteRate = 0, dataSize = 0;
    uint16_t audioFormat = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
    uint64_t fileSize = 0;

    bool IsPcm16() const;
    // The header's sizes agree with the file's length.
    bool SizesMatch() const;
};

std::optional<WavInfo> ReadWavInfo(const std::string& path);
// The 16-bit samples after the 44-byte header (an odd last byte ignored).
std::optional<std::vector<int16_t>> ReadSamples(const std::string& path);
// Streamed over the samples in constant memory: the peak level, and how many
// samples differ between two files (nullopt when they differ in length).
std::optional<int> PeakOfFile(const std::string& path);
std::optional<uint64_t> CountChangedSamples(const std::string& a, const std::string& b, uint64_t& total);
bool WriteWav(const std::string& path, const std::vector<int16_t>& samples, uint32_t sampleRate);
int Peak(const int16_t* samples, std::size_t count);

}  // namespace wavfx
