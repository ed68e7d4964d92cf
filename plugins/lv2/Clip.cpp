// The clip as an LV2 plug-in, mono and stereo: the same stream wavfx clips a
// file with, run a host's block at a time. Hard real time: everything a setting
// can need is made when the host instantiates the plug-in, so run() allocates,
// locks and calls the system never, also when its controls change.
#include <lv2/core/lv2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "dsp/ClipStream.h"

namespace {

using velorik::dsp::ClipStream;

// The stream's hop: the longest push, and a host's longer blocks go in pieces.
constexpr std::size_t Hop = 256;

// The settings a stream is made for: the plain clip (no stream), the sample-peak
// clip at each factor, and the true peak at each factor that holds it.
struct Setting {
    unsigned factor;
    bool truePeak;
};
constexpr std::array<Setting, 9> Settings = {{{1, false}, {2, false}, {4, false}, {8, false}, {16, false}, {32, false},
                                              {8, true}, {16, true}, {32, true}}};

std::size_t SettingOf(float oversample, float truePeak) {
    // The enumeration's nearest value at or under what the host sent.
    unsigned factor = 1;
    while (factor < 32 && oversample >= static_cast<float>(factor * 2)) factor *= 2;
    if (truePeak > 0.5f) factor = std::max(factor, ClipStream::TruePeakLeast);
    for (std::size_t i = 0; i < Settings.size(); ++i)
        if (Settings[i].factor == factor && Settings[i].truePeak == (truePeak > 0.5f)) return i;
    return 0;
}

class Clip {
public:
    Clip(unsigned channels)
        : channels_(channels), in_(channels, nullptr), out_(channels, nullptr), recent_(channels), at_(0) {
        for (const Setting& setting : Settings) {
            std::vector<std::unique_ptr<ClipStream>> streams;
            for (unsigned c = 0; c < channels && setting.factor > 1; ++c)
                streams.push_back(std::make_unique<ClipStream>(setting.factor, 1.0f, setting.truePeak, Hop));
            if (!streams.empty()) longest_ = std::max(longest_, streams[0]->Latency());
            streams_.push_back(std::move(streams));
        }
        for (auto& recent : recent_) recent.assign(longest_, 0.0f);
        scratch_.assign(Hop, 0.0f);
    }

    void Connect(std::uint32_t port, void* data) {
        if (port < channels_) in_[port] = static_cast<const float*>(data);
        else if (port < 2 * channels_) out_[port - channels_] = static_cast<float*>(data);
        else if (port - 2 * channels_ < Controls) control_[port - 2 * channels_] = static_cast<float*>(data);
    }

    // The audio starts here: silence before it, as before a file.
    void Activate() {
        for (std::size_t s = 0; s < streams_.size(); ++s)
            for (auto& stream : streams_[s]) stream->Reset(Settings[s].truePeak ? 0 : INT64_MIN);
        for (auto& recent : recent_) std::fill(recent.begin(), recent.end(), 0.0f);
        setting_ = Settings.size();
        ceiling_ = -1.0f;
    }

    void Run(std::uint32_t frames) {
        Follow();
        const bool enabled = control_[Enabled] == nullptr || *control_[Enabled] > 0.5f;
        for (std::size_t done = 0; done < frames;) {
            const std::size_t n = std::min<std::size_t>(Hop, frames - done);
            for (unsigned c = 0; c < channels_; ++c) Channel(c, done, n, enabled);
            at_ = (at_ + n) % std::max<std::size_t>(longest_, 1);
            done += n;
        }
    }

private:
    enum Control { Threshold, Oversample, TruePeak, Enabled, Latency, Controls };

