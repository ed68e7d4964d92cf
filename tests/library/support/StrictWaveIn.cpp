#include "support/StrictWaveIn.h"

#ifdef _WIN32
#define _WINMM_  // this is winmm: define its functions, not import them
#include <windows.h>
#include <mmsystem.h>
#define WAVE_API __declspec(dllexport)
#else
#include "platform/WaveIn.h"
#define WINAPI
#define WAVE_API
#endif

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

using Proc = void(CALLBACK*)(HWAVEIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
using Clock = std::chrono::steady_clock;

std::mutex lock;
std::condition_variable queueChanged;
StrictScript script;
StrictCounts counts;
int token;  // what a handle points at
const HWAVEIN Device = reinterpret_cast<HWAVEIN>(&token);
Proc callback;
DWORD_PTR instance;
std::deque<WAVEHDR*> queue;
uint64_t nextSample;
bool capturing;
bool pacerQuit;
std::thread pacer, late;
thread_local bool inCallback;

using Held = std::unique_lock<std::mutex>;

// The rule every wave function checks first.
bool CalledFromCallback() {
    if (!inCallback) return false;
    std::lock_guard<std::mutex> held(lock);
    ++counts.callsFromCallback;
    return true;
}

bool Known(HWAVEIN device) { return device == Device && counts.deviceOpen; }

void Call(Held& held, UINT message, WAVEHDR* buffer) {
    if (callback == nullptr) return;
    held.unlock();
    inCallback = true;
    callback(Device, message, instance, reinterpret_cast<DWORD_PTR>(buffer), 0);
    inCallback = false;
    held.lock();
}

void GiveBack(Held& held, WAVEHDR* buffer) {
    buffer->dwFlags = (buffer->dwFlags & ~static_cast<DWORD>(WHDR_INQUEUE)) | WHDR_DONE;
    counts.queued = static_cast<int32_t>(queue.size());
    queueChanged.notify_all();
    Call(held, WIM_DATA, buffer);
}

void Fill(WAVEHDR* buffer, DWORD bytes) {
    for (DWORD at = buffer->dwBytesRecorded; at + 1 < bytes; at += 2) {
        const auto sample = static_cast<uint16_t>(StrictRamp(nextSample++));
        buffer->lpData[at] = static_cast<char>(sample & 0xFF);
        buffer->lpData[at + 1] = static_cast<char>(sample >> 8);
    }
    counts.samplesDelivered += (bytes - buffer->dwBytesRecorded) / 2;
    buffer->dwBytesRecorded = bytes;
}

// `samples` arrive now: into the head buffer, or lost when none is queued.
void Arrive(Held& held, uint64_t samples) {
    while (samples > 0) {
        if (queue.empty()) {
            counts.samplesDropped += samples;
            nextSample += samples;
            return;
        }
        WAVEHDR* head = queue.front();
        const uint64_t room = (head->dwBufferLength - head->dwBytesRecorded) / 2;
        const uint64_t now = room < samples ? room : samples;
        Fill(head, head->dwBytesRecorded + static_cast<DWORD>(now * 2));
        samples -= now;
        if (head->dwBufferLength - head->dwBytesRecorded < 2) {
            queue.pop_front();
            GiveBack(held, head);
        }
    }
}

// Real-time audio, in twentieths of a second, from a thread of the "driver".
void Pace() {
    Held held(lock);
    const uint64_t chunk = 400;
    const auto tick = std::chrono::microseconds(script.pacedMsPerSecond * 1000 / 20);
    auto due = Clock::now();
    while (!pacerQuit) {
        due += tick;
        held.unlock();
        std::this_thread::sleep_until(due);
        held.lock();
        if (capturing && !pacerQuit) Arrive(held, chunk);
    }
}

void EndPacer(Held& held) {
    pacerQuit = true;
    held.unlock();
    if (pacer.joinable() && pacer.get_id() != std::this_thread::get_id()) pacer.join();
    held.lock();
}

void JoinLate() {
    if (late.joinable()) late.join();
}

}  // namespace

STRICT_API int16_t StrictRamp(uint64_t n) { return static_cast<int16_t>(static_cast<uint16_t>(n * 40503u + n / 65536u)); }

STRICT_API void StrictReset(const StrictScript* next) {
    JoinLate();
    Held held(lock);
    EndPacer(held);
    script = next != nullptr ? *next : StrictScript{};
    counts = StrictCounts{};
    counts.lastUnprepare = counts.lastClose = MMSYSERR_ERROR;
    callback = nullptr;
    queue.clear();
    capturing = false;
}

STRICT_API void StrictGetCounts(StrictCounts* out) {
    JoinLate();
    std::lock_guard<std::mutex> held(lock);
    *out = counts;
}

STRICT_API int StrictDeliver(uint32_t bytes, int fill, uint32_t waitMs) {
    Held held(lock);
    if (!queueChanged.wait_for(held, std::chrono::milliseconds(waitMs), [] { return !queue.empty(); })) return 0;
    WAVEHDR* head = queue.front();
    queue.pop_front();
    if (fill)
        Fill(head, bytes);
    else
        head->dwBytesRecorded = bytes;
    GiveBack(held, head);
    return 1;
}

STRICT_API int StrictWaitQueued(int count, uint32_t waitMs) {
    Held held(lock);
    return queueChanged.wait_for(held, std::chrono::milliseconds(waitMs),
                                 [count] { return static_cast<int>(queue.size()) == count; });
}

