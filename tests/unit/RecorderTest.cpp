#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <thread>

#include "FakeWaveIn.h"
#include "SoundRecorder.h"
#include "TestFiles.h"

namespace velorik {
namespace {

using namespace testing_support;

Bytes HeaderFor(int32_t blocks) {
    WAVHeader header{};
    WAVHeaderFill(header, blocks);
    unsigned char bytes[WAVHeaderSize];
    WAVHeaderSerialise(header, bytes);
    return {bytes, bytes + WAVHeaderSize};
}

Bytes Head(const Bytes& file) { return {file.begin(), file.begin() + std::min<std::size_t>(44, file.size())}; }

// Block `block` as the fake delivered it, `recorded` bytes of pattern then silence.
Bytes ExpectedBlock(int block, DWORD recorded = RecorderBlockBytes) {
    Bytes bytes(RecorderBlockBytes, 0);
    for (DWORD i = 0; i < recorded; ++i) bytes[i] = fake::PatternByte(block, i);
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
    void SetUp() override { fake::Reset(); }
    void TearDown() override { SoundRecorderStop(); }

    int32_t Start(const std::string& name) { return SoundRecorderStart(Utf16(dir.Path(name)).c_str()); }

    TempDir dir;
};

TEST_F(Recorder, OpensTheDeviceWithTheCaptureFormat) {
    ASSERT_EQ(Start("a.wav"), StatusSuccess);
    const fake::Log log = fake::Snapshot();
    EXPECT_EQ(log.deviceId, WAVE_MAPPER);
    EXPECT_EQ(log.openFlags, CALLBACK_FUNCTION);
    EXPECT_EQ(log.instance, 0u);
    EXPECT_EQ(log.format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(log.format.nChannels, 1);
    EXPECT_EQ(log.format.nSamplesPerSec, 8000u);
    EXPECT_EQ(log.format.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(log.format.nBlockAlign, 2);
    EXPECT_EQ(log.format.wBitsPerSample, 16);
    EXPECT_EQ(log.format.cbSize, 0);
    EXPECT_EQ(soundRecorder.bufferHeader.dwBufferLength, 16000u);
    EXPECT_EQ(soundRecorder.bufferHeader.lpData, reinterpret_cast<LPSTR>(soundRecorder.captureBuffer));
}

TEST_F(Recorder, DeviceFailuresLeaveAHalfStartedRecordingThatStopFinishes) {
    struct Case {
        const char* what;
        fake::Script script;
        int32_t status;
        int prepares, starts;
    } cases[] = {
        {"open fails", {MMSYSERR_BADDEVICEID}, StatusOpenFailed, 0, 0},
        {"queue fails", {MMSYSERR_NOERROR, MMSYSERR_NOMEM}, StatusQueueFailed, 1, 0},
        {"start fails", {MMSYSERR_NOERROR, MMSYSERR_NOERROR, MMSYSERR_ERROR}, StatusStartFailed, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset(c.script);
        ASSERT_EQ(Start("half.wav"), c.status);
        EXPECT_EQ(Start("other.wav"), StatusOpenFailed) << "a half-started recording is still under way";
        EXPECT_FALSE(Exists(dir.Path("other.wav")));
        EXPECT_EQ(SoundRecorderStop(), 0);
        ExpectWavOf(dir.Path("half.wav"), {});
        const fake::Log log = fake::Snapshot();
        EXPECT_EQ(log.prepares, c.prepares);
        EXPECT_EQ(log.starts, c.starts);
        EXPECT_FALSE(log.deviceOpen) << "stop closes whatever the start opened";
    }
}

TEST_F(Recorder, WholeBlocksGiveAnExactFile) {
    ASSERT_EQ(Start("k.wav"), StatusSuccess);
    for (int b = 0; b < 3; ++b) ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 3);
    ExpectWavOf(dir.Path("k.wav"), {ExpectedBlock(0), ExpectedBlock(1), ExpectedBlock(2)});
    EXPECT_EQ(soundRecorder.unprepareResult, MMSYSERR_NOERROR);
    EXPECT_EQ(soundRecorder.closeResult, MMSYSERR_NOERROR);
    const fake::Log log = fake::Snapshot();
    EXPECT_EQ(log.lastUnprepare, MMSYSERR_NOERROR);
    EXPECT_EQ(log.lastClose, MMSYSERR_NOERROR);
}

TEST_F(Recorder, FileIsAValidWavAfterEveryBlock) {
    ASSERT_EQ(Start("live.wav"), StatusSuccess);
    EXPECT_EQ(Head(ReadFile(dir.Path("live.wav"))), Bytes(44, 0)) << "the first placeholder is zeros";
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    // What a host that died now would leave behind.
    ExpectWavOf(dir.Path("live.wav"), {ExpectedBlock(0), ExpectedBlock(1)});
}

TEST_F(Recorder, PartialBufferAtStopIsPaddedWithSilence) {
    for (bool late : {false, true}) {
        SCOPED_TRACE(late ? "returned after stop, from another thread" : "returned during stop");
        fake::Script script;
        script.partialAtStop = 1000;
        script.lateReturnAfterStop = late;
        fake::Reset(script);
        // Old audio in the capture buffer must not leak into the padding.
        std::fill(std::begin(soundRecorder.captureBuffer), std::end(soundRecorder.captureBuffer), 0x5A);
        ASSERT_EQ(Start("p.wav"), StatusSuccess);
        ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
        EXPECT_EQ(SoundRecorderStop(), 2);
        ExpectWavOf(dir.Path("p.wav"), {ExpectedBlock(0), ExpectedBlock(1, 1000)});
        EXPECT_EQ(fake::Snapshot().lastClose, MMSYSERR_NOERROR);
    }
}

TEST_F(Recorder, EmptyBufferAppendsNothingAndGoesBack) {
    ASSERT_EQ(Start("e.wav"), StatusSuccess);
    ASSERT_TRUE(fake::Deliver(0));
    EXPECT_TRUE(fake::BufferQueued());
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 1);
    ExpectWavOf(dir.Path("e.wav"), {ExpectedBlock(1)});
}

TEST_F(Recorder, SecondRecordingStartsAtZeroWithThePreviousHeaderAsPlaceholder) {
    ASSERT_EQ(Start("first.wav"), StatusSuccess);
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    ASSERT_EQ(SoundRecorderStop(), 2);

    fake::Reset();
    ASSERT_EQ(Start("second.wav"), StatusSuccess);
    EXPECT_EQ(ReadFile(dir.Path("second.wav")), HeaderFor(2));
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 1);
    ExpectWavOf(dir.Path("second.wav"), {ExpectedBlock(0)});
    ExpectWavOf(dir.Path("first.wav"), {ExpectedBlock(0), ExpectedBlock(1)});
}

TEST_F(Recorder, StartWhileRecordingIsRefusedAndLeavesTheRecordingAlone) {
    ASSERT_EQ(Start("one.wav"), StatusSuccess);
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    EXPECT_EQ(Start("two.wav"), StatusOpenFailed);
    EXPECT_FALSE(Exists(dir.Path("two.wav")));
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 2);
    EXPECT_EQ(fake::Snapshot().opens, 1);
    ExpectWavOf(dir.Path("one.wav"), {ExpectedBlock(0), ExpectedBlock(1)});
}

TEST_F(Recorder, StopWithNothingStartedOrTwiceTouchesNothing) {
    EXPECT_EQ(SoundRecorderStop(), 0);
    ASSERT_EQ(Start("s.wav"), StatusSuccess);
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 1);
    const fake::Log before = fake::Snapshot();
    EXPECT_EQ(SoundRecorderStop(), 0);
    const fake::Log after = fake::Snapshot();
    EXPECT_EQ(after.stops, before.stops);
    EXPECT_EQ(after.closes, before.closes);
    ExpectWavOf(dir.Path("s.wav"), {ExpectedBlock(0)});
}

