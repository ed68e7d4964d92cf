// The layout of a WAV file as real tools write it: RIFF (or RF64) chunks in any
// order, fmt with or without the extensible part, fact, LIST/INFO, the data
// chunk, chunks after it and pad bytes. Read only through a ByteSource, so that
// a file, a pipe read once and a test's memory are read alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velorik {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes at `offset`: how many were read (fewer only at the end),
    // or -1 on a read error. A source that cannot seek takes offsets in
    // increasing order and reads over what lies between.
    virtual long long ReadAt(std::uint64_t offset, void* out, std::size_t size) = 0;
    // The whole size, where it is known before reading to the end.
    virtual std::optional<std::uint64_t> Size() const = 0;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const void* bytes, std::size_t size) : bytes_(static_cast<const unsigned char*>(bytes)), size_(size) {}
    long long ReadAt(std::uint64_t offset, void* out, std::size_t size) override;
    std::optional<std::uint64_t> Size() const override { return size_; }

private:
    const unsigned char* bytes_;
    std::size_t size_;
};

struct RiffChunk {
    std::string id;            // four bytes, as in the file
    std::uint64_t offset = 0;  // of the chunk's header
    std::uint64_t size = 0;    // as declared (RF64: from ds64; streamed: what the file holds)
};

constexpr std::uint16_t WaveFormatPcm = 1, WaveFormatFloat = 3, WaveFormatExtensible = 0xFFFE;

struct WavLayout {
    bool sized = false;          // the source's size was known (a file, not a pipe)
    std::uint64_t fileSize = 0;  // when sized, or once a stream has been read to its end
    std::string form;            // the first four bytes: "RIFF", "RF64", or whatever they are
    std::uint64_t riffSize = 0;
    bool isWave = false;
    std::vector<RiffChunk> chunks;
    bool walkedPastData = false;  // chunks after the samples were read too

    bool hasFormat = false;
    std::uint16_t formatTag = 0, channels = 0, blockAlign = 0, bitsPerSample = 0, validBits = 0;
    std::uint32_t sampleRate = 0, byteRate = 0, channelMask = 0;
    std::uint32_t subFormat = 0;  // extensible: the format code inside its GUID

    bool hasData = false;
    std::uint64_t dataOffset = 0;  // the first sample byte
    std::uint64_t dataSize = 0;    // sample bytes in the source (to its end when dataToEnd and unsized: unknown, 0)
    bool dataToEnd = false;        // the size said "until the end" (0xFFFFFFFF, 0, RF64 ds64 0): a streamed file
    std::vector<std::string> problems;

    // The format code, looking through the extensible wrapper.
    std::uint32_t Encoding() const { return formatTag == WaveFormatExtensible ? subFormat : formatTag; }
    // "16-bit PCM", "32-bit IEEE float (extensible)", "format 0x0055"...
    std::string FormatName() const;
    // The library's own 44-byte layout, for which its byte-pair pass is exact:
    // fmt at 12, data at 36, nothing after the samples.
    bool IsLibraryLayout() const;
    std::uint64_t Frames() const { return blockAlign > 0 ? dataSize / blockAlign : 0; }
};

// Walks the chunks; nullopt only on a read error. Something that is not a WAV
// gives isWave false. A source of unknown size is walked up to the first
// sample only, so that the samples can be read from it next.
std::optional<WavLayout> ReadWavLayout(ByteSource& source);
// For such a source, once its samples have been read (`dataSize` bytes of
// them): the chunks after them, and the size checks the end allows. False on
// a read error.
bool ReadChunksAfterData(ByteSource& source, WavLayout& layout);

}  // namespace velorik
