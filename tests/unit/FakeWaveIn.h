// A scripted wave input, linked in place of the ALSA one, that plays the
// device's side: it fills the queued buffer and calls the callback when told.
#pragma once

#include <functional>

#include "WaveIn.h"

namespace fake {

struct Script {
    MMRESULT openResult = MMSYSERR_NOERROR;
    MMRESULT addResult = MMSYSERR_NOERROR;  // for the first add of a device only
    MMRESULT startResult = MMSYSERR_NOERROR;
    bool addFailsInCallback = false;
    // Bytes already captured into the queued buffer when stop comes.
    DWORD partialAtStop = 0;
    // Like winmm: stop returns the partial buffer from another thread, after it returned.
    bool lateReturnAfterStop = false;
    // Like a driver that never answers: stop and reset give nothing back.
    bool neverReturns = false;
};

struct Log {
    int opens = 0, prepares = 0, adds = 0, starts = 0, stops = 0, resets = 0, unprepares = 0, closes = 0;
    MMRESULT lastUnprepare = MMSYSERR_ERROR, lastClose = MMSYSERR_ERROR;
    WAVEFORMATEX format{};
    UINT deviceId = 0;
    DWORD openFlags = 0;
    DWORD_PTR instance = 0;
    bool deviceOpen = false;
};

void Reset(const Script& script = {});
Log Snapshot();

// The byte at position `i` of delivered block `block`.
unsigned char PatternByte(int block, DWORD i);

// Fills `bytes` of the queued buffer with the pattern (or leaves its content
// as it is) and calls back with WIM_DATA on this thread. False when no buffer is queued.
bool Deliver(DWORD bytes, bool fill = true);
bool BufferQueued();

}  // namespace fake