TEST_F(Recorder, UncreatableFileIsRefusedBeforeTheDevice) {
    EXPECT_EQ(Start("missing-dir/x.wav"), StatusOpenFailed);
    EXPECT_EQ(SoundRecorderStart(nullptr), StatusOpenFailed);
    EXPECT_EQ(fake::Snapshot().opens, 0);
    EXPECT_EQ(SoundRecorderStop(), 0);
    EXPECT_EQ(Start("fine.wav"), StatusSuccess) << "the recorder stayed idle";
}

TEST_F(Recorder, NameOutsideTheNarrowRangeIsRecordedTo) {
    ASSERT_EQ(SoundRecorderStart(Utf16(dir.Path("nagranie-ą-音.wav")).c_str()), StatusSuccess);
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 1);
    ExpectWavOf(dir.Path("nagranie-ą-音.wav"), {ExpectedBlock(0)});
}

TEST_F(Recorder, DiskFillingMidBlockKeepsCountAndFileInStep) {
    // A file-size limit fails the third block's write part-way, as a full disk would.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = 44 + 2 * 16000 + 5000;
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);

    ASSERT_EQ(Start("full.wav"), StatusSuccess);
    // The buffer goes back before each write, so the block after the failed one
    // still arrives; it is not appended, and the buffer is not handed back again.
    for (int b = 0; b < 4; ++b) ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    EXPECT_FALSE(fake::Deliver(RecorderBlockBytes));
    const int32_t blocks = SoundRecorderStop();

    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(blocks, 2);
    ExpectWavOf(dir.Path("full.wav"), {ExpectedBlock(0), ExpectedBlock(1)});
}

