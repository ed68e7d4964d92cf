#include "dsp/Spectrum.h"

#include <algorithm>
#include <cmath>

namespace velorik::dsp {

namespace {

constexpr double Pi = 3.14159265358979323846;

}  // namespace

Spectrum::Spectrum(std::size_t size, unsigned channels)
    : size_(size), window_(size), pending_(channels), power_(size / 2 + 1, 0.0), work_(size), twiddles_(size / 2) {
    for (std::size_t i = 0; i < size; ++i) {
        const double x = 2.0 * Pi * static_cast<double>(i) / static_cast<double>(size);
        window_[i] = static_cast<float>(0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x));
    }
    for (std::size_t i = 0; i < size / 2; ++i) twiddles_[i] = std::polar(1.0, -2.0 * Pi * static_cast<double>(i) / static_cast<double>(size));
}

void Spectrum::Add(const float* samples, std::size_t frames) {
    const std::size_t channels = pending_.size();
    for (std::size_t c = 0; c < channels; ++c) {
        std::vector<float>& pending = pending_[c];
        for (std::size_t f = 0; f < frames; ++f) {
            pending.push_back(samples[f * channels + c]);
            if (pending.size() < size_) continue;
            Transform(pending);
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(size_ / 2));
        }
    }
}

// An in-place radix-2 transform of the windowed frame; its power added to each bin.
void Spectrum::Transform(const std::vector<float>& frame) {
    const std::size_t n = size_;
    for (std::size_t i = 0, j = 0; i < n; ++i) {
        work_[j] = std::complex<double>(static_cast<double>(frame[i]) * window_[i], 0.0);
        for (std::size_t bit = n >> 1; (j ^= bit) < bit; bit >>= 1) {}  // j: i's bits reversed, for the next i
    }
    for (std::size_t half = 1; half < n; half <<= 1) {
        const std::size_t stride = n / (2 * half);
        for (std::size_t start = 0; start < n; start += 2 * half)
            for (std::size_t k = 0; k < half; ++k) {
                const std::complex<double> odd = twiddles_[k * stride] * work_[start + k + half];
                work_[start + k + half] = work_[start + k] - odd;
                work_[start + k] += odd;
            }
    }
    for (std::size_t k = 0; k <= n / 2; ++k) power_[k] += std::norm(work_[k]);
    ++transformed_;
}

std::vector<double> Spectrum::Levels() {
    if (transformed_ == 0)
        for (auto& pending : pending_)
            if (!pending.empty()) {
                pending.resize(size_, 0.0f);
                Transform(pending);
            }
    double sum = 0.0;
    for (float w : window_) sum += w;
    std::vector<double> levels(power_.size());
    const double frames = static_cast<double>(std::max<std::size_t>(transformed_, 1));
    for (std::size_t k = 0; k < levels.size(); ++k)
        levels[k] = 10.0 * std::log10(std::max(power_[k] / frames, 1e-30)) + 20.0 * std::log10(2.0 / sum);
    return levels;
}

}  // namespace velorik::dsp
