// The one ALSA call that reads samples, replaceable so that a test can make
// it fail the way a real device does (an overrun).
#pragma once

#include <alsa/asoundlib.h>

namespace velorik::platform {

using AlsaReadFunction = snd_pcm_sframes_t (*)(snd_pcm_t* pcm, void* buffer, snd_pcm_uframes_t frames);

// Read by a capture thread when it starts; set it before opening a device.
extern AlsaReadFunction alsaRead;

// Sets the read for as long as it lives; the previous one comes back however the scope ends.
class AlsaReadScope {
public:
    explicit AlsaReadScope(AlsaReadFunction read) noexcept : saved_(alsaRead) { alsaRead = read; }
    ~AlsaReadScope() { alsaRead = saved_; }
    AlsaReadScope(const AlsaReadScope&) = delete;
    AlsaReadScope& operator=(const AlsaReadScope&) = delete;

private:
    AlsaReadFunction saved_;
};

}  // namespace velorik::platform
