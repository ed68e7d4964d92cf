#include "riff/RiffReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velorik {

namespace {

constexpr std::size_t MaxChunks = 100000;
constexpr std::uint32_t Streamed32 = 0xFFFFFFFFu;

std::uint32_t U32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint64_t U64(const unsigned char* p) { return U32(p) | static_cast<std::uint64_t>(U32(p + 4)) << 32; }

// What follows the format code in the GUID of every standard extensible subformat.
const unsigned char GuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool ReadFormat(ByteSource& source, std::uint64_t body, std::uint64_t size, WavLayout& layout) {
    unsigned char f[40] = {};
    const long long got = source.ReadAt(body, f, static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof f)));
    if (got < 0) return false;
    if (got < 16) {
        layout.problems.push_back("the fmt chunk is too short");
        return true;
    }
    layout.hasFormat = true;
    layout.formatTag = U16(f);
    layout.channels = U16(f + 2);
    layout.sampleRate = U32(f + 4);
    layout.byteRate = U32(f + 8);
    layout.blockAlign = U16(f + 12);
    layout.bitsPerSample = U16(f + 14);
    if (layout.formatTag != WaveFormatExtensible) return true;
    if (got < 40) {
        layout.problems.push_back("the extensible fmt chunk is too short");
        return true;
    }
    layout.validBits = U16(f + 18);
    layout.channelMask = U32(f + 20);
    if (std::memcmp(f + 28, GuidTail, sizeof GuidTail) == 0)
        layout.subFormat = U32(f + 24);
    else
        layout.problems.push_back("the extensible fmt chunk names a subformat GUID of its own");
    return true;
}

// A data size of 0 is a writer that never came back to fill it in, unless
// what follows it is another chunk.
bool ZeroMeansStreamed(ByteSource& source, std::uint64_t body, std::uint64_t room) {
    unsigned char next[8];
    if (room < sizeof next || source.ReadAt(body, next, sizeof next) != static_cast<long long>(sizeof next))
        return room > 0;
    for (int i = 0; i < 4; ++i)
        if (next[i] < 0x20 || next[i] > 0x7E) return true;
    return U32(next + 4) > room - sizeof next;
}

// Takes the data chunk's size as the file means it; false when the samples
// run to the end of the source.
bool DeclaredDataSize(ByteSource& source, const WavLayout& layout, std::uint64_t ds64Data, std::uint64_t body,
                      std::uint64_t room, std::uint64_t& size) {
    if (layout.form == "RF64" && size == Streamed32) {
        size = ds64Data;
        return ds64Data != 0;
    }
    if (size == Streamed32) return false;
    return size != 0 || !layout.sized || !ZeroMeansStreamed(source, body, room);
}

// Walks chunks from `at`; false on a read error.
bool Walk(ByteSource& source, WavLayout& layout, std::uint64_t at) {
    std::uint64_t ds64Data = 0;
    while (layout.chunks.size() < MaxChunks) {
        if (layout.sized && at + 8 > layout.fileSize) break;
        unsigned char h[8];
        const long long got = source.ReadAt(at, h, sizeof h);
        if (got < 0) return false;
        if (got < 8) {
            if (got > 0) layout.problems.push_back(std::to_string(got) + " stray byte(s) after the last chunk");
            layout.fileSize = at + static_cast<std::uint64_t>(got);  // where a stream ended
            return true;
        }
        RiffChunk chunk{std::string(reinterpret_cast<char*>(h), 4), at, U32(h + 4)};
        const std::uint64_t body = at + 8, room = layout.sized ? layout.fileSize - body : UINT64_MAX;
        if (layout.form == "RF64" && chunk.id == "ds64" && chunk.size >= 24) {
            unsigned char d[16];
            const long long read = source.ReadAt(body, d, sizeof d);
            if (read < 0) return false;
            if (read == sizeof d) {
                layout.riffSize = U64(d);
                ds64Data = U64(d + 8);
            }
        }
        const bool isData = chunk.id == "data" && !layout.hasData;
        if (isData) {
            layout.hasData = true;
            layout.dataOffset = body;
            if (!DeclaredDataSize(source, layout, ds64Data, body, room, chunk.size)) {
                layout.dataToEnd = true;
                chunk.size = layout.sized ? room : 0;
            }
            layout.dataSize = std::min(chunk.size, room);
            if (chunk.size > room)
                layout.problems.push_back("the data chunk says " + std::to_string(chunk.size) + " bytes; the file holds " +
                                          std::to_string(room));
        }
        layout.chunks.push_back(chunk);
        // Without a known size the samples are read next, from where they stand.
        if (isData && !layout.sized) return true;
        if (chunk.id == "fmt " && !layout.hasFormat && !ReadFormat(source, body, chunk.size, layout)) return false;
        if (chunk.size > room) break;  // runs to the end of the file
        at = body + chunk.size + (chunk.size & 1);
    }
    if (layout.sized && at < layout.fileSize && at + 8 > layout.fileSize)
        layout.problems.push_back(std::to_string(layout.fileSize - at) + " stray byte(s) after the last chunk");
    return true;
}

