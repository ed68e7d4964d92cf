// The canonical 44-byte header of a 16-bit PCM WAV file: RIFF, a 16-byte fmt
// chunk at 12 and the data chunk at 36, its samples from byte 44.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velorik {

constexpr std::size_t PcmHeaderBytes = 44;

// The header of such a file holding `dataBytes` of samples.
std::array<unsigned char, PcmHeaderBytes> PcmHeader(std::uint32_t dataBytes, std::uint32_t sampleRate,
                                                    std::uint16_t channels);

}  // namespace velorik