TEST_F(Recorder, WritesToAFullDeviceCountNothing) {
    ASSERT_EQ(SoundRecorderStart(Utf16("/dev/full").c_str()), StatusSuccess);
    EXPECT_FALSE(fake::Deliver(RecorderBlockBytes) && fake::BufferQueued());
    EXPECT_EQ(SoundRecorderStop(), 0);
}

TEST_F(Recorder, DeviceRefusingTheBufferBackEndsTheRecordingQuietly) {
    fake::Script script;
    script.addFailsInCallback = true;
    fake::Reset(script);
    ASSERT_EQ(Start("refused.wav"), StatusSuccess);
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    EXPECT_FALSE(fake::Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 1);
    ExpectWavOf(dir.Path("refused.wav"), {ExpectedBlock(0)});
}

TEST_F(Recorder, DriverThatNeverReturnsTheBufferDoesNotHangStop) {
    fake::Script script;
    script.neverReturns = true;
    script.partialAtStop = 500;
    fake::Reset(script);
    ASSERT_EQ(Start("stuck.wav"), StatusSuccess);
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    EXPECT_EQ(SoundRecorderStop(), 1);
    ExpectWavOf(dir.Path("stuck.wav"), {ExpectedBlock(0)});
    EXPECT_EQ(fake::Snapshot().lastClose, WAVERR_STILLPLAYING);
    // Should the driver answer after all, the finished recording is not touched.
    soundRecorder.bufferHeader.dwBytesRecorded = 16000;
    SoundRecorderCallback(soundRecorder.device, WIM_DATA, 0, 0, 0);
    ExpectWavOf(dir.Path("stuck.wav"), {ExpectedBlock(0)});
}

TEST_F(Recorder, CallbackAfterStopIsIgnored) {
    ASSERT_EQ(Start("after.wav"), StatusSuccess);
    ASSERT_TRUE(fake::Deliver(RecorderBlockBytes));
    ASSERT_EQ(SoundRecorderStop(), 1);
    soundRecorder.bufferHeader.dwBytesRecorded = 16000;
    SoundRecorderCallback(soundRecorder.device, WIM_DATA, 0, 0, 0);
    SoundRecorderCallback(soundRecorder.device, WIM_CLOSE, 0, 0, 0);
    ExpectWavOf(dir.Path("after.wav"), {ExpectedBlock(0)});
}

TEST_F(Recorder, AppendingStopsAtTheLargestCountTheHeaderHolds) {
    ASSERT_EQ(SoundRecorderStart(Utf16("/dev/null").c_str()), StatusSuccess);
    int delivered = 0;
    while (delivered <= RecorderMaxBlocks && fake::Deliver(RecorderBlockBytes, false)) ++delivered;
    EXPECT_EQ(delivered, RecorderMaxBlocks);
    EXPECT_EQ(SoundRecorderStop(), RecorderMaxBlocks);
    EXPECT_EQ(soundRecorder.header.dataSize, 4294960000u);
    EXPECT_EQ(soundRecorder.header.riffSize, 4294960036u);
}

TEST_F(Recorder, CallbackOnAnotherThreadWhileStopRuns) {
    for (int round = 0; round < 200; ++round) {
        fake::Reset();
        ASSERT_EQ(Start("race.wav"), StatusSuccess);
        int delivered = 0;
        std::thread device([&delivered] {
            while (fake::Deliver(RecorderBlockBytes)) ++delivered;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(round * 5));
        const int32_t blocks = SoundRecorderStop();
        device.join();
        ASSERT_EQ(blocks, delivered) << "round " << round;
        const Bytes file = ReadFile(dir.Path("race.wav"));
        ASSERT_EQ(file.size(), 44u + 16000u * blocks) << "round " << round;
        ASSERT_EQ(Head(file), HeaderFor(blocks)) << "round " << round;
        ASSERT_EQ(fake::Snapshot().lastClose, MMSYSERR_NOERROR) << "round " << round;
    }
}

}  // namespace
}  // namespace velorik
