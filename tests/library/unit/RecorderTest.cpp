// The recorder against the strict wave input, driven by hand: device failures,
// partial and empty buffers, a disk filling up, the block cap, late callbacks
// and stops racing the device.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <future>
#include <thread>

#include "recorder/SoundRecorder.h"
#include "support/StrictWaveIn.h"
#include "support/TestFiles.h"

namespace velorik {
namespace {

using namespace testing_support;

StrictCounts Counts() {
    StrictCounts counts{};
    StrictGetCounts(&counts);
    return counts;
}

void ResetDevice(StrictScript script = {}) { StrictReset(&script); }

// The recorder hands buffers back from its own thread, so a delivery waits for one.
bool Deliver(DWORD bytes, uint32_t waitMs = 2000) { return StrictDeliver(bytes, 1, waitMs) != 0; }

Bytes HeaderFor(int32_t blocks) {
    WAVHeader header{};
    WAVHeaderFill(header, blocks);
    unsigned char bytes[WAVHeaderSize];
    WAVHeaderSerialise(header, bytes);
    return {bytes, bytes + WAVHeaderSize};
}

Bytes Head(const Bytes& file) { return {file.begin(), file.begin() + std::min<std::size_t>(44, file.size())}; }

// One block: the ramp from sample `first` for `recorded` bytes, then silence.
Bytes RampBlock(uint64_t first, DWORD recorded = RecorderBlockBytes) {
    Bytes bytes(RecorderBlockBytes, 0);
    for (DWORD i = 0; i + 1 < recorded; i += 2) {
        const auto sample = static_cast<uint16_t>(StrictRamp(first + i / 2));
        bytes[i] = static_cast<unsigned char>(sample & 0xFF);
        bytes[i + 1] = static_cast<unsigned char>(sample >> 8);
    }
    return bytes;
}

void ExpectWavOf(const std::string& path, const std::vector<Bytes>& blocks) {
    const Bytes file = ReadFile(path);
    ASSERT_EQ(file.size(), 44 + 16000 * blocks.size());
    EXPECT_EQ(Head(file), HeaderFor(static_cast<int32_t>(blocks.size())));
    for (std::size_t b = 0; b < blocks.size(); ++b)
        EXPECT_TRUE(std::equal(blocks[b].begin(), blocks[b].end(), file.begin() + 44 + 16000 * b)) << "block " << b;
}

class Recorder : public ::testing::Test {
protected:
    void SetUp() override { ResetDevice(); }
    void TearDown() override {
        SoundRecorderStop();
        EXPECT_EQ(Counts().callsFromCallback, 0) << "a wave call from inside the callback deadlocks on winmm";
    }

    int32_t Start(const std::string& name) { return SoundRecorderStart(Utf16(dir.Path(name)).c_str()); }

