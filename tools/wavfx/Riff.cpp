#include "Riff.h"

#include <algorithm>
#include <cstring>

#include "System.h"

namespace wavfx {

namespace {

uint32_t U32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint64_t U64(const unsigned char* p) { return U32(p) | static_cast<uint64_t>(U32(p + 4)) << 32; }

bool ReadAt(std::FILE* file, uint64_t offset, unsigned char* out, std::size_t size) {
    return sys::Seek(file, offset) && std::fread(out, 1, size, file) == size;
}

// What follows the format code in the GUID of every standard extensible subformat.
const unsigned char GuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void ReadFormat(std::FILE* file, uint64_t body, uint64_t size, WavLayout& layout) {
    unsigned char f[40] = {};
    if (size < 16 || !ReadAt(file, body, f, static_cast<std::size_t>(std::min<uint64_t>(size, sizeof f)))) {
        layout.problems.push_back("the fmt chunk is too short");
        return;
    }
    layout.hasFormat = true;
    layout.formatTag = U16(f);
    layout.channels = U16(f + 2);
    layout.sampleRate = U32(f + 4);
    layout.byteRate = U32(f + 8);
    layout.blockAlign = U16(f + 12);
    layout.bitsPerSample = U16(f + 14);
    if (layout.formatTag != FormatExtensible) return;
    if (size < 40) {
        layout.problems.push_back("the extensible fmt chunk is too short");
        return;
    }
    layout.validBits = U16(f + 18);
    layout.channelMask = U32(f + 20);
    if (std::memcmp(f + 28, GuidTail, sizeof GuidTail) == 0)
        layout.subFormat = U32(f + 24);
    else
        layout.problems.push_back("the extensible fmt chunk names a subformat GUID of its own");
}

}  // namespace

bool WavLayout::IsPcm16() const {
    return isWave && hasFormat && hasData && Encoding() == FormatPcm && bitsPerSample == 16 && channels > 0 &&
           blockAlign == 2 * channels;
}

std::string WavLayout::FormatName() const {
    if (!hasFormat) return "no format (no fmt chunk)";
    const std::string bits = std::to_string(bitsPerSample) + "-bit ";
    std::string name;
    switch (Encoding()) {
        case FormatPcm: name = bits + "PCM"; break;
        case FormatFloat: name = bits + "IEEE float"; break;
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
    return formatTag == FormatExtensible ? name + " (extensible)" : name;
}

bool WavLayout::IsLibraryLayout() const {
    return form == "RIFF" && isWave && chunks.size() == 2 && chunks[0].id == "fmt " && chunks[0].offset == 12 &&
           chunks[0].size == 16 && chunks[1].id == "data" && chunks[1].offset == 36 && dataOffset == 44 &&
           dataSize % 2 == 0 && dataOffset + dataSize == fileSize;
}

std::optional<WavLayout> ReadLayout(std::FILE* file, uint64_t fileSize) {
    WavLayout layout;
    layout.fileSize = fileSize;
    unsigned char head[12] = {};
    const std::size_t got = sys::Seek(file, 0) ? std::fread(head, 1, sizeof head, file) : 0;
    if (std::ferror(file)) return std::nullopt;
    layout.form.assign(reinterpret_cast<char*>(head), std::min<std::size_t>(got, 4));
    layout.isWave = got == 12 && (layout.form == "RIFF" || layout.form == "RF64") && std::memcmp(head + 8, "WAVE", 4) == 0;
    if (!layout.isWave) return layout;
    layout.riffSize = U32(head + 4);
    const bool rf64 = layout.form == "RF64";

    uint64_t dataSize64 = 0;
    uint64_t at = 12;
    while (at + 8 <= fileSize && layout.chunks.size() < 100000) {
        unsigned char h[8];
        if (!ReadAt(file, at, h, sizeof h)) return std::nullopt;
        Chunk chunk{std::string(reinterpret_cast<char*>(h), 4), at, U32(h + 4)};
        const uint64_t body = at + 8, room = fileSize - body;
        if (rf64 && chunk.id == "ds64" && chunk.size >= 24) {
            unsigned char d[16];
            if (!ReadAt(file, body, d, sizeof d)) return std::nullopt;
            layout.riffSize = U64(d);
            dataSize64 = U64(d + 8);
        }
        if (rf64 && chunk.id == "data" && chunk.size == 0xFFFFFFFFu) chunk.size = dataSize64;
        layout.chunks.push_back(chunk);
        if (chunk.id == "fmt " && !layout.hasFormat) ReadFormat(file, body, chunk.size, layout);
        if (chunk.id == "data" && !layout.hasData) {
            layout.hasData = true;
            layout.dataOffset = body;
            layout.dataSize = std::min(chunk.size, room);
            if (chunk.size > room)
                layout.problems.push_back("the data chunk says " + std::to_string(chunk.size) + " bytes; the file holds " +
                                          std::to_string(room));
        }
        if (chunk.size > room) break;  // runs to the end of the file
        at = body + chunk.size + (chunk.size & 1);
    }
    if (at < fileSize && at + 8 > fileSize)
        layout.problems.push_back(std::to_string(fileSize - at) + " stray byte(s) after the last chunk");
    if (layout.riffSize + 8 != fileSize)
        layout.problems.push_back("the RIFF size says " + std::to_string(layout.riffSize + 8) + " bytes; the file has " +
                                  std::to_string(fileSize));
    if (!layout.hasFormat) layout.problems.push_back("no fmt chunk");
    if (!layout.hasData) layout.problems.push_back("no data chunk");
    return layout;
}

}  // namespace wavfx
