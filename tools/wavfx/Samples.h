// Streaming over the samples of a WAV file in constant memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Riff.h"

namespace wavfx {

// The peak of each channel as a fraction of full scale, for integer PCM of
// 8 to 32 bits and IEEE float; nullopt for other formats or a read error.
std::optional<std::vector<double>> ChannelPeaks(std::FILE* file, const WavLayout& layout);

// How many of the 16-bit samples in [offset, offset + size) the library's
// clip at `threshold` (its low 16 bits, signed) changes; nullopt on a read error.
std::optional<uint64_t> CountClipped(std::FILE* file, uint64_t offset, uint64_t size, int32_t threshold);

// Copies `size` bytes from `offset` of `from` to the current position of `to`.
bool CopyRange(std::FILE* from, uint64_t offset, uint64_t size, std::FILE* to);
// Copies the rest of `from` to `to`; false on a read or write error.
bool CopyAll(std::FILE* from, std::FILE* to);

// A 44-byte-layout 16-bit PCM WAV file of `samples`.
bool WriteWav(const std::string& path, const std::vector<int16_t>& samples, uint32_t sampleRate, uint16_t channels = 1);
// The 44-byte header of such a file holding `dataBytes` of samples.
std::vector<unsigned char> WavHeader(uint32_t dataBytes, uint32_t sampleRate, uint16_t channels);

int Peak(const int16_t* samples, std::size_t count);

}  // namespace wavfx