    TempDir dir;
};

TEST_F(Recorder, OpensTheDeviceWithTheCaptureFormatAndQueuesEveryBuffer) {
    ASSERT_EQ(Start("a.wav"), StatusSuccess);
    const StrictCounts counts = Counts();
    EXPECT_EQ(counts.openDeviceId, WAVE_MAPPER);
    EXPECT_EQ(counts.openFlags, CALLBACK_FUNCTION);
    EXPECT_EQ(counts.openInstance, 0u);
    const uint32_t format[7] = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    EXPECT_TRUE(std::equal(format, format + 7, counts.openFormat));
    EXPECT_EQ(counts.queued, RecorderBufferCount);
    const RecorderView view = SoundRecorderView();
    for (int i = 0; i < RecorderBufferCount; ++i) {
        EXPECT_EQ(view.buffers[i].dwBufferLength, 16000u);
        EXPECT_EQ(view.buffers[i].lpData, reinterpret_cast<LPSTR>(view.captureBuffers[i]));
    }
}

TEST_F(Recorder, DeviceFailuresLeaveAHalfStartedRecordingThatStopFinishes) {
    struct Case {
        const char* what;
        StrictScript script;
        int32_t status;
        int prepares, starts;
    } cases[] = {
        {"open fails", {MMSYSERR_BADDEVICEID}, StatusOpenFailed, 0, 0},
        {"queue fails", {0, MMSYSERR_NOMEM}, StatusQueueFailed, RecorderBufferCount, 0},
        {"start fails", {0, 0, MMSYSERR_ERROR}, StatusStartFailed, RecorderBufferCount, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetDevice(c.script);
        ASSERT_EQ(Start("half.wav"), c.status);
        EXPECT_EQ(Start("other.wav"), StatusOpenFailed) << "a half-started recording is still under way";
        EXPECT_FALSE(Exists(dir.Path("other.wav")));
        EXPECT_EQ(SoundRecorderStop(), 0);
        ExpectWavOf(dir.Path("half.wav"), {});
        const StrictCounts counts = Counts();
        EXPECT_EQ(counts.prepares, c.prepares);
        EXPECT_EQ(counts.starts, c.starts);
        EXPECT_FALSE(counts.deviceOpen) << "stop closes whatever the start opened";
    }
}

TEST_F(Recorder, FileIsAValidWavFromStartAndAfterEveryBlock) {
    ASSERT_EQ(Start("live.wav"), StatusSuccess);
    ExpectWavOf(dir.Path("live.wav"), {});
    ASSERT_TRUE(Deliver(RecorderBlockBytes));
    ASSERT_TRUE(Deliver(RecorderBlockBytes));
    ASSERT_TRUE(StrictWaitQueued(RecorderBufferCount, 2000)) << "both buffers handed back";
    // What a host that died now would leave behind.
    ExpectWavOf(dir.Path("live.wav"), {RampBlock(0), RampBlock(8000)});
    EXPECT_EQ(SoundRecorderStop(), 2);
    const StrictCounts counts = Counts();
    EXPECT_EQ(counts.lastUnprepare, MMSYSERR_NOERROR);
    EXPECT_EQ(counts.lastClose, MMSYSERR_NOERROR);
    EXPECT_EQ(SoundRecorderView().unprepareResult, MMSYSERR_NOERROR);
}

TEST_F(Recorder, PartialBufferAtStopIsPaddedWithSilence) {
    for (bool late : {false, true}) {
        SCOPED_TRACE(late ? "returned after stop, from another thread" : "returned during stop");
        StrictScript script{};
        script.partialAtStop = 1000;
        script.lateReturn = late;
        ResetDevice(script);
        // Old audio in the capture buffers must not leak into the padding.
        const RecorderView view = SoundRecorderView();
        for (int b = 0; b < RecorderBufferCount; ++b) std::fill(std::begin(view.captureBuffers[b]), std::end(view.captureBuffers[b]), 0x5A);
        ASSERT_EQ(Start("p.wav"), StatusSuccess);
        ASSERT_TRUE(Deliver(RecorderBlockBytes));
        EXPECT_EQ(SoundRecorderStop(), 2);
        ExpectWavOf(dir.Path("p.wav"), {RampBlock(0), RampBlock(8000, 1000)});
        EXPECT_EQ(Counts().lastClose, MMSYSERR_NOERROR);
    }
}

TEST_F(Recorder, EmptyBufferAppendsNothingAndGoesBack) {
    ASSERT_EQ(Start("e.wav"), StatusSuccess);
    ASSERT_TRUE(Deliver(0));
    EXPECT_TRUE(StrictWaitQueued(RecorderBufferCount, 2000));
    ASSERT_TRUE(Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 1);
    ExpectWavOf(dir.Path("e.wav"), {RampBlock(0)});
}

TEST_F(Recorder, SecondRecordingStartsAtZero) {
    ASSERT_EQ(Start("first.wav"), StatusSuccess);
    ASSERT_TRUE(Deliver(RecorderBlockBytes));
    ASSERT_TRUE(Deliver(RecorderBlockBytes));
    ASSERT_EQ(SoundRecorderStop(), 2);

    ResetDevice();
    ASSERT_EQ(Start("second.wav"), StatusSuccess);
    EXPECT_EQ(ReadFile(dir.Path("second.wav")), HeaderFor(0));
    ASSERT_TRUE(Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 1);
    ExpectWavOf(dir.Path("second.wav"), {RampBlock(0)});
    ExpectWavOf(dir.Path("first.wav"), {RampBlock(0), RampBlock(8000)});
}

TEST_F(Recorder, StartWhileRecordingIsRefusedAndLeavesTheRecordingAlone) {
    ASSERT_EQ(Start("one.wav"), StatusSuccess);
    ASSERT_TRUE(Deliver(RecorderBlockBytes));
    EXPECT_EQ(Start("two.wav"), StatusOpenFailed);
    EXPECT_FALSE(Exists(dir.Path("two.wav")));
    ASSERT_TRUE(Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 2);
    EXPECT_EQ(Counts().opens, 1);
    ExpectWavOf(dir.Path("one.wav"), {RampBlock(0), RampBlock(8000)});
}

TEST_F(Recorder, StopWithNothingStartedTwiceOrConcurrentlyTouchesNothing) {
    EXPECT_EQ(SoundRecorderStop(), 0);
    ASSERT_EQ(Start("s.wav"), StatusSuccess);
    ASSERT_TRUE(Deliver(RecorderBlockBytes));
    // Two stops at once: one does the work, the other returns at once.
    auto other = std::async(std::launch::async, [] { return SoundRecorderStop(); });
    const int32_t mine = SoundRecorderStop();
    EXPECT_EQ(mine + other.get(), 1);
    const StrictCounts before = Counts();
    EXPECT_EQ(before.closes, 1);
    EXPECT_EQ(SoundRecorderStop(), 0);
    EXPECT_EQ(Counts().stops, before.stops);
    ExpectWavOf(dir.Path("s.wav"), {RampBlock(0)});
}

TEST_F(Recorder, FileThatCannotBeCreatedOrTakeItsHeaderIsRefusedBeforeTheDevice) {
    const struct {
        const char* what;
        std::basic_string<VwdChar16> path;
        int error;
    } cases[] = {
        {"missing folder", Utf16(dir.Path("missing-dir/x.wav")), ENOENT},
        {"full disk", Utf16("/dev/full"), ENOSPC},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        errno = 0;
        EXPECT_EQ(SoundRecorderStart(c.path.c_str()), StatusOpenFailed);
        EXPECT_EQ(errno, c.error);
    }
    errno = 0;
    EXPECT_EQ(SoundRecorderStart(nullptr), StatusOpenFailed);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Counts().opens, 0);
    EXPECT_EQ(SoundRecorderStop(), 0);
    EXPECT_EQ(Start("fine.wav"), StatusSuccess) << "the recorder stayed idle";
}

TEST_F(Recorder, NameOutsideTheNarrowRangeIsRecordedTo) {
    ASSERT_EQ(SoundRecorderStart(Utf16(dir.Path("nagranie-ą-音.wav")).c_str()), StatusSuccess);
    ASSERT_TRUE(Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 1);
    ExpectWavOf(dir.Path("nagranie-ą-音.wav"), {RampBlock(0)});
}

// Delivers blocks until the device holds no buffer: how many it took.
int DeliverAll(int most) {
    int delivered = 0;
    while (delivered < most && Deliver(RecorderBlockBytes, 300)) ++delivered;
    return delivered;
}

// A recording that can go no further ends at once: the device is released, the
// file finished and let go (its lock gone) before any stop, and stop says why.
TEST_F(Recorder, WhatCanGoNoFurtherEndsAtOnceAndStopSaysWhy) {
    const FileSizeLimit limit(44 + 2 * 16000 + 5000);  // the third block's write fails part-way
    ASSERT_TRUE(limit.Took());
    StrictScript refusing{};
    refusing.addsAccepted = RecorderBufferCount;  // no buffer handed back is taken
    const struct {
        const char* what;
        StrictScript script;
        int delivered;
        int32_t blocks;
        int error;
    } cases[] = {
        {"the disk fills", {}, 3, 2, EFBIG},
        {"the device takes no buffer back", refusing, 1, 1, ENODEV},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetDevice(c.script);
        ASSERT_EQ(Start("ended.wav"), StatusSuccess);
        EXPECT_TRUE(HeldForWriting(dir.Path("ended.wav")));
        EXPECT_EQ(DeliverAll(c.delivered), c.delivered);
        for (int i = 0; i < 200 && HeldForWriting(dir.Path("ended.wav")); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_FALSE(HeldForWriting(dir.Path("ended.wav")));
        EXPECT_FALSE(Counts().deviceOpen);
        errno = 0;
        EXPECT_EQ(SoundRecorderStop(), c.blocks);
        EXPECT_EQ(errno, c.error);
        std::vector<Bytes> blocks;
        for (int b = 0; b < c.blocks; ++b) blocks.push_back(RampBlock(8000u * b));
        ExpectWavOf(dir.Path("ended.wav"), blocks);
    }
}

TEST_F(Recorder, LateCallbacksTouchNothingAndADeadDriverDoesNotHangStop) {
    for (bool dead : {false, true}) {
        SCOPED_TRACE(dead ? "driver that never gives its buffers back" : "working driver");
        StrictScript script{};
        script.neverReturns = dead;
        script.partialAtStop = 500;
        ResetDevice(script);
        ASSERT_EQ(Start("late.wav"), StatusSuccess);
        ASSERT_TRUE(Deliver(RecorderBlockBytes));
        ASSERT_TRUE(StrictWaitQueued(RecorderBufferCount, 2000));
        const int32_t expected = dead ? 1 : 2;
        EXPECT_EQ(SoundRecorderStop(), expected);
        EXPECT_EQ(Counts().lastClose, dead ? WAVERR_STILLPLAYING : MMSYSERR_NOERROR);
        const Bytes finished = ReadFile(dir.Path("late.wav"));
        ASSERT_EQ(finished.size(), 44u + 16000u * expected);
        // While a driver holds the buffers, no new recording prepares them for another device.
        const std::string next = dead ? "refused-while-held.wav" : "next.wav";
        EXPECT_EQ(Start(next), dead ? StatusOpenFailed : StatusSuccess);
        SoundRecorderStop();
        EXPECT_EQ(std::ifstream(dir.Path(next)).good(), !dead) << "nothing created when refused";
        // Should the driver answer after all, the finished recording is not touched.
        const RecorderView view = SoundRecorderView();
        for (int b = 0; b < RecorderBufferCount; ++b) {
            view.buffers[b].dwBytesRecorded = 16000;
            SoundRecorderCallback(view.device, WIM_DATA, 0, reinterpret_cast<DWORD_PTR>(&view.buffers[b]), 0);
        }
        SoundRecorderCallback(view.device, WIM_CLOSE, 0, 0, 0);
        EXPECT_EQ(ReadFile(dir.Path("late.wav")), finished);
        // Every buffer back: recording may start again.
        ResetDevice();
        EXPECT_EQ(Start("after.wav"), StatusSuccess);
        EXPECT_EQ(SoundRecorderStop(), 0);
    }
}

TEST_F(Recorder, AppendingStopsAtTheLargestCountTheHeaderHolds) {
    RecorderSeams nearTheCap;
    nearTheCap.firstBlockCount = RecorderMaxBlocks - 2;
    const RecorderSeamsScope scope(nearTheCap);
    ASSERT_EQ(SoundRecorderStart(Utf16("/dev/null").c_str()), StatusSuccess);
    DeliverAll(3);  // the third comes after the recording ended at the cap
    EXPECT_EQ(SoundRecorderStop(), RecorderMaxBlocks);
    EXPECT_EQ(SoundRecorderView().header->dataSize, 4294960000u);
    EXPECT_EQ(SoundRecorderView().header->riffSize, 4294960036u);
}

TEST_F(Recorder, DeviceDeliveringWhileStopRuns) {
    for (int round = 0; round < 100; ++round) {
        ResetDevice();
        ASSERT_EQ(Start("race.wav"), StatusSuccess);
        int delivered = 0;
        std::thread device([&delivered] {
            while (StrictDeliver(RecorderBlockBytes, 1, 0)) ++delivered;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(round * 10));
        const int32_t blocks = SoundRecorderStop();
        device.join();
        ASSERT_EQ(blocks, delivered) << "round " << round;
        const Bytes file = ReadFile(dir.Path("race.wav"));
        ASSERT_EQ(file.size(), 44u + 16000u * blocks) << "round " << round;
        ASSERT_EQ(Head(file), HeaderFor(blocks)) << "round " << round;
        ASSERT_EQ(Counts().lastClose, MMSYSERR_NOERROR) << "round " << round;
    }
}

}  // namespace
}  // namespace velorik
