#include "wav/WAVHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace velorik {
namespace {

std::vector<unsigned char> Serialised(int32_t blocks) {
    WAVHeader header{};
    WAVHeaderFill(header, blocks);
    unsigned char bytes[WAVHeaderSize];
    WAVHeaderSerialise(header, bytes);
    return {bytes, bytes + WAVHeaderSize};
}

uint32_t U32At(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST(WAVHeader, ZeroBlocksGoldenBytes) {
    const std::vector<unsigned char> golden = {
        'R', 'I', 'F', 'F', 36, 0, 0, 0,    'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16,  0,   0,   0,  1, 0,
        1,   0,   0x40, 0x1F, 0, 0, 0x80, 0x3E, 0,   0,   2,   0,   16,  0,   'd', 'a', 't', 'a', 0,  0, 0, 0};
    EXPECT_EQ(Serialised(0), golden);
}

TEST(WAVHeader, ThreeBlocksDifferOnlyInTheSizes) {
    std::vector<unsigned char> expected = Serialised(0);
    const uint32_t data = 3 * 16000;  // 48000 = 0xBB80
    const unsigned char riff[] = {0xA4, 0xBB, 0, 0}, size[] = {0x80, 0xBB, 0, 0};
    std::memcpy(&expected[4], riff, 4);
    std::memcpy(&expected[40], size, 4);
    const auto bytes = Serialised(3);
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(U32At(bytes, 40), data);
    EXPECT_EQ(U32At(bytes, 4), data + 36);
}

TEST(WAVHeader, LargestCountStillFits) {
    const auto bytes = Serialised(RecorderMaxBlocks);
    EXPECT_EQ(U32At(bytes, 40), 4294960000u);
    EXPECT_EQ(U32At(bytes, 4), 4294960036u);
    // One block more would wrap the RIFF size: the cap is the last count that fits.
    EXPECT_GT(static_cast<uint64_t>(RecorderMaxBlocks + 1) * 16000 + 36, uint64_t{0xFFFFFFFF});
}

}  // namespace
}  // namespace velorik
