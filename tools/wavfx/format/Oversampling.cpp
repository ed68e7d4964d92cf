#include "format/Oversampling.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "system/Threads.h"

namespace wavfx {

namespace {

// Frames clipped at a time: long enough that the context either side costs
// little (a few times the reach), short enough that each rate's signal stays
// in the core's cache.
constexpr std::size_t BlockFrames = 32768, ReachesPerBlock = 16;
// What the filters see of a sample beyond full scale: a float file may hold
// anything, and an infinity would turn the sums into NaN.
constexpr float Bound = 64.0f;

float ForFilters(float v) { return std::isnan(v) ? 0.0f : std::clamp(v, -Bound, Bound); }

}  // namespace

bool IsOversamplingFactor(long long factor) {
    return factor == 1 || factor == 2 || factor == 4 || factor == 8 || factor == 16 || factor == 32;
}

OversampledClipper::OversampledClipper(const SampleFormat& format, const Ceiling& ceiling, const Oversampling& oversampling)
    : format_(format), ceiling_(ceiling), frameBytes_(static_cast<std::size_t>(format.bytes) * format.channels) {
    const bool isFloat = format.coding == Coding::F32 || format.coding == Coding::F64;
    const auto level = static_cast<float>(isFloat ? ceiling.level : static_cast<double>(ceiling.limit) / FullScale(format.coding));
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    for (unsigned i = 0; i < cores; ++i)
        workers_.push_back(std::make_unique<velorik::dsp::OversampledClip>(oversampling.factor, level, oversampling.truePeak));
    reach_ = workers_[0]->Reach();
    block_ = std::max(BlockFrames, ReachesPerBlock * reach_);
    decoded_.assign(format.channels, std::vector<float>(reach_, 0.0f));
}

void OversampledClipper::Push(const unsigned char* bytes, std::size_t n, std::vector<unsigned char>& ready) {
    held_.insert(held_.end(), bytes, bytes + n);
    const std::size_t channels = format_.channels, decoded = decoded_[0].size() - reach_;
    const std::size_t frames = held_.size() / frameBytes_ - decoded;
    scratch_.resize(frames * channels);
    DecodeSamples(format_.coding, held_.data() + decoded * frameBytes_, frames * channels, scratch_.data());
    for (std::size_t c = 0; c < channels; ++c) {
        std::vector<float>& row = decoded_[c];
        const std::size_t from = row.size();
        row.resize(from + frames);
        for (std::size_t f = 0; f < frames; ++f) row[from + f] = ForFilters(scratch_[f * channels + c]);
    }
    // A block goes once the context after it has come.
    const std::size_t whole = decoded + frames;
    if (whole >= reach_ + block_) Flush((whole - reach_) / block_, block_, ready);
}

void OversampledClipper::Finish(std::vector<unsigned char>& ready) {
    const std::size_t frames = decoded_[0].size() - reach_;
    total_ = handed_ + frames;
    for (auto& channel : decoded_) channel.resize(channel.size() + reach_, 0.0f);
    if (frames > 0) Flush((frames + block_ - 1) / block_, (frames - 1) % block_ + 1, ready);
    // The whole samples of a torn last frame have no frame to be filtered in: plainly clipped.
    changed_ += ClipSamples(format_.coding, held_.data(), held_.size() / format_.bytes, ceiling_);
    ready.insert(ready.end(), held_.begin(), held_.end());
    held_.clear();
}

// One block of every channel: its corrections, then its bytes clipped with them.
std::uint64_t OversampledClipper::ClipBlock(velorik::dsp::OversampledClip& clip, std::size_t block, std::size_t frames) {
    const std::size_t channels = format_.channels, first = block * block_;
    std::vector<float> correction(frames);
    float* corrections = scratch_.data() + first * channels;
    // The window's first frame is the file's frame `at` - reach_.
    const std::size_t at = handed_ + first;
    velorik::dsp::Audio audio;
    audio.from = at < reach_ ? reach_ - at : 0;
    if (total_ != SIZE_MAX) audio.to = total_ + reach_ - at;
    for (std::size_t c = 0; c < channels; ++c) {
        if (!clip.Correct(decoded_[c].data() + first, frames, correction.data(), audio)) continue;
        for (std::size_t f = 0; f < frames; ++f) corrections[f * channels + c] = correction[f];
    }
    return ClipCorrected(format_.coding, held_.data() + first * frameBytes_, frames * channels, corrections, ceiling_);
}

void OversampledClipper::Flush(std::size_t blocks, std::size_t last, std::vector<unsigned char>& ready) {
    const std::size_t frames = (blocks - 1) * block_ + last, channels = format_.channels;
    scratch_.assign(frames * channels, 0.0f);
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> changed{0};
    auto work = [&](velorik::dsp::OversampledClip& clip) {
        for (std::size_t b; (b = next++) < blocks;) changed += ClipBlock(clip, b, b + 1 == blocks ? last : block_);
    };
    // Where no more threads start, fewer share the blocks.
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < std::min(workers_.size(), blocks); ++i) {
        std::thread helper;
        if (!sys::StartThread(helper, [&work, clip = workers_[i].get()] { work(*clip); })) break;
        helpers.push_back(std::move(helper));
    }
    work(*workers_[0]);
    for (auto& helper : helpers) helper.join();
    changed_ += changed;
    handed_ += frames;
    const auto bytes = static_cast<std::ptrdiff_t>(frames * frameBytes_);
    ready.insert(ready.end(), held_.begin(), held_.begin() + bytes);
    held_.erase(held_.begin(), held_.begin() + bytes);
    for (auto& channel : decoded_) channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(frames));
}

}  // namespace wavfx
