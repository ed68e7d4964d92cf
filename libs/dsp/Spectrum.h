// The averaged magnitude spectrum of a signal of any length, in constant
// memory: overlapping frames, each windowed (4-term Blackman-Harris, whose
// sidelobes lie 92 dB down, so that a component 80 dB under a tone shows),
// transformed, and their power averaged over every frame of every channel.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace velorik::dsp {

class Spectrum {
public:
    // `size` a power of two: the frame length, half of it the hop.
    Spectrum(std::size_t size, unsigned channels);

    // `frames` interleaved frames, as fractions of full scale.
    void Add(const float* samples, std::size_t frames);
    // Each bin's level, 0 to half the rate, in dBFS: a full-scale sine's bin reads 0.
    // A signal shorter than a frame is taken as one frame, padded with silence.
    std::vector<double> Levels();
    std::size_t Size() const { return size_; }

private:
    void Transform(const std::vector<float>& frame);

    std::size_t size_;
    std::vector<float> window_;
    std::vector<std::vector<float>> pending_;  // per channel: samples not yet in a whole frame
    std::vector<double> power_;
    std::vector<std::complex<double>> work_, twiddles_;
    std::size_t transformed_ = 0;
};

}  // namespace velorik::dsp
