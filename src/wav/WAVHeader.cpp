#include "wav/WAVHeader.h"

#include <cstring>

namespace velorik {

namespace {

void PutId(unsigned char* at, const char (&id)[4]) noexcept { std::memcpy(at, id, 4); }

void PutU16(unsigned char* at, uint16_t value) noexcept {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void PutU32(unsigned char* at, uint32_t value) noexcept {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

void WAVHeaderFill(WAVHeader& header, int32_t blockCount) noexcept {
    // 32-bit arithmetic as stored in the file; counts past the cap are never recorded.
    const uint32_t dataBytes = static_cast<uint32_t>(blockCount) * RecorderBlockBytes;
    std::memcpy(header.riffId, "RIFF", 4);
    header.riffSize = dataBytes + 36;
    std::memcpy(header.waveId, "WAVE", 4);
    std::memcpy(header.fmtId, "fmt ", 4);
    header.fmtSize = 16;
    header.audioFormat = 1;
    header.channels = 1;
    header.sampleRate = RecorderSampleRate;
    header.blockAlign = 2;
    header.byteRate = RecorderSampleRate * 2;
    header.bitsPerSample = 16;
    std::memcpy(header.dataId, "data", 4);
    header.dataSize = dataBytes;
}

void WAVHeaderSerialise(const WAVHeader& header, unsigned char (&bytes)[WAVHeaderSize]) noexcept {
    PutId(bytes + 0, header.riffId);
    PutU32(bytes + 4, header.riffSize);
    PutId(bytes + 8, header.waveId);
    PutId(bytes + 12, header.fmtId);
    PutU32(bytes + 16, header.fmtSize);
    PutU16(bytes + 20, header.audioFormat);
    PutU16(bytes + 22, header.channels);
    PutU32(bytes + 24, header.sampleRate);
    PutU32(bytes + 28, header.byteRate);
    PutU16(bytes + 32, header.blockAlign);
    PutU16(bytes + 34, header.bitsPerSample);
    PutId(bytes + 36, header.dataId);
    PutU32(bytes + 40, header.dataSize);
}

}  // namespace velorik