WAVE_API MMRESULT WINAPI waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen) {
    if (CalledFromCallback()) return MMSYSERR_ERROR;
    Held held(lock);
    ++counts.opens;
    counts.openDeviceId = uDeviceID;
    counts.openFlags = fdwOpen;
    counts.openInstance = dwInstance;
    const uint32_t format[7] = {pwfx->wFormatTag,      pwfx->nChannels,      pwfx->nSamplesPerSec, pwfx->nAvgBytesPerSec,
                                pwfx->nBlockAlign, pwfx->wBitsPerSample, pwfx->cbSize};
    for (int i = 0; i < 7; ++i) counts.openFormat[i] = format[i];
    if (script.openResult != MMSYSERR_NOERROR) return script.openResult;
    if (counts.deviceOpen) return MMSYSERR_ALLOCATED;
    counts.deviceOpen = 1;
    callback = reinterpret_cast<Proc>(dwCallback);
    instance = dwInstance;
    nextSample = 0;
    *phwi = Device;
    if (script.pacedMsPerSecond > 0) {
        pacerQuit = false;
        pacer = std::thread(Pace);
    }
    return MMSYSERR_NOERROR;
}

WAVE_API MMRESULT WINAPI waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    if (CalledFromCallback()) return MMSYSERR_ERROR;
    std::lock_guard<std::mutex> held(lock);
    ++counts.prepares;
    if (!Known(hwi) || cbwh != sizeof(WAVEHDR)) return MMSYSERR_INVALHANDLE;
    pwh->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

WAVE_API MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT) {
    if (CalledFromCallback()) return MMSYSERR_ERROR;
    std::lock_guard<std::mutex> held(lock);
    ++counts.unprepares;
    if (!Known(hwi)) return counts.lastUnprepare = MMSYSERR_INVALHANDLE;
    if (pwh->dwFlags & WHDR_INQUEUE) return counts.lastUnprepare = WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
    return counts.lastUnprepare = MMSYSERR_NOERROR;
}

WAVE_API MMRESULT WINAPI waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT) {
    if (CalledFromCallback()) return MMSYSERR_ERROR;
    std::lock_guard<std::mutex> held(lock);
    ++counts.adds;
    if (!Known(hwi)) return MMSYSERR_INVALHANDLE;
    if (counts.adds == 1 && script.firstAddResult != MMSYSERR_NOERROR) return script.firstAddResult;
    if (script.addsAccepted > 0 && counts.adds > script.addsAccepted) return MMSYSERR_ERROR;
    if ((pwh->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    pwh->dwFlags = (pwh->dwFlags & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE;
    pwh->dwBytesRecorded = 0;
    queue.push_back(pwh);
    counts.queued = static_cast<int32_t>(queue.size());
    queueChanged.notify_all();
    return MMSYSERR_NOERROR;
}

WAVE_API MMRESULT WINAPI waveInStart(HWAVEIN hwi) {
    if (CalledFromCallback()) return MMSYSERR_ERROR;
    std::lock_guard<std::mutex> held(lock);
    ++counts.starts;
    if (!Known(hwi)) return MMSYSERR_INVALHANDLE;
    if (script.startResult == MMSYSERR_NOERROR) capturing = true;
    return script.startResult;
}

// The buffer being filled comes back with what it holds; empty ones stay queued.
WAVE_API MMRESULT WINAPI waveInStop(HWAVEIN hwi) {
    if (CalledFromCallback()) return MMSYSERR_ERROR;
    Held held(lock);
    ++counts.stops;
    if (!Known(hwi)) return MMSYSERR_INVALHANDLE;
    capturing = false;
    if (queue.empty() || script.neverReturns) return MMSYSERR_NOERROR;
    WAVEHDR* head = queue.front();
    if (script.partialAtStop > 0) Fill(head, script.partialAtStop);
    if (head->dwBytesRecorded == 0) return MMSYSERR_NOERROR;
    queue.pop_front();
    if (!script.lateReturn) {
        GiveBack(held, head);
        return MMSYSERR_NOERROR;
    }
    counts.queued = static_cast<int32_t>(queue.size());
    late = std::thread([head] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Held later(lock);
        GiveBack(later, head);
    });
    return MMSYSERR_NOERROR;
}

WAVE_API MMRESULT WINAPI waveInReset(HWAVEIN hwi) {
    if (CalledFromCallback()) return MMSYSERR_ERROR;
    Held held(lock);
    ++counts.resets;
    if (!Known(hwi)) return MMSYSERR_INVALHANDLE;
    capturing = false;
    while (!queue.empty() && !script.neverReturns) {
        WAVEHDR* head = queue.front();
        queue.pop_front();
        GiveBack(held, head);
    }
    return MMSYSERR_NOERROR;
}

WAVE_API MMRESULT WINAPI waveInClose(HWAVEIN hwi) {
    if (CalledFromCallback()) return MMSYSERR_ERROR;
    Held held(lock);
    ++counts.closes;
    if (!Known(hwi)) return counts.lastClose = MMSYSERR_INVALHANDLE;
    if (!queue.empty()) return counts.lastClose = WAVERR_STILLPLAYING;
    EndPacer(held);
    counts.deviceOpen = 0;
    Call(held, WIM_CLOSE, nullptr);
    return counts.lastClose = MMSYSERR_NOERROR;
}
