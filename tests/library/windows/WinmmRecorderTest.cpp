// The recorder's own objects on Wine's real winmm: stop must leave the buffer
// unprepared and the device closed, with the last block written first.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "recorder/SoundRecorder.h"

namespace velorik {
namespace {

long FileSize(const wchar_t* path) {
    std::FILE* f = _wfopen(path, L"rb");
    if (f == nullptr) return -1;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

TEST(RecorderOnWinmm, StopUnpreparesAndClosesAndTheFileMatches) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    const std::wstring path = std::wstring(base) + L"vwd-winmm-" + std::to_wstring(GetCurrentProcessId()) + L".wav";
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(SoundRecorderStart(path.c_str()), StatusSuccess);
        std::this_thread::sleep_for(std::chrono::milliseconds(1300 + 400 * round));
        const int32_t blocks = SoundRecorderStop();
        EXPECT_EQ(SoundRecorderView().unprepareResult, MMSYSERR_NOERROR);
        EXPECT_EQ(SoundRecorderView().closeResult, MMSYSERR_NOERROR);
        EXPECT_GE(blocks, 1);
        EXPECT_EQ(FileSize(path.c_str()), 44L + 16000L * blocks);
        EXPECT_EQ(SoundRecorderView().header->dataSize, 16000u * blocks);
    }
    DeleteFileW(path.c_str());
}

}  // namespace
}  // namespace velorik
