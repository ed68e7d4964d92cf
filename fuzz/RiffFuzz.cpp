// The RIFF reader on arbitrary bytes: read as a file and read once as a pipe,
// it must stay inside what it was given, never go back on a pipe, and find
// the samples at the same place both ways.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "RiffReader.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    velorik::MemorySource file(data, size);
    const auto layout = velorik::ReadWavLayout(file);
    Check(layout.has_value());
    for (const auto& chunk : layout->chunks) Check(chunk.offset + 8 <= size);
    if (layout->hasData) Check(layout->dataOffset + layout->dataSize <= size);
    (void)layout->WhyNotPcm16();
    (void)layout->FormatName();

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
