// The 44-byte RIFF/WAVE header shared by the recorder and the distortion pass.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velorik {

constexpr std::size_t WAVHeaderSize = 44;
constexpr int32_t RecorderSampleRate = 8000;
constexpr int32_t RecorderBlockSamples = 8000;
constexpr int32_t RecorderBlockBytes = RecorderBlockSamples * 2;
// The largest block count whose data size and RIFF size both fit 32 bits.
constexpr int32_t RecorderMaxBlocks = 268435;

struct WAVHeader {
    char riffId[4];
    uint32_t riffSize;
    char waveId[4];
    char fmtId[4];
    uint32_t fmtSize;
    uint16_t audioFormat;
    uint16_t channels;
    uint32_t sampleRate;
    uint32_t byteRate;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    char dataId[4];
    uint32_t dataSize;
};

static_assert(sizeof(WAVHeader) == WAVHeaderSize, "WAVHeader must have no padding");
static_assert(offsetof(WAVHeader, riffSize) == 4 && offsetof(WAVHeader, waveId) == 8 &&
                  offsetof(WAVHeader, fmtId) == 12 && offsetof(WAVHeader, fmtSize) == 16 &&
                  offsetof(WAVHeader, audioFormat) == 20 && offsetof(WAVHeader, channels) == 22 &&
                  offsetof(WAVHeader, sampleRate) == 24 && offsetof(WAVHeader, byteRate) == 28 &&
                  offsetof(WAVHeader, blockAlign) == 32 &&
                  offsetof(WAVHeader, bitsPerSample) == 34 && offsetof(WAVHeader, dataId) == 36 &&
                  offsetof(WAVHeader, dataSize) == 40,
              "WAVHeader fields must sit at their file offsets");

// Sets every field to the recorder's 8000 Hz mono 16-bit values for `blockCount` blocks.
void WAVHeaderFill(WAVHeader& header, int32_t blockCount) noexcept;

// Writes the 44 file bytes, little-endian whatever the host's byte order.
void WAVHeaderSerialise(const WAVHeader& header, unsigned char (&bytes)[WAVHeaderSize]) noexcept;

}  // namespace velorik
