// The RIFF reader on arbitrary bytes: read as a file and read once as a pipe,
// it must stay inside what it was given, never go back on a pipe, and find
// the samples at the same place both ways. wavfx's repair and sample kernels
// on the same bytes: a repair keeps the length and is done in one go.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <vector>

#include "repair/Repair.h"
#include "riff/RiffReader.h"
#include "format/SampleFormat.h"

namespace {

class OnceThrough final : public velorik::ByteSource {
public:
    OnceThrough(const uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
    long long ReadAt(uint64_t offset, void* out, std::size_t size) override {
        if (offset < position_) std::abort();  // a pipe cannot go back
        if (offset >= size_) return 0;
        const std::size_t n = size < size_ - offset ? size : static_cast<std::size_t>(size_ - offset);
        std::memcpy(out, bytes_ + offset, n);
        position_ = offset + n;
        return static_cast<long long>(n);
    }
    std::optional<uint64_t> Size() const override { return std::nullopt; }

private:
    const uint8_t* bytes_;
    std::size_t size_;
    uint64_t position_ = 0;
};

void Check(bool condition) {
    if (!condition) std::abort();
}

class Patch final : public wavfx::repair::PatchTarget {
public:
    explicit Patch(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool WriteAt(uint64_t offset, const void* bytes, std::size_t size) override {
        Check(offset + size <= bytes_.size());
        std::memcpy(bytes_.data() + offset, bytes, size);
        return true;
    }
    bool Sync() override { return true; }

private:
    std::vector<uint8_t>& bytes_;
};

// Repaired once, the bytes plan no further repair.
void RepairTwice(const uint8_t* data, std::size_t size) {
    std::vector<uint8_t> copy(data, data + size);
    velorik::MemorySource source(copy.data(), copy.size());
    const auto plan = wavfx::repair::PlanRepair(source);
    if (plan.verdict != wavfx::repair::Verdict::Repairable) return;
    Patch patch(copy);
    Check(wavfx::repair::ApplyRepair(plan, source, patch));
    velorik::MemorySource again(copy.data(), copy.size());
    Check(wavfx::repair::PlanRepair(again).verdict == wavfx::repair::Verdict::Valid);
}

// The kernels over the samples the reader found, whatever the format says.
void Kernels(const velorik::WavLayout& layout, const uint8_t* data) {
    std::string why;
    const auto format = wavfx::SampleFormatOf(layout, why);
    if (!format) return;
    std::vector<uint8_t> samples(data + layout.dataOffset, data + layout.dataOffset + layout.dataSize);
    std::vector<wavfx::ChannelRange> ranges(format->channels);
    wavfx::FoldRanges(format->coding, samples.data(), samples.size() / layout.blockAlign, ranges);
    wavfx::Threshold threshold{wavfx::Threshold::Spelling::Fraction, 0, 0.5};
    const auto count = samples.size() / format->bytes;
    Check(wavfx::ClipSamples(format->coding, samples.data(), count, wavfx::CeilingFor(threshold, format->coding)) <= count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    velorik::MemorySource file(data, size);
    const auto layout = velorik::ReadWavLayout(file);
    Check(layout.has_value());
    for (const auto& chunk : layout->chunks) Check(chunk.offset + 8 <= size);
    if (layout->hasData) Check(layout->dataOffset + layout->dataSize <= size);
    std::string why;
    (void)velorik::SampleFormatOf(*layout, why);
    (void)layout->FormatName();
    if (layout->hasData) Kernels(*layout, data);
    RepairTwice(data, size);

    OnceThrough pipe(data, size);
    auto streamed = velorik::ReadWavLayout(pipe);
    Check(streamed.has_value() && streamed->isWave == layout->isWave);
    // Up to the samples the two readings agree.
    if (streamed->hasData && streamed->hasFormat) {
        Check(layout->hasData && streamed->dataOffset == layout->dataOffset);
        Check(streamed->channels == layout->channels && streamed->blockAlign == layout->blockAlign);
    }
    streamed->dataSize = streamed->dataToEnd ? 0 : std::min<uint64_t>(streamed->dataSize, size);
    velorik::ReadChunksAfterData(pipe, *streamed);
    return 0;
}
