#include "SoundRecorder.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "Files.h"

namespace velorik {

SoundRecorderState soundRecorder;

namespace {

SoundRecorderState& state = soundRecorder;

// How long stop waits for the device to give the buffer back before it goes on.
constexpr auto BufferReturnTimeout = std::chrono::seconds(5);

void WriteHeader() noexcept {
    unsigned char bytes[WAVHeaderSize];
    WAVHeaderSerialise(state.header, bytes);
    std::fwrite(bytes, 1, sizeof bytes, state.stream);
}

// Keeps the file a valid WAV of the blocks counted so far, for a host that dies.
void RefreshHeader() noexcept {
    WAVHeaderFill(state.header, state.blockCount);
    if (std::fseek(state.stream, 0, SEEK_SET) != 0) return;  // not seekable: stop writes it
    WriteHeader();
    std::fflush(state.stream);
    std::fseek(state.stream, 0, SEEK_END);
}

void AppendBlock() noexcept {
    // Flushed so that a counted block is with the OS, not in a buffer a crash would lose.
    if (std::fwrite(state.writeBuffer, 2, RecorderBlockSamples, state.stream) !=
            static_cast<std::size_t>(RecorderBlockSamples) ||
        std::fflush(state.stream) != 0) {
        state.appendEnded = true;
        return;
    }
    ++state.blockCount;
    if (state.blockCount >= RecorderMaxBlocks) state.appendEnded = true;
    RefreshHeader();
}

void WaitForBufferReturn() noexcept {
    const auto deadline = std::chrono::steady_clock::now() + BufferReturnTimeout;
    while (state.bufferQueued.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// After this no callback touches the recording, even one a driver sends late.
void CloseGate() noexcept {
    for (;;) {
        int expected = GateOpen;
        if (state.callbackGate.compare_exchange_strong(expected, GateClosed) ||
            expected == GateClosed)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

int32_t SoundRecorderStart(const VwdChar16* path) noexcept {
    if (state.active || path == nullptr) return StatusOpenFailed;
    state.blockCount = 0;
    std::FILE* stream = platform::OpenUtf16ForWriting(path);
    if (stream == nullptr) return StatusOpenFailed;
    state.stream = stream;
    WriteHeader();  // placeholder: zeros first, later the previous recording's header
    state.appendEnded = std::fflush(stream) != 0;
    state.deviceOpen = false;
    state.stopping = false;
    state.bufferQueued = false;
    state.active = true;
    state.callbackGate = GateOpen;
    return SoundRecorderOpenDevice();
}

int32_t SoundRecorderOpenDevice() noexcept {
    const WAVEFORMATEX format = {WAVE_FORMAT_PCM,
                                 1,
                                 static_cast<DWORD>(state.sampleRate),
                                 static_cast<DWORD>(state.sampleRate) * 2,
                                 2,
                                 16,
                                 0};
    if (waveInOpen(&state.device, WAVE_MAPPER, &format,
                   reinterpret_cast<DWORD_PTR>(&SoundRecorderCallback), 0,
                   CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
        return StatusOpenFailed;
    state.deviceOpen = true;

    WAVEHDR& buffer = state.bufferHeader;
    buffer.lpData = reinterpret_cast<LPSTR>(state.captureBuffer);
    buffer.dwBufferLength = RecorderBlockBytes;
    buffer.dwBytesRecorded = 0;
    buffer.dwUser = 0;
    buffer.dwFlags = 0;
    buffer.dwLoops = 0;
    waveInPrepareHeader(state.device, &buffer, sizeof buffer);

    state.bufferQueued = true;
    if (waveInAddBuffer(state.device, &buffer, sizeof buffer) != MMSYSERR_NOERROR) {
        state.bufferQueued = false;
        return StatusQueueFailed;
    }
    if (waveInStart(state.device) != MMSYSERR_NOERROR) return StatusStartFailed;
    return StatusSuccess;
}

void CALLBACK SoundRecorderCallback(HWAVEIN device, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    if (message != WIM_DATA) return;
    int expected = GateOpen;
    if (!state.callbackGate.compare_exchange_strong(expected, GateBusy)) return;

    WAVEHDR& buffer = state.bufferHeader;
    const DWORD recorded = buffer.dwBytesRecorded < static_cast<DWORD>(RecorderBlockBytes)
                               ? buffer.dwBytesRecorded
                               : static_cast<DWORD>(RecorderBlockBytes);
    const bool append = recorded > 0 && !state.appendEnded;
    if (append) {
        // A short last buffer is padded with silence, never with older audio.
        std::memcpy(state.writeBuffer, state.captureBuffer, recorded);
        std::memset(state.writeBuffer + recorded, 0, RecorderBlockBytes - recorded);
    }
    buffer.dwBytesRecorded = 0;
    state.bufferQueued = false;
    // The buffer goes back before the slower file write, unless the recording is ending.
    if (!state.stopping && !state.appendEnded &&
        state.blockCount + (append ? 1 : 0) < RecorderMaxBlocks) {
        state.bufferQueued = true;
        if (waveInAddBuffer(device, &buffer, sizeof buffer) != MMSYSERR_NOERROR)
            state.bufferQueued = false;
    }
    if (append) AppendBlock();
    state.callbackGate = GateOpen;
}

int32_t SoundRecorderStop() noexcept {
    if (!state.active) return 0;
    state.stopping = true;
    // A callback already past its check of `stopping` may still hand the buffer
    // back; once it is done, none will.
    while (state.callbackGate.load() == GateBusy) std::this_thread::sleep_for(std::chrono::microseconds(100));
    if (state.deviceOpen) {
        waveInStop(state.device);
        // Stop may leave an empty buffer queued; reset returns it so that
        // unprepare and close succeed.
        waveInReset(state.device);
        WaitForBufferReturn();
        state.unprepareResult =
            waveInUnprepareHeader(state.device, &state.bufferHeader, sizeof state.bufferHeader);
        state.closeResult = waveInClose(state.device);
    }
    CloseGate();

    const std::uint64_t size =
        WAVHeaderSize + static_cast<std::uint64_t>(state.blockCount) * RecorderBlockBytes;
    platform::CutFile(state.stream, size);  // drops a block whose write failed part-way
    RefreshHeader();
    std::fclose(state.stream);
    state.stream = nullptr;
    state.active = false;
    state.deviceOpen = false;
    return state.blockCount;
}

}  // namespace velorik