void NoteMissing(WavLayout& layout) {
    if (layout.riffSize + 8 != layout.fileSize)
        layout.problems.push_back("the RIFF size says " + std::to_string(layout.riffSize + 8) + " bytes; the file has " +
                                  std::to_string(layout.fileSize));
    if (!layout.hasFormat) layout.problems.push_back("no fmt chunk");
    if (!layout.hasData) layout.problems.push_back("no data chunk");
}

}  // namespace

long long MemorySource::ReadAt(std::uint64_t offset, void* out, std::size_t size) {
    if (offset >= size_) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset));
    std::memcpy(out, bytes_ + offset, n);
    return static_cast<long long>(n);
}

std::string WavLayout::FormatName() const {
    if (!hasFormat) return "no format (no fmt chunk)";
    const std::string bits = std::to_string(bitsPerSample) + "-bit ";
    std::string name;
    switch (Encoding()) {
        case WaveFormatPcm: name = bits + "PCM"; break;
        case WaveFormatFloat: name = bits + "IEEE float"; break;
        case 2: name = "Microsoft ADPCM"; break;
        case 6: name = "A-law"; break;
        case 7: name = "mu-law"; break;
        case 0x11: name = "IMA ADPCM"; break;
        case 0x55: name = "MP3"; break;
        default: {
            char code[32];
            std::snprintf(code, sizeof code, "format 0x%04X", static_cast<unsigned>(Encoding()));
            name = code;
        }
    }
    return formatTag == WaveFormatExtensible ? name + " (extensible)" : name;
}

bool WavLayout::IsLibraryLayout() const {
    return form == "RIFF" && isWave && sized && chunks.size() == 2 && chunks[0].id == "fmt " &&
           chunks[0].offset == 12 && chunks[0].size == 16 && chunks[1].id == "data" && chunks[1].offset == 36 &&
           dataOffset == 44 && dataSize % 2 == 0 && dataOffset + dataSize == fileSize;
}

std::optional<WavLayout> ReadWavLayout(ByteSource& source) {
    WavLayout layout;
    const auto size = source.Size();
    layout.sized = size.has_value();
    layout.fileSize = size.value_or(0);
    unsigned char head[12] = {};
    const long long got = source.ReadAt(0, head, sizeof head);
    if (got < 0) return std::nullopt;
    layout.form.assign(reinterpret_cast<char*>(head), static_cast<std::size_t>(std::min<long long>(got, 4)));
    layout.isWave = got == 12 && (layout.form == "RIFF" || layout.form == "RF64") && std::memcmp(head + 8, "WAVE", 4) == 0;
    if (!layout.isWave) return layout;
    layout.riffSize = U32(head + 4);
    if (!Walk(source, layout, 12)) return std::nullopt;
    layout.walkedPastData = layout.sized;
    if (layout.sized) NoteMissing(layout);
    return layout;
}

bool ReadChunksAfterData(ByteSource& source, WavLayout& layout) {
    if (layout.walkedPastData || !layout.hasData) return true;
    layout.walkedPastData = true;
    if (!layout.chunks.empty() && layout.chunks.back().id == "data") layout.chunks.back().size = layout.dataSize;
    layout.fileSize = layout.dataOffset + layout.dataSize;
    if (!layout.dataToEnd && !Walk(source, layout, layout.dataOffset + layout.dataSize + (layout.dataSize & 1)))
        return false;
    NoteMissing(layout);
    return true;
}

}  // namespace velorik
