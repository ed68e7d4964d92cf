// The sound recorder: 8000 Hz mono 16-bit capture into a WAV file of whole
// one-second blocks, appended by the capture callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "VelorikWAVDistortion.h"
#include "WAVHeader.h"
#include "WaveIn.h"

namespace velorik {

struct SoundRecorderState {
    int32_t sampleRate = RecorderSampleRate;
    WAVHeader header{};
    std::FILE* stream{};
    WAVEHDR bufferHeader{};
    HWAVEIN device{};
    unsigned char writeBuffer[RecorderBlockBytes]{};
    unsigned char captureBuffer[RecorderBlockBytes]{};
    int32_t blockCount{};

    // What keeps the host's thread and the callback apart without a lock.
    bool active{};       // host thread: a start opened the file and no stop followed
    bool deviceOpen{};   // host thread: waveInOpen succeeded for this recording
    bool appendEnded{};  // callback while recording: a failed write or the cap ends appending
    std::atomic<int> callbackGate{0};     // see RecorderGate
    std::atomic<bool> stopping{false};    // once set, the callback no longer hands the buffer back
    std::atomic<bool> bufferQueued{false};  // the device holds the buffer
    // What the device said when stop released it, for diagnosis.
    MMRESULT unprepareResult{};
    MMRESULT closeResult{};
};

// The callback may touch the recording only while it holds the gate open -> busy.
enum RecorderGate : int { GateClosed = 0, GateOpen = 1, GateBusy = 2 };

extern SoundRecorderState soundRecorder;

int32_t SoundRecorderStart(const VwdChar16* path) noexcept;
int32_t SoundRecorderOpenDevice() noexcept;
void CALLBACK SoundRecorderCallback(HWAVEIN device, UINT message, DWORD_PTR instance,
                                    DWORD_PTR param1, DWORD_PTR param2);
int32_t SoundRecorderStop() noexcept;

}  // namespace velorik
