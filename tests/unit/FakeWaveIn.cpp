#include "FakeWaveIn.h"

#include <chrono>
#include <mutex>
#include <thread>

struct HWAVEIN__ {
    int unused;
};

namespace fake {
namespace {

std::mutex lock;
Script script;
Log log;
HWAVEIN__ device;
WaveInProc callback;
WAVEHDR* queued;
int addsThisDevice;
int delivered;
std::thread late;

void Call(UINT message, WAVEHDR* buffer) {
    if (callback) callback(&device, message, log.instance, reinterpret_cast<DWORD_PTR>(buffer), 0);
}

// Marks the queued buffer done, takes it off the queue and calls back without the lock.
void ReturnQueued(std::unique_lock<std::mutex>& held) {
    WAVEHDR* buffer = queued;
    queued = nullptr;
    buffer->dwFlags = (buffer->dwFlags & ~0x10u) | WHDR_DONE;
    held.unlock();
    Call(WIM_DATA, buffer);
    held.lock();
}

void Fill(WAVEHDR* buffer, DWORD bytes) {
    for (DWORD i = buffer->dwBytesRecorded; i < bytes; ++i) buffer->lpData[i] = static_cast<char>(PatternByte(delivered, i));
    buffer->dwBytesRecorded = bytes;
}

}  // namespace

void Reset(const Script& next) {
    if (late.joinable()) late.join();
    std::lock_guard<std::mutex> held(lock);
    script = next;
    log = Log{};
    callback = nullptr;
    queued = nullptr;
    addsThisDevice = 0;
    delivered = 0;
}

Log Snapshot() {
    if (late.joinable()) late.join();
    std::lock_guard<std::mutex> held(lock);
    return log;
}

unsigned char PatternByte(int block, DWORD i) { return static_cast<unsigned char>((block * 31 + i * 7 + i / 256) & 0xFF); }

bool BufferQueued() {
    std::lock_guard<std::mutex> held(lock);
    return queued != nullptr;
}

bool Deliver(DWORD bytes, bool fill) {
    std::unique_lock<std::mutex> held(lock);
    if (queued == nullptr) return false;
    if (fill)
        Fill(queued, bytes);
    else
        queued->dwBytesRecorded = bytes;
    ReturnQueued(held);
    ++delivered;
    return true;
}

}  // namespace fake

using namespace fake;

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen) {
    std::lock_guard<std::mutex> held(lock);
    ++log.opens;
    log.deviceId = uDeviceID;
    log.format = *pwfx;
    log.openFlags = fdwOpen;
    log.instance = dwInstance;
    if (script.openResult != MMSYSERR_NOERROR) return script.openResult;
    log.deviceOpen = true;
    callback = reinterpret_cast<WaveInProc>(dwCallback);
    addsThisDevice = 0;
    *phwi = &device;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    std::lock_guard<std::mutex> held(lock);
    ++log.prepares;
    if (hwi != &device || !log.deviceOpen || cbwh != sizeof(WAVEHDR)) return MMSYSERR_INVALHANDLE;
    pwh->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT) {
    std::lock_guard<std::mutex> held(lock);
    ++log.unprepares;
    if (hwi != &device || !log.deviceOpen) return log.lastUnprepare = MMSYSERR_INVALHANDLE;
    if (queued == pwh) return log.lastUnprepare = WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return log.lastUnprepare = MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT) {
    std::lock_guard<std::mutex> held(lock);
    ++log.adds;
    if (hwi != &device || !log.deviceOpen) return MMSYSERR_INVALHANDLE;
    const bool first = addsThisDevice++ == 0;
    if (first && script.addResult != MMSYSERR_NOERROR) return script.addResult;
    if (!first && script.addFailsInCallback) return MMSYSERR_ERROR;
    if ((pwh->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if (queued != nullptr) return WAVERR_STILLPLAYING;
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | 0x10u;
    pwh->dwBytesRecorded = 0;
    queued = pwh;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN hwi) {
    std::lock_guard<std::mutex> held(lock);
    ++log.starts;
    if (hwi != &device || !log.deviceOpen) return MMSYSERR_INVALHANDLE;
    return script.startResult;
}

MMRESULT waveInStop(HWAVEIN hwi) {
    std::unique_lock<std::mutex> held(lock);
    ++log.stops;
    if (hwi != &device || !log.deviceOpen) return MMSYSERR_INVALHANDLE;
    if (queued == nullptr || script.neverReturns || script.partialAtStop == 0) return MMSYSERR_NOERROR;
    Fill(queued, script.partialAtStop);
    if (!script.lateReturnAfterStop) {
        ReturnQueued(held);
        return MMSYSERR_NOERROR;
    }
    // Taken off the queue now, handed back a little later from a thread of the "driver".
    WAVEHDR* buffer = queued;
    queued = nullptr;
    late = std::thread([buffer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        buffer->dwFlags = (buffer->dwFlags & ~0x10u) | WHDR_DONE;
        Call(WIM_DATA, buffer);
    });
    return MMSYSERR_NOERROR;
}

MMRESULT waveInReset(HWAVEIN hwi) {
    std::unique_lock<std::mutex> held(lock);
    ++log.resets;
    if (hwi != &device || !log.deviceOpen) return MMSYSERR_INVALHANDLE;
    if (queued != nullptr && !script.neverReturns) ReturnQueued(held);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN hwi) {
    std::unique_lock<std::mutex> held(lock);
    ++log.closes;
    if (hwi != &device || !log.deviceOpen) return log.lastClose = MMSYSERR_INVALHANDLE;
    if (queued != nullptr) return log.lastClose = WAVERR_STILLPLAYING;
    log.deviceOpen = false;
    held.unlock();
    Call(WIM_CLOSE, nullptr);
    held.lock();
    return log.lastClose = MMSYSERR_NOERROR;
}
