#include "recorder/SoundRecorder.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/Sync.h"

namespace velorik {

namespace {

enum RecorderPhase : int { PhaseIdle, PhaseStarting, PhaseRecording, PhaseStopping };

// What the host's thread, the recorder thread and the device's callback share.
struct Shared {
    std::atomic<int> phase{PhaseIdle};
    std::atomic<bool> stopping{false};
    std::atomic<bool> returned[RecorderBufferCount]{};  // given back by the device, not yet taken
    std::atomic<bool> callbacksAccepted{false};
    std::atomic<int> callbacksRunning{0};
    platform::Event wake{};      // to the recorder thread: a buffer came back, or stop began
    platform::Event reported{};  // to the host: the device's start result is in
    platform::Thread thread{};
    int32_t startResult{};  // written before `reported` is raised
    int startError{};       // the errno a system call of the device's start left on its thread, or 0
};

// A recording: start sets it up and hands it to the recorder thread, the only
// one to touch it until stop's join hands it back (in debug builds the thread's
// own steps check that they run there). The buffers are the device's while queued.
struct Recording {
    int32_t sampleRate = RecorderSampleRate;
    WAVHeader header{};
    platform::FileHandle file = platform::NoFile;
    WAVEHDR bufferHeaders[RecorderBufferCount]{};
    HWAVEIN device{};
    unsigned char captureBuffers[RecorderBufferCount][RecorderBlockBytes]{};
    int32_t blockCount{};
    bool deviceOpen{};
    bool appendEnded{};  // a write failed, or the header counts no more: nothing more is appended
    bool deviceLost{};   // the device takes no buffer back: what it gave is kept, nothing more comes
    int failure{};       // the first failure's errno, which stop leaves for the host
    int queue[RecorderBufferCount]{};  // buffers with the device, in the order they come back
    int queueHead{};
    int queued{};
    // What the device said when stop released it, for diagnosis.
    MMRESULT unprepareResult{};
    MMRESULT closeResult{};
};

Shared shared;
Recording state;
RecorderSeams seams;
thread_local bool onRecorderThread = false;

void AssertOnRecorderThread() noexcept { assert(onRecorderThread); }

// The recorder thread looks again this often even without a wake-up.
constexpr unsigned IdleWaitMs = 1000;

bool WriteAt(std::uint64_t offset, const void* bytes, std::size_t size) noexcept {
    return seams.files->writeAt(state.file, offset, bytes, size);
}

void Failed(int why) noexcept {
    if (state.failure == 0) state.failure = why;
}

void WriteFailed() noexcept {
    Failed(errno != 0 ? errno : EIO);
    state.appendEnded = true;
}

// A recording that can go no further ends at once rather than waiting for stop:
// its file is finished and closed, which a host sees (the file's lock goes).
bool CanGoOn() noexcept { return !shared.stopping.load() && !state.appendEnded && !state.deviceLost; }

bool WritePlaceholder() noexcept {
    unsigned char bytes[WAVHeaderSize];
    WAVHeaderSerialise(state.header, bytes);
    return WriteAt(0, bytes, sizeof bytes);
}

// The header for the blocks counted so far, made durable: the file is a valid
// WAV of those blocks whatever happens next, a power cut included.
bool WriteHeader() noexcept {
    WAVHeaderFill(state.header, state.blockCount);
    unsigned char bytes[WAVHeaderSize];
    WAVHeaderSerialise(state.header, bytes);
    return WriteAt(0, bytes, sizeof bytes) && seams.files->sync(state.file);
}

std::uint64_t DataEnd() noexcept {
    return WAVHeaderSize + static_cast<std::uint64_t>(state.blockCount) * RecorderBlockBytes;
}

// A block counts only once its bytes are on stable storage.
void AppendBlock(const unsigned char* block) noexcept {
    AssertOnRecorderThread();
    if (!WriteAt(DataEnd(), block, RecorderBlockBytes) || !seams.files->sync(state.file)) {
        WriteFailed();
        return;
    }
    ++state.blockCount;
    if (!WriteHeader())
        WriteFailed();
    else if (state.blockCount >= RecorderMaxBlocks)
        state.appendEnded = true;
}

// False, with errno as the wave input left it (0 where it tells nothing), when refused.
bool Queue(int index) noexcept {
    AssertOnRecorderThread();
    WAVEHDR& buffer = state.bufferHeaders[index];
    buffer.dwBytesRecorded = 0;
    errno = 0;
    if (waveInAddBuffer(state.device, &buffer, sizeof buffer) != MMSYSERR_NOERROR) return false;
    state.queue[(state.queueHead + state.queued) % RecorderBufferCount] = index;
    ++state.queued;
    return true;
}

// Appends what the device gave back, oldest first (the order it was captured
// in), and hands each buffer straight back unless the recording is ending.
void TakeReturned() noexcept {
    AssertOnRecorderThread();
    while (state.queued > 0) {
        const int index = state.queue[state.queueHead];
        if (!shared.returned[index].exchange(false, std::memory_order_acquire)) return;
        state.queueHead = (state.queueHead + 1) % RecorderBufferCount;
        --state.queued;

        const DWORD reported = state.bufferHeaders[index].dwBytesRecorded;
        const DWORD recorded = reported < static_cast<DWORD>(RecorderBlockBytes) ? reported
                                                                                 : static_cast<DWORD>(RecorderBlockBytes);
        if (recorded > 0 && !state.appendEnded) {
            // A short last buffer is padded with silence, never with older audio.
            unsigned char* block = state.captureBuffers[index];
            std::memset(block + recorded, 0, RecorderBlockBytes - recorded);
            AppendBlock(block);
        }
        // A device that takes no buffer back has failed (a sound server that died, a
        // microphone unplugged): what it gave back before is still appended.
        if (CanGoOn() && !Queue(index)) {
            Failed(errno != 0 ? errno : ENODEV);
            state.deviceLost = true;
        }
    }
}

// Stops capture and takes every buffer back before unprepare and close, which
// refuse a buffer the device still holds.
void ReleaseDevice() noexcept {
    AssertOnRecorderThread();
    if (!state.deviceOpen) return;
    waveInStop(state.device);   // the buffer being filled comes back with what it holds
    waveInReset(state.device);  // the empty ones behind it come back too
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(RecorderReturnTimeoutMs);
    for (;;) {
        TakeReturned();
        const auto left = deadline - std::chrono::steady_clock::now();
        if (state.queued == 0 || left <= left.zero()) break;
        platform::EventWait(shared.wake,
                            static_cast<unsigned>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    }
    state.unprepareResult = MMSYSERR_NOERROR;
    for (WAVEHDR& buffer : state.bufferHeaders) {
        const MMRESULT result = waveInUnprepareHeader(state.device, &buffer, sizeof buffer);
        if (state.unprepareResult == MMSYSERR_NOERROR) state.unprepareResult = result;
    }
    state.closeResult = waveInClose(state.device);
    state.deviceOpen = false;
}

// After this no callback touches the recording, even one a driver sends late.
void RefuseCallbacks() noexcept {
    shared.callbacksAccepted.store(false);
    while (shared.callbacksRunning.load() != 0) std::this_thread::yield();
}

// The header for the kept blocks is durable before the cut drops a block whose
// write failed part-way: a power cut between them leaves a valid file either way.
void FinishFile() noexcept {
    if (!WriteHeader() || !seams.files->cut(state.file, DataEnd()) || !seams.files->sync(state.file)) WriteFailed();
    seams.files->close(state.file);
    state.file = platform::NoFile;
}

// Runs until stop, or until the recording can go no further; either way the
// file is finished here, so stop only waits for this thread.
void RecorderThread(void*) noexcept {
    onRecorderThread = true;
    errno = 0;
    shared.startResult = SoundRecorderOpenDevice();
    shared.startError = shared.startResult == StatusSuccess ? 0 : errno;
    platform::EventRaise(shared.reported);

    while (CanGoOn()) {
        platform::EventWait(shared.wake, IdleWaitMs);
        TakeReturned();
    }
    ReleaseDevice();
    RefuseCallbacks();
    FinishFile();
}

// A driver that kept buffers at the last stop may still write into them: they
// are prepared for no new device until the driver has handed each one back.
bool BuffersHeldByADriver() noexcept {
    for (int k = 0; k < state.queued; ++k)
        if (!shared.returned[state.queue[(state.queueHead + k) % RecorderBufferCount]].load()) return true;
    return false;
}

}  // namespace

int32_t SoundRecorderStart(const VwdChar16* path) noexcept {
    if (path == nullptr) return errno = EINVAL, StatusOpenFailed;
    int idle = PhaseIdle;
    if (!shared.phase.compare_exchange_strong(idle, PhaseStarting)) return StatusOpenFailed;
    if (BuffersHeldByADriver()) {
        shared.phase.store(PhaseIdle);
        return StatusOpenFailed;
    }

    state.blockCount = seams.firstBlockCount;
    state.file = seams.files->create(path);
    if (state.file == platform::NoFile) {
        shared.phase.store(PhaseIdle);
        return StatusOpenFailed;
    }
    // The placeholder (zeros first, later the previous recording's header), then the
    // header for no blocks, durable: valid before the first block whatever happens. A
    // file that cannot take them cannot hold a recording (a full disk): refused before the device.
    if (!WritePlaceholder() || !WriteHeader()) {
        const int why = errno;
        seams.files->close(state.file);
        state.file = platform::NoFile;
        shared.phase.store(PhaseIdle);
        errno = why;
        return StatusOpenFailed;
    }
    state.failure = 0;
    state.appendEnded = state.deviceLost = false;
    state.deviceOpen = false;
    shared.stopping.store(false);
    state.queueHead = state.queued = 0;
    for (auto& flag : shared.returned) flag.store(false);
    shared.callbacksAccepted.store(true);

    if (!platform::EventInit(shared.wake) || !platform::EventInit(shared.reported) ||
        !platform::ThreadStart(shared.thread, RecorderThread, nullptr)) {
        // Nothing can run the recording: leave the finished empty file and stay idle.
        seams.files->close(state.file);
        state.file = platform::NoFile;
        shared.phase.store(PhaseIdle);
        return StatusOpenFailed;
    }
    while (!platform::EventWait(shared.reported, IdleWaitMs)) {
    }
    // Also after a device failure: stop finishes the file (half-started).
    shared.phase.store(PhaseRecording);
    if (shared.startError != 0) errno = shared.startError;
    return shared.startResult;
}

// On the recorder thread.
int32_t SoundRecorderOpenDevice() noexcept {
    const WAVEFORMATEX format = {WAVE_FORMAT_PCM,
                                 1,
                                 static_cast<DWORD>(state.sampleRate),
                                 static_cast<DWORD>(state.sampleRate) * 2,
                                 2,
                                 16,
                                 0};
    if (waveInOpen(&state.device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&SoundRecorderCallback), 0,
                   CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
        return StatusOpenFailed;
    state.deviceOpen = true;

    for (int i = 0; i < RecorderBufferCount; ++i) {
        WAVEHDR& buffer = state.bufferHeaders[i];
        buffer = WAVEHDR{};
        buffer.lpData = reinterpret_cast<LPSTR>(state.captureBuffers[i]);
        buffer.dwBufferLength = RecorderBlockBytes;
        waveInPrepareHeader(state.device, &buffer, sizeof buffer);
    }
    for (int i = 0; i < RecorderBufferCount; ++i)
        if (!Queue(i)) return StatusQueueFailed;
    if (waveInStart(state.device) != MMSYSERR_NOERROR) return StatusStartFailed;
    return StatusSuccess;
}

// On a thread of the audio service: only notes which buffer came back and wakes
// the recorder thread. Wave functions, file calls and allocation are not
// allowed here (winmm deadlocks on a wave call from its callback).
void CALLBACK SoundRecorderCallback(HWAVEIN, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
    if (message != WIM_DATA) return;
    shared.callbacksRunning.fetch_add(1);
    const bool accepted = shared.callbacksAccepted.load();
    const auto* buffer = reinterpret_cast<const WAVEHDR*>(param1);
    for (int i = 0; i < RecorderBufferCount; ++i) {
        if (buffer != &state.bufferHeaders[i]) continue;
        // Late, after stop, it only notes that the driver let the buffer go.
        shared.returned[i].store(true, std::memory_order_release);
        if (accepted) platform::EventRaise(shared.wake);
    }
    shared.callbacksRunning.fetch_sub(1);
}

RecorderSeamsScope::RecorderSeamsScope(const RecorderSeams& replacement) noexcept : saved_(seams) {
    seams = replacement;
}

RecorderSeamsScope::~RecorderSeamsScope() { seams = saved_; }

RecorderView SoundRecorderView() noexcept {
    return {state.bufferHeaders, state.captureBuffers, state.device, &state.header, state.unprepareResult,
            state.closeResult};
}

int32_t SoundRecorderStop() noexcept {
    // One stop does the work; another one meanwhile, or with nothing started, returns 0.
    int recording = PhaseRecording;
    if (!shared.phase.compare_exchange_strong(recording, PhaseStopping)) return 0;
    shared.stopping.store(true);
    platform::EventRaise(shared.wake);
    platform::ThreadJoin(shared.thread);
    const int32_t blocks = state.blockCount;
    const int why = state.failure;
    shared.phase.store(PhaseIdle);
    if (why != 0) errno = why;
    return blocks;
}

}  // namespace velorik
