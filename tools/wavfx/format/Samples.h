// Streaming over the samples of a WAV file in constant memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "riff/RiffReader.h"

namespace wavfx {

class LoudnessMeter;

struct ChannelPeak {
    double fraction;  // of full scale
    double value;     // the largest magnitude in the format's own units (8-bit: of the byte minus 128)
};
// The peak of each channel, for every format wavfx reads; nullopt for other
// formats, and on a read error (`readFailed` set). A source of unknown size
// is read to the end of its samples, and `layout` then says how many there were.
// With `meter`, the same samples are measured there too.
std::optional<std::vector<ChannelPeak>> ChannelPeaks(velorik::ByteSource& source, velorik::WavLayout& layout,
                                                     bool& readFailed, LoudnessMeter* meter = nullptr);

// How many of the 16-bit samples in [offset, offset + size) of a file the library's clip at
// `threshold` (its low 16 bits, signed) changes; nullopt on a read error.
std::optional<std::uint64_t> CountClipped(std::FILE* file, std::uint64_t offset, std::uint64_t size,
                                          std::int32_t threshold);

// A 44-byte-layout 16-bit PCM WAV file of `samples`.
bool WriteWav(const std::string& path, const std::vector<std::int16_t>& samples, std::uint32_t sampleRate,
              std::uint16_t channels = 1);

int Peak(const std::int16_t* samples, std::size_t count);

}  // namespace wavfx
