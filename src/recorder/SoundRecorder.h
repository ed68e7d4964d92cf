// The sound recorder: 8000 Hz mono 16-bit capture into a WAV file of whole
// one-second blocks. The capture callback only signals; a recorder thread,
// from start to stop, makes every wave call and does all the file work.
#pragma once

#include <cstdint>

#include "platform/Files.h"
#include "VelorikWAVDistortion.h"
#include "wav/WAVHeader.h"
#include "platform/WaveIn.h"

namespace velorik {

// One block per capture buffer. The device holds all but the one being
// written, so a write may stall for about RecorderBufferCount - 2 seconds
// before the device runs out of room.
constexpr int RecorderBufferCount = 5;

// How long stop waits for the device to give its buffers back.
constexpr unsigned RecorderReturnTimeoutMs = 5000;

// What a test or a benchmark puts in the recorder's place.
struct RecorderSeams {
    const platform::FileOps* files = &platform::SystemFiles;  // the disk
    int32_t firstBlockCount = 0;  // where a recording's count starts (to reach the cap in a test)
};

// Sets the seams for as long as it lives; the previous ones come back however
// the scope ends. Not while a recording runs.
class RecorderSeamsScope {
public:
    explicit RecorderSeamsScope(const RecorderSeams& seams) noexcept;
    ~RecorderSeamsScope();
    RecorderSeamsScope(const RecorderSeamsScope&) = delete;
    RecorderSeamsScope& operator=(const RecorderSeamsScope&) = delete;

private:
    RecorderSeams saved_;
};

// What tests look at: the buffers handed to the device, the device, the last
// header written and what the device said when the last stop released it.
struct RecorderView {
    WAVEHDR* buffers;
    unsigned char (*captureBuffers)[RecorderBlockBytes];
    HWAVEIN device;
    const WAVHeader* header;
    MMRESULT unprepareResult, closeResult;
};
RecorderView SoundRecorderView() noexcept;

int32_t SoundRecorderStart(const VwdChar16* path) noexcept;
int32_t SoundRecorderOpenDevice() noexcept;
void CALLBACK SoundRecorderCallback(HWAVEIN device, UINT message, DWORD_PTR instance,
                                    DWORD_PTR param1, DWORD_PTR param2);
int32_t SoundRecorderStop() noexcept;

}  // namespace velorik
