// A wave input that keeps winmm's documented rules where the real ones forgive:
// any wave call from inside its callback is refused and counted (winmm deadlocks
// there), samples that arrive while no buffer is queued are lost and counted,
// and a queued buffer cannot be unprepared or closed (WAVERR_STILLPLAYING).
// Linked in place of the ALSA layer on POSIX; built as winmm.dll for Wine.
// Sample n of a device is StrictRamp(n), counted from its open.
#pragma once

#include <stdint.h>

// On Windows the programs that use the double find these with GetProcAddress.
#if defined(_WIN32) && defined(STRICT_WAVE_IN_DLL)
#define STRICT_API extern "C" __declspec(dllexport)
#else
#define STRICT_API extern "C"
#endif

struct StrictScript {
    uint32_t openResult = 0;    // what open, the first add and start return
    uint32_t firstAddResult = 0;
    uint32_t startResult = 0;
    int32_t addsAccepted = 0;   // > 0: every add after that many is refused
    uint32_t partialAtStop = 0; // bytes captured into the head buffer when stop comes
    int32_t lateReturn = 0;     // stop hands the partial buffer back later, from another thread
    int32_t neverReturns = 0;   // stop and reset give nothing back
    uint32_t pacedMsPerSecond = 0;  // > 0: audio arrives from the double's own thread at this pace
};

struct StrictCounts {
    int32_t opens, prepares, adds, starts, stops, resets, unprepares, closes;
    uint32_t lastUnprepare, lastClose;
    int32_t callsFromCallback;  // refused
    uint64_t samplesDelivered, samplesDropped;
    int32_t queued, deviceOpen;
    uint32_t openDeviceId, openFlags, openFormat[7];  // tag, channels, rate, byte rate, align, bits, extra
    uint64_t openInstance;
};

// A fresh device for the next open; null for one that simply works.
STRICT_API void StrictReset(const StrictScript* script);
STRICT_API void StrictGetCounts(StrictCounts* counts);
// By hand: `bytes` of the ramp (or of whatever the buffer held, with fill 0) into
// the head buffer, which then comes back through the callback on this thread.
// Waits up to `waitMs` for a queued buffer; 0 when there was none.
STRICT_API int StrictDeliver(uint32_t bytes, int fill, uint32_t waitMs);
// Waits up to `waitMs` until `count` buffers are queued; 1 when they are.
STRICT_API int StrictWaitQueued(int count, uint32_t waitMs);
STRICT_API int16_t StrictRamp(uint64_t n);
