// The recorder through the real shared library, over real ALSA fed from a file.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/AlsaFileDevice.h"
#include "support/Library.h"
#include "support/TestFiles.h"

namespace {

using namespace testing_support;

std::size_t FileSize(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return 0;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    return static_cast<std::size_t>(size);
}

TEST(RecorderOverAlsa, RecordsGaplessWholeBlocksWithAnExactHeader) {
    TempDir dir;
    AlsaFileDevice alsa(dir, 1200);
    Library lib;
    const std::string out = dir.Path("rec.wav");
    ASSERT_EQ(lib.SoundRecorderStart(Utf16(out).c_str()), StatusSuccess);
    for (int i = 0; i < 5000 && FileSize(out) < 44 + 3 * 16000; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int32_t blocks = lib.SoundRecorderStop();

    ASSERT_GE(blocks, 3);
    ASSERT_LT(blocks, 1200) << "the ramp must outlast the recording";
    const Bytes file = ReadFile(out);
    ASSERT_EQ(file.size(), 44u + 16000u * blocks);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(ReadU32(file, 4), 16000u * blocks + 36);
    EXPECT_EQ(ReadU32(file, 24), 8000u);
    EXPECT_EQ(ReadU32(file, 40), 16000u * blocks);
    // Every sample of the ramp in order; the last block may end in silence.
    std::size_t i = 0;
    for (; i < file.size() - 44 && file[44 + i] == AlsaFileDevice::RampByte(i); ++i) {
    }
    EXPECT_GE(i, 16000u * (blocks - 1)) << "gap or repeat at byte " << i;
    for (; i < file.size() - 44; ++i) ASSERT_EQ(file[44 + i], 0) << "padding at byte " << i;
}

TEST(RecorderOverAlsa, AHostThatUnloadsMidRecordingGetsAFinishedFileAndCanLoadAgain) {
    TempDir dir;
    AlsaFileDevice alsa(dir, 1200);
    const std::string out = dir.Path("unloaded.wav");
    {
        Library lib;
        ASSERT_EQ(lib.SoundRecorderStart(Utf16(out).c_str()), StatusSuccess);
        for (int i = 0; i < 5000 && FileSize(out) < 44 + 2 * 16000; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(lib.Close());
    }
    const Bytes file = ReadFile(out);
    ASSERT_GE(ReadU32(file, 40), 2u * 16000u);
    EXPECT_EQ(file.size(), 44u + ReadU32(file, 40)) << "finished as a stop finishes it";
    Library again;
    ASSERT_EQ(again.SoundRecorderStart(Utf16(dir.Path("again.wav")).c_str()), StatusSuccess);
    EXPECT_GE(again.SoundRecorderStop(), 0);
}

TEST(RecorderOverAlsa, WithoutACaptureDeviceStartFailsAndStopLeavesAnEmptyWav) {
    TempDir dir;
    UseNoCaptureDevice(dir);
    Library lib;
    const std::string out = dir.Path("none.wav");
    EXPECT_EQ(lib.SoundRecorderStart(Utf16(out).c_str()), StatusOpenFailed);
    EXPECT_EQ(lib.SoundRecorderStop(), 0);
    const Bytes file = ReadFile(out);
    ASSERT_EQ(file.size(), 44u);
    EXPECT_EQ(ReadU32(file, 4), 36u);
    EXPECT_EQ(ReadU32(file, 40), 0u);
}

}  // namespace
