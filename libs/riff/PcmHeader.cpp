#include "riff/PcmHeader.h"

#include <cstring>

namespace velorik {

namespace {

void Put(unsigned char* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

std::array<unsigned char, PcmHeaderBytes> PcmHeader(std::uint32_t dataBytes, std::uint32_t sampleRate,
                                                    std::uint16_t channels) {
    std::array<unsigned char, PcmHeaderBytes> header{};
    unsigned char* at = header.data();
    const std::uint32_t blockAlign = 2u * channels;
    std::memcpy(at, "RIFF", 4);
    Put(at + 4, dataBytes + 36, 4);
    std::memcpy(at + 8, "WAVEfmt ", 8);
    Put(at + 16, 16, 4);
    Put(at + 20, 1, 2);
    Put(at + 22, channels, 2);
    Put(at + 24, sampleRate, 4);
    Put(at + 28, sampleRate * blockAlign, 4);
    Put(at + 32, blockAlign, 2);
    Put(at + 34, 16, 2);
    std::memcpy(at + 36, "data", 4);
    Put(at + 40, dataBytes, 4);
    return header;
}

}  // namespace velorik
