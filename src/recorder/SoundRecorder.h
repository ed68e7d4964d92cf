// The sound recorder: 8000 Hz mono 16-bit capture into a WAV file of whole
// one-second blocks. The capture callback only signals; a recorder thread,
// from start to stop, makes every wave call and does all the file work.
#pragma once

#include <atomic>
#include <cstdint>

#include "Files.h"
#include "Sync.h"
#include "VelorikWAVDistortion.h"
#include "WAVHeader.h"
#include "WaveIn.h"

namespace velorik {

// One block per capture buffer. The device holds all but the one being
// written, so a write may stall for about RecorderBufferCount - 2 seconds
// before the device runs out of room.
constexpr int RecorderBufferCount = 5;

// How long stop waits for the device to give its buffers back.
constexpr unsigned RecorderReturnTimeoutMs = 5000;

enum RecorderPhase : int { PhaseIdle, PhaseStarting, PhaseRecording, PhaseStopping };

struct SoundRecorderState {
    int32_t sampleRate = RecorderSampleRate;
    WAVHeader header{};
    platform::FileHandle file = platform::NoFile;
    const platform::FileOps* files = &platform::SystemFiles;  // tests stand in for the disk here
    WAVEHDR bufferHeaders[RecorderBufferCount]{};
    HWAVEIN device{};
    unsigned char captureBuffers[RecorderBufferCount][RecorderBlockBytes]{};
    int32_t blockCount{};

    // Shared by the host's thread, the recorder thread and the callback.
    std::atomic<int> phase{PhaseIdle};
    std::atomic<bool> stopping{false};
    std::atomic<bool> returned[RecorderBufferCount]{};  // given back by the device, not yet taken
    std::atomic<bool> callbacksAccepted{false};
    std::atomic<int> callbacksRunning{0};
    platform::Event wake{};      // to the recorder thread: a buffer came back, or stop began
    platform::Event reported{};  // to the host: the device's start result is in
    platform::Thread thread{};
    int32_t startResult{};

    // The recorder thread's own.
    bool deviceOpen{};
    bool appendEnded{};  // a failed write or the cap: nothing more is appended
    int queue[RecorderBufferCount]{};  // buffers with the device, in the order they come back
    int queueHead{};
    int queued{};
    // What the device said when stop released it, for diagnosis.
    MMRESULT unprepareResult{};
    MMRESULT closeResult{};
};

extern SoundRecorderState soundRecorder;

int32_t SoundRecorderStart(const VwdChar16* path) noexcept;
int32_t SoundRecorderOpenDevice() noexcept;
void CALLBACK SoundRecorderCallback(HWAVEIN device, UINT message, DWORD_PTR instance,
                                    DWORD_PTR param1, DWORD_PTR param2);
int32_t SoundRecorderStop() noexcept;

}  // namespace velorik
