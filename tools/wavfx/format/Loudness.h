// Integrated loudness (EBU R128 / ITU-R BS.1770-4, with its gates) and each
// channel's true peak, measured over a file's samples as they stream by
// libebur128, the well-kept meter. Builds without it (Windows) say so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/SampleFormat.h"

namespace wavfx {

struct Loudness {
    std::optional<double> lufs;  // nullopt: nothing to measure (silence, or under 400 ms)
    std::vector<double> truePeakDbtp;  // per channel; -infinity for silence
};

class LoudnessMeter {
public:
    // The channels weighed as `channelMask` places them (WAVE_FORMAT_EXTENSIBLE's
    // speaker bits), or in libebur128's own order without one (L, R, C, LFE, Ls, Rs).
    LoudnessMeter(const SampleFormat& format, std::uint32_t sampleRate, std::uint32_t channelMask);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Why this build measures nothing ("" where it does).
    static std::string Unavailable();

    // `frames` frames of samples as they lie in the file.
    void Add(const unsigned char* bytes, std::size_t frames);
    Loudness Result() const;

private:
    struct State;
    SampleFormat format_;
    std::unique_ptr<State> state_;
    std::vector<float> decoded_;
};

}  // namespace wavfx
