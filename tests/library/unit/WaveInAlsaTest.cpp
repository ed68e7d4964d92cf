// The wave input layer on its own, over real ALSA fed from a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "support/AlsaFileDevice.h"
#include "platform/posix/AlsaRead.h"
#include "recorder/SoundRecorder.h"
#include "platform/WaveIn.h"

namespace {

using namespace testing_support;

struct Received {
    std::atomic<int> opens{0}, closes{0}, data{0}, afterClose{0};
    std::atomic<bool> closed{false};
    std::atomic<bool> requeue{false};
    std::atomic<MMRESULT> requeueResult{MMSYSERR_ERROR};
    Bytes captured;  // everything delivered, in order
};

void CALLBACK Callback(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    auto& got = *reinterpret_cast<Received*>(instance);
    if (got.closed) ++got.afterClose;
    if (message == WIM_OPEN) ++got.opens;
    if (message == WIM_CLOSE) ++got.closes;
    if (message != WIM_DATA) return;
    auto* buffer = reinterpret_cast<WAVEHDR*>(param1);
    EXPECT_TRUE(buffer->dwFlags & WHDR_DONE);
    EXPECT_FALSE(buffer->dwFlags & WHDR_INQUEUE);
    got.captured.insert(got.captured.end(), buffer->lpData, buffer->lpData + buffer->dwBytesRecorded);
    ++got.data;
    if (got.requeue) got.requeueResult = waveInAddBuffer(device, buffer, sizeof *buffer);
}

const WAVEFORMATEX Format = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};

