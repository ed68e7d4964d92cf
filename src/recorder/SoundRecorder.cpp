#include "SoundRecorder.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace velorik {

SoundRecorderState soundRecorder;

namespace {

SoundRecorderState& state = soundRecorder;

// The recorder thread looks again this often even without a wake-up.
constexpr unsigned IdleWaitMs = 1000;

bool WriteAt(std::uint64_t offset, const void* bytes, std::size_t size) noexcept {
    return state.files->writeAt(state.file, offset, bytes, size);
}

void WritePlaceholder() noexcept {
    unsigned char bytes[WAVHeaderSize];
    WAVHeaderSerialise(state.header, bytes);
    state.appendEnded = !WriteAt(0, bytes, sizeof bytes);
}

// The header for the blocks counted so far, made durable: the file is a valid
// WAV of those blocks whatever happens next, a power cut included.
bool WriteHeader() noexcept {
    WAVHeaderFill(state.header, state.blockCount);
    unsigned char bytes[WAVHeaderSize];
    WAVHeaderSerialise(state.header, bytes);
    return WriteAt(0, bytes, sizeof bytes) && state.files->sync(state.file);
}

std::uint64_t DataEnd() noexcept {
    return WAVHeaderSize + static_cast<std::uint64_t>(state.blockCount) * RecorderBlockBytes;
}

// A block counts only once its bytes are on stable storage.
void AppendBlock(const unsigned char* block) noexcept {
    if (!WriteAt(DataEnd(), block, RecorderBlockBytes) || !state.files->sync(state.file)) {
        state.appendEnded = true;
        return;
    }
    ++state.blockCount;
    if (state.blockCount >= RecorderMaxBlocks || !WriteHeader()) state.appendEnded = true;
}

bool Queue(int index) noexcept {
    WAVEHDR& buffer = state.bufferHeaders[index];
    buffer.dwBytesRecorded = 0;
    if (waveInAddBuffer(state.device, &buffer, sizeof buffer) != MMSYSERR_NOERROR) return false;
    state.queue[(state.queueHead + state.queued) % RecorderBufferCount] = index;
    ++state.queued;
    return true;
}

// Appends what the device gave back, oldest first (the order it was captured
// in), and hands each buffer straight back unless the recording is ending.
void TakeReturned() noexcept {
    while (state.queued > 0) {
        const int index = state.queue[state.queueHead];
        if (!state.returned[index].exchange(false, std::memory_order_acquire)) return;
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
        if (!state.stopping.load() && !state.appendEnded) Queue(index);
    }
}

// Stops capture and takes every buffer back before unprepare and close, which
// refuse a buffer the device still holds.
void ReleaseDevice() noexcept {
    if (!state.deviceOpen) return;
    waveInStop(state.device);   // the buffer being filled comes back with what it holds
    waveInReset(state.device);  // the empty ones behind it come back too
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(RecorderReturnTimeoutMs);
    for (;;) {
        TakeReturned();
        const auto left = deadline - std::chrono::steady_clock::now();
        if (state.queued == 0 || left <= left.zero()) break;
        platform::EventWait(state.wake,
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
    state.callbacksAccepted.store(false);
    while (state.callbacksRunning.load() != 0) std::this_thread::yield();
}

void RecorderThread(void*) noexcept {
    state.startResult = SoundRecorderOpenDevice();
    // Valid and durable before the first block, whatever the placeholder held.
    if (!WriteHeader()) state.appendEnded = true;
    platform::EventRaise(state.reported);

    while (!state.stopping.load()) {
        platform::EventWait(state.wake, IdleWaitMs);
        TakeReturned();
    }
    ReleaseDevice();
    RefuseCallbacks();
    state.files->cut(state.file, DataEnd());  // drops a block whose write failed part-way
    WriteHeader();
    state.files->close(state.file);
    state.file = platform::NoFile;
}

// A driver that kept buffers at the last stop may still write into them: they
// are prepared for no new device until the driver has handed each one back.
bool BuffersHeldByADriver() noexcept {
    for (int k = 0; k < state.queued; ++k)
        if (!state.returned[state.queue[(state.queueHead + k) % RecorderBufferCount]].load()) return true;
    return false;
}

}  // namespace

int32_t SoundRecorderStart(const VwdChar16* path) noexcept {
    if (path == nullptr) return StatusOpenFailed;
    int idle = PhaseIdle;
    if (!state.phase.compare_exchange_strong(idle, PhaseStarting)) return StatusOpenFailed;
    if (BuffersHeldByADriver()) {
        state.phase.store(PhaseIdle);
        return StatusOpenFailed;
    }

    state.blockCount = 0;
    state.file = state.files->create(path);
    if (state.file == platform::NoFile) {
        state.phase.store(PhaseIdle);
        return StatusOpenFailed;
    }
    WritePlaceholder();  // zeros first, later the previous recording's header
    state.deviceOpen = false;
    state.stopping.store(false);
    state.queueHead = state.queued = 0;
    for (auto& flag : state.returned) flag.store(false);
    state.callbacksAccepted.store(true);

    if (!platform::EventInit(state.wake) || !platform::EventInit(state.reported) ||
        !platform::ThreadStart(state.thread, RecorderThread, nullptr)) {
        // Nothing can run the recording: leave a finished empty file and stay idle.
        WriteHeader();
        state.files->close(state.file);
        state.file = platform::NoFile;
        state.phase.store(PhaseIdle);
        return StatusOpenFailed;
    }
    while (!platform::EventWait(state.reported, IdleWaitMs)) {
    }
    // Also after a device failure: stop finishes the file (half-started).
    state.phase.store(PhaseRecording);
    return state.startResult;
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
    state.callbacksRunning.fetch_add(1);
    const bool accepted = state.callbacksAccepted.load();
    const auto* buffer = reinterpret_cast<const WAVEHDR*>(param1);
    for (int i = 0; i < RecorderBufferCount; ++i) {
        if (buffer != &state.bufferHeaders[i]) continue;
        // Late, after stop, it only notes that the driver let the buffer go.
        state.returned[i].store(true, std::memory_order_release);
        if (accepted) platform::EventRaise(state.wake);
    }
    state.callbacksRunning.fetch_sub(1);
}

int32_t SoundRecorderStop() noexcept {
    // One stop does the work; another one meanwhile, or with nothing started, returns 0.
    int recording = PhaseRecording;
    if (!state.phase.compare_exchange_strong(recording, PhaseStopping)) return 0;
    state.stopping.store(true);
    platform::EventRaise(state.wake);
    platform::ThreadJoin(state.thread);
    const int32_t blocks = state.blockCount;
    state.phase.store(PhaseIdle);
    return blocks;
}

}  // namespace velorik
