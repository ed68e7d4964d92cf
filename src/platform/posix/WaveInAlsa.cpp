// Wave input over ALSA's "default" capture PCM. Each open device has a capture
// thread of its own that fills the queued buffers in order and hands each
// filled one to the callback with WIM_DATA. No lock is held while the callback
// runs, so it may queue a buffer again. The thread waits for samples in poll,
// with a wake-up pipe of its own beside ALSA's descriptors, and reads only what
// is there: a stop never waits for a device's period, however long a sound
// server makes it.
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/posix/AlsaRead.h"
#include "platform/posix/WaveIn.h"
#include "syscalls/SystemCalls.h"

velorik::platform::AlsaReadFunction velorik::platform::alsaRead = snd_pcm_readi;

namespace {

constexpr int MaxDevices = 4;
constexpr unsigned ReadsPerSecond = 20;  // the period asked for: how often samples come, where the device lets us say
constexpr unsigned RingSeconds = 3;      // samples wait here while no buffer is queued
constexpr int MaxPollDescriptors = 8;
// A device that signals nothing is asked again this often.
constexpr int PollMilliseconds = 200;
// An overrun recovered again and again for this long with no sample between is
// a device that is gone: PipeWire's ALSA plugin tells its server's death so.
constexpr long long GoneAfterMilliseconds = 250;

long long NowMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

struct HWAVEIN__ {
    bool inUse;
    snd_pcm_t* pcm;
    WaveInProc callback;
    DWORD_PTR instance;
    unsigned frameBytes;
    snd_pcm_uframes_t readFrames;  // one period: a read no longer than a device hands over at once
    velorik::platform::AlsaReadFunction read;
    pthread_t thread;
    pthread_mutex_t lock;
    pthread_cond_t wake;     // to the capture thread: something to do
    pthread_cond_t settled;  // from it: a stop or reset was carried out
    WAVEHDR* head;
    WAVEHDR* tail;
    bool capturing;
    int failure;  // the errno of a failure capture cannot recover from; 0 while it can go on
    long long recoveringSince;  // the first of the overruns since the last sample, or 0
    bool stopRequested;
    bool resetRequested;
    bool quit;
    int wakeRead, wakeWrite;  // a byte here ends the capture thread's wait
};

namespace {

HWAVEIN__ devices[MaxDevices];
pthread_mutex_t devicesLock = PTHREAD_MUTEX_INITIALIZER;

bool Valid(HWAVEIN device) {
    bool valid = false;
    pthread_mutex_lock(&devicesLock);
    for (auto& slot : devices)
        if (&slot == device) valid = slot.inUse;
    pthread_mutex_unlock(&devicesLock);
    return valid;
}

void Notify(HWAVEIN device, UINT message, WAVEHDR* buffer) {
    if (device->callback != nullptr)
        device->callback(device, message, device->instance, reinterpret_cast<DWORD_PTR>(buffer), 0);
}

// Takes the chain of buffers off the queue; the caller hands each back.
WAVEHDR* TakeQueue(HWAVEIN device) {
    WAVEHDR* chain = device->head;
    device->head = device->tail = nullptr;
    return chain;
}

WAVEHDR* PopHead(HWAVEIN device) {
    WAVEHDR* buffer = device->head;
    device->head = buffer->lpNext;
    if (device->head == nullptr) device->tail = nullptr;
    buffer->lpNext = nullptr;
    return buffer;
}

// Called with the lock held; releases it around each callback.
void GiveBack(HWAVEIN device, WAVEHDR* chain) {
    while (chain != nullptr) {
        WAVEHDR* buffer = chain;
        chain = chain->lpNext;
        buffer->lpNext = nullptr;
        buffer->dwFlags = (buffer->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        pthread_mutex_unlock(&device->lock);
        Notify(device, WIM_DATA, buffer);
        pthread_mutex_lock(&device->lock);
    }
}

void EndCapture(HWAVEIN device) {
    if (device->capturing) snd_pcm_drop(device->pcm);
    device->capturing = false;
}

void CarryOutStopOrReset(HWAVEIN device) {
    const bool reset = device->resetRequested;
    EndCapture(device);
    WAVEHDR* chain = nullptr;
    if (reset)
        chain = TakeQueue(device);
    else if (device->head != nullptr && device->head->dwBytesRecorded > 0)
        chain = PopHead(device);
    device->stopRequested = device->resetRequested = false;
    GiveBack(device, chain);
    pthread_cond_broadcast(&device->settled);
}

void Wake(HWAVEIN device) {
    const char byte = 1;
    // A full pipe already holds a wake-up.
    velorik::sys::WriteFully(device->wakeWrite, &byte, 1);
}

// Until ALSA has samples, or a byte on the wake-up pipe asks the thread back:
// how many frames there are, 0 when woken, or ALSA's error (an overrun).
snd_pcm_sframes_t WaitForSamples(HWAVEIN device) {
    pollfd fds[MaxPollDescriptors + 1];
    const int count = snd_pcm_poll_descriptors(device->pcm, fds, MaxPollDescriptors);
    if (count < 0) return count;
    fds[count] = pollfd{device->wakeRead, POLLIN, 0};
    for (;;) {
        // A capture starts on its first read; one that only polls is started here.
        if (snd_pcm_state(device->pcm) == SND_PCM_STATE_PREPARED) snd_pcm_start(device->pcm);
        const snd_pcm_sframes_t ready = snd_pcm_avail_update(device->pcm);
        if (ready != 0) return ready;
        if (poll(fds, static_cast<nfds_t>(count + 1), PollMilliseconds) < 0 && errno != EINTR) return -errno;
        if ((fds[count].revents & POLLIN) != 0) {
            char drained[16];
            while (velorik::sys::ReadSome(device->wakeRead, drained, sizeof drained) > 0) {
            }
            return 0;
        }
        unsigned short events = 0;
        snd_pcm_poll_descriptors_revents(device->pcm, fds, static_cast<unsigned>(count), &events);
        // An error or a hang-up is an overrun to recover from; a device that is gone
        // fails the recovery with its own reason.
        if ((events & (POLLERR | POLLHUP | POLLNVAL)) != 0) return -EPIPE;
    }
}

// A device that cannot go on (a sound server that died, a device unplugged) gives
// every buffer back at once, the one being filled with what it holds, and refuses
// more with its reason in errno: the client learns of it now, not from silence.
void Fail(HWAVEIN device, int error) {
    device->failure = error;
    EndCapture(device);
    GiveBack(device, TakeQueue(device));
}

// Reads what ALSA holds into the head buffer, waiting for it with the lock released.
void ReadChunk(HWAVEIN device) {
    WAVEHDR* buffer = device->head;
    const snd_pcm_uframes_t room = (buffer->dwBufferLength - buffer->dwBytesRecorded) / device->frameBytes;
    if (room > 0) {
        pthread_mutex_unlock(&device->lock);
        snd_pcm_sframes_t got = WaitForSamples(device);
        if (got > 0) {
            snd_pcm_uframes_t frames = static_cast<snd_pcm_uframes_t>(got);
            if (frames > room) frames = room;
            if (frames > device->readFrames) frames = device->readFrames;
            got = device->read(device->pcm, buffer->lpData + buffer->dwBytesRecorded, frames);
        }
        pthread_mutex_lock(&device->lock);
        if (got == 0) return;  // woken: the loop sees why
        if (got < 0) {
            // An overrun (or a suspend) is recovered and capture goes on.
            const int recovered = snd_pcm_recover(device->pcm, static_cast<int>(got), 1);
            if (device->recoveringSince == 0) device->recoveringSince = NowMilliseconds();
            if (recovered < 0)
                Fail(device, -recovered);
            else if (NowMilliseconds() - device->recoveringSince > GoneAfterMilliseconds)
                Fail(device, ENODEV);
            return;
        }
        device->recoveringSince = 0;
        buffer->dwBytesRecorded += static_cast<DWORD>(got) * device->frameBytes;
        if ((buffer->dwBufferLength - buffer->dwBytesRecorded) >= device->frameBytes) return;
    }
    // Full. Only this thread takes buffers off the queue, so it is still the head.
    GiveBack(device, PopHead(device));
}

void* CaptureThread(void* argument) {
    auto* device = static_cast<HWAVEIN>(argument);
    pthread_mutex_lock(&device->lock);
    for (;;) {
        if (device->stopRequested || device->resetRequested)
            CarryOutStopOrReset(device);
        else if (device->quit)
            break;
        else if (device->capturing && device->head != nullptr)
            ReadChunk(device);
        else
            pthread_cond_wait(&device->wake, &device->lock);
    }
    EndCapture(device);
    pthread_mutex_unlock(&device->lock);
    return nullptr;
}

MMRESULT Configure(snd_pcm_t* pcm, const WAVEFORMATEX& format, snd_pcm_uframes_t& period) {
    snd_pcm_hw_params_t* params;
    snd_pcm_hw_params_alloca(&params);
    if (snd_pcm_hw_params_any(pcm, params) < 0) return MMSYSERR_ERROR;
    if (snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, params, format.nChannels) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, params, format.nSamplesPerSec, 0) < 0)
        return WAVERR_BADFORMAT;
    snd_pcm_uframes_t ring = static_cast<snd_pcm_uframes_t>(format.nSamplesPerSec) * RingSeconds;
    period = format.nSamplesPerSec / ReadsPerSecond;
    if (period == 0) period = 1;
    snd_pcm_hw_params_set_period_size_near(pcm, params, &period, nullptr);
    if (snd_pcm_hw_params_set_buffer_size_min(pcm, params, &ring) < 0) return MMSYSERR_NOMEM;
    snd_pcm_hw_params_set_buffer_size_near(pcm, params, &ring);
    if (snd_pcm_hw_params(pcm, params) < 0) return MMSYSERR_ERROR;
    snd_pcm_hw_params_get_period_size(params, &period, nullptr);
    return MMSYSERR_NOERROR;
}

bool FormatSupported(const WAVEFORMATEX* format) {
    return format->wFormatTag == WAVE_FORMAT_PCM && format->wBitsPerSample == 16 &&
           format->nChannels >= 1 && format->nBlockAlign == format->nChannels * 2 &&
           format->nSamplesPerSec > 0;
}

HWAVEIN ClaimSlot() {
    pthread_mutex_lock(&devicesLock);
    HWAVEIN found = nullptr;
    for (auto& slot : devices) {
        if (!slot.inUse) {
            slot = HWAVEIN__{};
            slot.inUse = true;
            found = &slot;
            break;
        }
    }
    pthread_mutex_unlock(&devicesLock);
    return found;
}

void ReleaseSlot(HWAVEIN device) {
    pthread_mutex_lock(&devicesLock);
    device->inUse = false;
    pthread_mutex_unlock(&devicesLock);
}

// Asks the capture thread to stop (or reset) and waits until it has.
MMRESULT RequestAndWait(HWAVEIN device, bool reset) {
    if (!Valid(device)) return MMSYSERR_INVALHANDLE;
    pthread_mutex_lock(&device->lock);
    if (reset)
        device->resetRequested = true;
    else
        device->stopRequested = true;
    pthread_cond_signal(&device->wake);
    Wake(device);
    while (device->stopRequested || device->resetRequested)
        pthread_cond_wait(&device->settled, &device->lock);
    pthread_mutex_unlock(&device->lock);
    return MMSYSERR_NOERROR;
}

}  // namespace

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen) {
    if (phwi == nullptr || pwfx == nullptr) return MMSYSERR_INVALPARAM;
    const DWORD callbackType = fdwOpen & CALLBACK_TYPEMASK;
    if ((callbackType != CALLBACK_FUNCTION && callbackType != CALLBACK_NULL) ||
        (fdwOpen & ~CALLBACK_TYPEMASK) != 0)
        return MMSYSERR_INVALFLAG;
    if (uDeviceID != WAVE_MAPPER && uDeviceID != 0) return MMSYSERR_BADDEVICEID;
    if (!FormatSupported(pwfx)) return WAVERR_BADFORMAT;

    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_CAPTURE, 0) < 0) return MMSYSERR_BADDEVICEID;
    snd_pcm_uframes_t period = 0;
    const MMRESULT configured = Configure(pcm, *pwfx, period);
    HWAVEIN device = configured == MMSYSERR_NOERROR ? ClaimSlot() : nullptr;
    if (device == nullptr) {
        snd_pcm_close(pcm);
        return configured != MMSYSERR_NOERROR ? configured : MMSYSERR_ALLOCATED;
    }
    device->pcm = pcm;
    device->callback = callbackType == CALLBACK_FUNCTION ? reinterpret_cast<WaveInProc>(dwCallback) : nullptr;
    device->instance = dwInstance;
    device->frameBytes = pwfx->nBlockAlign;
    device->readFrames = period;
    device->read = velorik::platform::alsaRead;
    int wake[2];
    if (velorik::sys::Calls().pipe(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        snd_pcm_close(pcm);
        ReleaseSlot(device);
        return MMSYSERR_NOMEM;
    }
    device->wakeRead = wake[0];
    device->wakeWrite = wake[1];
    pthread_mutex_init(&device->lock, nullptr);
    pthread_cond_init(&device->wake, nullptr);
    pthread_cond_init(&device->settled, nullptr);
    if (pthread_create(&device->thread, nullptr, CaptureThread, device) != 0) {
        pthread_cond_destroy(&device->settled);
        pthread_cond_destroy(&device->wake);
        pthread_mutex_destroy(&device->lock);
        velorik::sys::CloseFile(wake[0]);
        velorik::sys::CloseFile(wake[1]);
        snd_pcm_close(pcm);
        ReleaseSlot(device);
        return MMSYSERR_NOMEM;
    }
    *phwi = device;
    Notify(device, WIM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    if (!Valid(hwi)) return MMSYSERR_INVALHANDLE;
    if (pwh == nullptr || cbwh < sizeof(WAVEHDR) || pwh->lpData == nullptr) return MMSYSERR_INVALPARAM;
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    if (!Valid(hwi)) return MMSYSERR_INVALHANDLE;
    if (pwh == nullptr || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    pthread_mutex_lock(&hwi->lock);
    const bool queued = (pwh->dwFlags & WHDR_INQUEUE) != 0;
    if (!queued) pwh->dwFlags &= ~WHDR_PREPARED;
    pthread_mutex_unlock(&hwi->lock);
    return queued ? WAVERR_STILLPLAYING : MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    if (!Valid(hwi)) return MMSYSERR_INVALHANDLE;
    if (pwh == nullptr || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    pthread_mutex_lock(&hwi->lock);
    MMRESULT result = MMSYSERR_NOERROR;
    if (hwi->failure != 0) {
        errno = hwi->failure;
        result = MMSYSERR_NODRIVER;
    } else if ((pwh->dwFlags & WHDR_PREPARED) == 0) {
        result = WAVERR_UNPREPARED;
    } else if ((pwh->dwFlags & WHDR_INQUEUE) != 0) {
        result = WAVERR_STILLPLAYING;
    } else {
        pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        pwh->dwBytesRecorded = 0;
        pwh->lpNext = nullptr;
        if (hwi->tail != nullptr)
            hwi->tail->lpNext = pwh;
        else
            hwi->head = pwh;
        hwi->tail = pwh;
        pthread_cond_signal(&hwi->wake);
    }
    pthread_mutex_unlock(&hwi->lock);
    return result;
}

MMRESULT waveInStart(HWAVEIN hwi) {
    if (!Valid(hwi)) return MMSYSERR_INVALHANDLE;
    pthread_mutex_lock(&hwi->lock);
    MMRESULT result = MMSYSERR_NOERROR;
    if (hwi->failure != 0) {
        errno = hwi->failure;
        result = MMSYSERR_NODRIVER;
    } else if (!hwi->capturing) {
        if (snd_pcm_prepare(hwi->pcm) < 0)
            result = MMSYSERR_ERROR;
        else
            hwi->capturing = true;
        pthread_cond_signal(&hwi->wake);
    }
    pthread_mutex_unlock(&hwi->lock);
    return result;
}

MMRESULT waveInStop(HWAVEIN hwi) { return RequestAndWait(hwi, false); }

MMRESULT waveInReset(HWAVEIN hwi) { return RequestAndWait(hwi, true); }

MMRESULT waveInClose(HWAVEIN hwi) {
    if (!Valid(hwi)) return MMSYSERR_INVALHANDLE;
    pthread_mutex_lock(&hwi->lock);
    if (hwi->head != nullptr) {
        pthread_mutex_unlock(&hwi->lock);
        return WAVERR_STILLPLAYING;
    }
    hwi->quit = true;
    pthread_cond_signal(&hwi->wake);
    pthread_mutex_unlock(&hwi->lock);
    pthread_join(hwi->thread, nullptr);
    velorik::sys::CloseFile(hwi->wakeRead);
    velorik::sys::CloseFile(hwi->wakeWrite);
    snd_pcm_close(hwi->pcm);
    pthread_cond_destroy(&hwi->settled);
    pthread_cond_destroy(&hwi->wake);
    pthread_mutex_destroy(&hwi->lock);
    Notify(hwi, WIM_CLOSE, nullptr);
    ReleaseSlot(hwi);
    return MMSYSERR_NOERROR;
}