    // The controls as the host has them now: a new setting takes the streams made
    // for it, primed with the audio just past; a new threshold, the new ceiling.
    void Follow() {
        const float threshold = control_[Threshold] ? std::clamp(*control_[Threshold], -60.0f, 0.0f) : -6.0f;
        const std::size_t setting = SettingOf(control_[Oversample] ? *control_[Oversample] : 4.0f,
                                              control_[TruePeak] ? *control_[TruePeak] : 0.0f);
        const float ceiling = static_cast<float>(std::pow(10.0, threshold / 20.0));
        if (setting != setting_ || ceiling != ceiling_) {
            for (auto& stream : streams_[setting]) stream->SetCeiling(ceiling);
            if (setting != setting_ && setting_ != Settings.size()) Prime(setting);
            setting_ = setting;
            ceiling_ = ceiling;
        }
        if (control_[Latency]) *control_[Latency] = static_cast<float>(streams_[setting_].empty() ? 0 : streams_[setting_][0]->Latency());
    }

    // A stream taken up while running first goes through the audio its latency
    // reaches back over, so its output carries on from what came in.
    void Prime(std::size_t setting) {
        for (unsigned c = 0; c < channels_ && !streams_[setting].empty(); ++c) {
            ClipStream& stream = *streams_[setting][c];
            stream.Reset();
            const std::size_t span = stream.Latency();
            const float *clipped = nullptr, *input = nullptr;
            for (std::size_t done = 0; done < span;) {
                const std::size_t n = std::min(Hop, span - done);
                for (std::size_t j = 0; j < n; ++j) scratch_[j] = recent_[c][(at_ + longest_ - span + done + j) % longest_];
                stream.Push(scratch_.data(), n, clipped, input);
                done += n;
            }
        }
    }

    void Channel(unsigned c, std::size_t from, std::size_t n, bool enabled) {
        const float* in = in_[c] + from;
        float* out = out_[c] + from;
        for (std::size_t j = 0; j < n && longest_ > 0; ++j) recent_[c][(at_ + j) % longest_] = in[j];
        const float ceiling = ceiling_;
        if (streams_[setting_].empty()) {
            for (std::size_t j = 0; j < n; ++j) out[j] = enabled ? std::clamp(in[j], -ceiling, ceiling) : in[j];
            return;
        }
        const float *clipped = nullptr, *input = nullptr;
        streams_[setting_][c]->Push(in, n, clipped, input);
        // Bypassed, the input as it came, as late as the clip would have been.
        for (std::size_t j = 0; j < n; ++j) out[j] = enabled ? std::clamp(clipped[j], -ceiling, ceiling) : input[j];
    }

    unsigned channels_;
    std::vector<const float*> in_;
    std::vector<float*> out_;
    std::array<float*, Controls> control_{};
    std::vector<std::vector<std::unique_ptr<ClipStream>>> streams_;  // per setting, per channel
    std::vector<std::vector<float>> recent_;  // per channel, the last `longest_` samples in
    std::size_t longest_ = 0, at_, setting_ = Settings.size();
    float ceiling_ = -1.0f;
    std::vector<float> scratch_;
};

LV2_Handle Instantiate(const LV2_Descriptor* descriptor, double, const char*, const LV2_Feature* const*) {
    // Nothing is thrown across the host's call: a plug-in that cannot be made is NULL.
    try {
        return new Clip(std::strcmp(descriptor->URI, "urn:velorik:clip:stereo") == 0 ? 2 : 1);
    } catch (...) {
        return nullptr;
    }
}

void ConnectPort(LV2_Handle clip, std::uint32_t port, void* data) { static_cast<Clip*>(clip)->Connect(port, data); }
void Activate(LV2_Handle clip) { static_cast<Clip*>(clip)->Activate(); }
void Run(LV2_Handle clip, std::uint32_t frames) { static_cast<Clip*>(clip)->Run(frames); }
void Cleanup(LV2_Handle clip) { delete static_cast<Clip*>(clip); }
const void* ExtensionData(const char*) { return nullptr; }

const LV2_Descriptor Descriptors[] = {
    {"urn:velorik:clip:mono", Instantiate, ConnectPort, Activate, Run, nullptr, Cleanup, ExtensionData},
    {"urn:velorik:clip:stereo", Instantiate, ConnectPort, Activate, Run, nullptr, Cleanup, ExtensionData},
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(std::uint32_t index) {
    return index < 2 ? &Descriptors[index] : nullptr;
}
