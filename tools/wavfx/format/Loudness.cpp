#include "format/Loudness.h"

#include <ebur128.h>

#include <cmath>

namespace wavfx {

namespace {

// WAVE_FORMAT_EXTENSIBLE's speaker bits, lowest first, and where BS.1770 puts each.
constexpr int SpeakerPlaces[] = {
    EBUR128_LEFT,  EBUR128_RIGHT, EBUR128_CENTER, EBUR128_UNUSED,  // FL FR FC LFE
    EBUR128_LEFT_SURROUND, EBUR128_RIGHT_SURROUND,                 // BL BR
    EBUR128_LEFT,  EBUR128_RIGHT,                                  // FLC FRC
    EBUR128_Mp180,                                                 // BC
    EBUR128_LEFT_SURROUND, EBUR128_RIGHT_SURROUND,                 // SL SR
    EBUR128_Tp000,                                                 // TC
    EBUR128_Up030, EBUR128_Up000, EBUR128_Um030,                   // TFL TFC TFR
    EBUR128_Up135, EBUR128_Up180, EBUR128_Um135,                   // TBL TBC TBR
};

}  // namespace

struct LoudnessMeter::State {
    ebur128_state* meter = nullptr;
};

LoudnessMeter::LoudnessMeter(const SampleFormat& format, std::uint32_t sampleRate, std::uint32_t channelMask)
    : format_(format), state_(std::make_unique<State>()) {
    state_->meter = ebur128_init(format.channels, sampleRate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (state_->meter == nullptr || channelMask == 0) return;
    // The channels take the mask's bits in order; channels past them weigh nothing.
    unsigned channel = 0;
    for (unsigned bit = 0; bit < 32 && channel < format.channels; ++bit)
        if ((channelMask >> bit & 1u) != 0)
            ebur128_set_channel(state_->meter, channel++,
                                bit < sizeof SpeakerPlaces / sizeof *SpeakerPlaces ? SpeakerPlaces[bit] : EBUR128_UNUSED);
    for (; channel < format.channels; ++channel) ebur128_set_channel(state_->meter, channel, EBUR128_UNUSED);
}

LoudnessMeter::~LoudnessMeter() {
    if (state_->meter != nullptr) ebur128_destroy(&state_->meter);
}

std::string LoudnessMeter::Unavailable() { return {}; }

void LoudnessMeter::Add(const unsigned char* bytes, std::size_t frames) {
    if (state_->meter == nullptr || frames == 0) return;
    decoded_.resize(frames * format_.channels);
    DecodeSamples(format_.coding, bytes, decoded_.size(), decoded_.data());
    // A NaN or an infinity would poison every sum after it.
    for (float& v : decoded_) v = std::isfinite(v) ? v : 0.0f;
    ebur128_add_frames_float(state_->meter, decoded_.data(), frames);
}

Loudness LoudnessMeter::Result() const {
    Loudness result;
    if (state_->meter == nullptr) return result;
    double lufs = 0;
    if (ebur128_loudness_global(state_->meter, &lufs) == EBUR128_SUCCESS && std::isfinite(lufs)) result.lufs = lufs;
    for (unsigned c = 0; c < format_.channels; ++c) {
        double peak = 0;
        ebur128_true_peak(state_->meter, c, &peak);
        result.truePeakDbtp.push_back(peak > 0 ? 20 * std::log10(peak) : -HUGE_VAL);
    }
    return result;
}

}  // namespace wavfx
