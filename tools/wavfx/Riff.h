// The layout of a WAV file as real tools write it: RIFF (or RF64) chunks in
// any order, fmt with or without the extensible part, fact, LIST/INFO, the data
// chunk, chunks after it and pad bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace wavfx {

struct Chunk {
    std::string id;       // four bytes, as in the file
    uint64_t offset = 0;  // of the chunk's header
    uint64_t size = 0;    // as declared (RF64: from ds64)
};

constexpr uint16_t FormatPcm = 1, FormatFloat = 3, FormatExtensible = 0xFFFE;

struct WavLayout {
    uint64_t fileSize = 0;
    std::string form;  // the first four bytes: "RIFF", "RF64", or whatever they are
    uint64_t riffSize = 0;
    bool isWave = false;
    std::vector<Chunk> chunks;

    bool hasFormat = false;
    uint16_t formatTag = 0, channels = 0, blockAlign = 0, bitsPerSample = 0, validBits = 0;
    uint32_t sampleRate = 0, byteRate = 0, channelMask = 0;
    uint32_t subFormat = 0;  // extensible: the format code inside its GUID

    bool hasData = false;
    uint64_t dataOffset = 0;  // the first sample byte
    uint64_t dataSize = 0;    // sample bytes actually in the file
    std::vector<std::string> problems;

    // The format code, looking through the extensible wrapper.
    uint32_t Encoding() const { return formatTag == FormatExtensible ? subFormat : formatTag; }
    bool IsPcm16() const;
    // "16-bit PCM", "32-bit IEEE float (extensible)", "format 0x0055"...
    std::string FormatName() const;
    // The library's own 44-byte layout, for which its byte-pair pass is exact:
    // fmt at 12, data at 36, nothing after the samples.
    bool IsLibraryLayout() const;
    uint64_t Frames() const { return blockAlign > 0 ? dataSize / blockAlign : 0; }
};

// Walks the chunks of an open file of `fileSize` bytes; nullopt only when it
// cannot be read. A file that is not a WAV gives isWave false.
std::optional<WavLayout> ReadLayout(std::FILE* file, uint64_t fileSize);

}  // namespace wavfx