class WaveInAlsa : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &Format, reinterpret_cast<DWORD_PTR>(&Callback),
                             reinterpret_cast<DWORD_PTR>(&got), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        buffer.lpData = storage;
        buffer.dwBufferLength = sizeof storage;
    }
    void TearDown() override {
        if (device != nullptr) {
            waveInReset(device);
            waveInClose(device);
        }
    }
    void WaitForData(int count) {
        for (int i = 0; i < 5000 && got.data < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    TempDir dir;
    AlsaFileDevice alsa{dir, 600};
    Received got;
    HWAVEIN device = nullptr;
    char storage[16000];
    WAVEHDR buffer{};
};

TEST_F(WaveInAlsa, OpenNotifiesAndFlagsFollowTheBuffer) {
    EXPECT_EQ(got.opens, 1);
    EXPECT_EQ(waveInAddBuffer(device, &buffer, sizeof buffer), WAVERR_UNPREPARED);
    ASSERT_EQ(waveInPrepareHeader(device, &buffer, sizeof buffer), MMSYSERR_NOERROR);
    EXPECT_TRUE(buffer.dwFlags & WHDR_PREPARED);
    ASSERT_EQ(waveInAddBuffer(device, &buffer, sizeof buffer), MMSYSERR_NOERROR);
    EXPECT_TRUE(buffer.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(waveInAddBuffer(device, &buffer, sizeof buffer), WAVERR_STILLPLAYING) << "already queued";
    EXPECT_EQ(waveInUnprepareHeader(device, &buffer, sizeof buffer), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(device), WAVERR_STILLPLAYING);
    // Not started: stop leaves the empty buffer queued; reset returns it.
    EXPECT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    EXPECT_TRUE(buffer.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(got.data, 1);
    EXPECT_EQ(buffer.dwBytesRecorded, 0u);
    EXPECT_TRUE(buffer.dwFlags & WHDR_DONE);
    EXPECT_EQ(waveInUnprepareHeader(device, &buffer, sizeof buffer), MMSYSERR_NOERROR);
    EXPECT_FALSE(buffer.dwFlags & WHDR_PREPARED);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    got.closed = true;
    device = nullptr;
    EXPECT_EQ(got.closes, 1);
    EXPECT_EQ(got.afterClose, 0);
}

TEST_F(WaveInAlsa, CallbackRequeuesAndCaptureIsGaplessAcrossBuffers) {
    got.requeue = true;
    waveInPrepareHeader(device, &buffer, sizeof buffer);
    ASSERT_EQ(waveInAddBuffer(device, &buffer, sizeof buffer), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    WaitForData(5);
    got.requeue = false;
    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    const int afterStop = got.data;
    EXPECT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(got.requeueResult, MMSYSERR_NOERROR);
    ASSERT_GE(afterStop, 5);
    ASSERT_LT(got.captured.size(), 600u * 16000) << "the ramp must outlast the capture";
    for (std::size_t i = 0; i < got.captured.size(); ++i)
        ASSERT_EQ(got.captured[i], AlsaFileDevice::RampByte(i)) << "byte " << i;
    EXPECT_EQ(waveInUnprepareHeader(device, &buffer, sizeof buffer), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    got.closed = true;
    device = nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(got.afterClose, 0) << "no callback once close returned";
}

TEST_F(WaveInAlsa, RefusesWhatItCannotDo) {
    HWAVEIN other = nullptr;
    WAVEFORMATEX eightBit = Format;
    eightBit.wBitsPerSample = 8;
    eightBit.nBlockAlign = 1;
    EXPECT_EQ(waveInOpen(&other, WAVE_MAPPER, &eightBit, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_EQ(waveInOpen(&other, 7, &Format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInOpen(&other, WAVE_MAPPER, &Format, 0, 0, 0x00050000), MMSYSERR_INVALFLAG);
    EXPECT_EQ(waveInStart(reinterpret_cast<HWAVEIN>(&buffer)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInClose(nullptr), MMSYSERR_INVALHANDLE);
}

TEST(WaveInAlsaNoDevice, OpenFailsWithoutACaptureDevice) {
    TempDir dir;
    UseNoCaptureDevice(dir);
    HWAVEIN device = nullptr;
    EXPECT_NE(waveInOpen(&device, WAVE_MAPPER, &Format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
}

std::atomic<int> reads{0}, overruns{0};

snd_pcm_sframes_t OverrunEveryFifthRead(snd_pcm_t* pcm, void* buffer, snd_pcm_uframes_t frames) {
    if (++reads % 5 != 0) return snd_pcm_readi(pcm, buffer, frames);
    ++overruns;
    return -EPIPE;
}

TEST(WaveInAlsaOverrun, RecordingGoesOnAndTheFileStaysValid) {
    TempDir dir;
    AlsaFileDevice alsa(dir, 1200);
    const velorik::platform::AlsaReadScope overrunning(OverrunEveryFifthRead);
    const std::string path = dir.Path("overrun.wav");
    ASSERT_EQ(velorik::SoundRecorderStart(Utf16(path).c_str()), StatusSuccess);
    for (int i = 0; i < 5000 && ReadFile(path).size() < 44 + 4 * 16000; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int32_t blocks = velorik::SoundRecorderStop();

    EXPECT_GE(overruns, 4);
    EXPECT_GE(blocks, 4) << "capture went on after each overrun";
    const Bytes file = ReadFile(path);
    ASSERT_EQ(file.size(), 44u + 16000u * blocks);
    EXPECT_EQ(ReadU32(file, 40), 16000u * blocks);
}

snd_pcm_sframes_t FailForGoodAfterTwoBlocks(snd_pcm_t* pcm, void* buffer, snd_pcm_uframes_t frames) {
    static std::atomic<snd_pcm_uframes_t> read{0};
    if (read >= 2 * 8000 + 3000) return -EIO;  // a sound server that died mid-block
    const snd_pcm_sframes_t got = snd_pcm_readi(pcm, buffer, frames);
    if (got > 0) read += static_cast<snd_pcm_uframes_t>(got);
    return got;
}

TEST(WaveInAlsaFailure, EndsTheRecordingAtOnceWithTheDevicesReason) {
    TempDir dir;
    AlsaFileDevice alsa(dir, 1200);
    const velorik::platform::AlsaReadScope failing(FailForGoodAfterTwoBlocks);
    const std::string path = dir.Path("failed.wav");
    ASSERT_EQ(velorik::SoundRecorderStart(Utf16(path).c_str()), StatusSuccess);
    for (int i = 0; i < 5000 && HeldForWriting(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(HeldForWriting(path)) << "finished and let go without a stop";
    errno = 0;
    const int32_t blocks = velorik::SoundRecorderStop();
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(blocks, 3) << "two whole blocks and the one cut short, padded";
    const Bytes file = ReadFile(path);
    ASSERT_EQ(file.size(), 44u + 16000u * 3);
    EXPECT_EQ(ReadU32(file, 40), 16000u * 3);
    EXPECT_TRUE(std::all_of(file.end() - 8000, file.end(), [](unsigned char b) { return b == 0; })) << "silence";
}

}  // namespace
