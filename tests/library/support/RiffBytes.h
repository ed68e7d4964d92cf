// WAV files as bytes, built piece by piece, for the tests of what reads and repairs them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "riff/RiffReader.h"

namespace riffbytes {

using velorik::ByteSource;

inline std::string Le(uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
    return out;
}

// A chunk with its pad byte; `declared` stands in the header instead of the body's size.
inline std::string Chunk(const std::string& id, const std::string& body, int64_t declared = -1) {
    const std::string pad = body.size() % 2 ? std::string(1, '\0') : "";
    return id + Le(declared < 0 ? body.size() : static_cast<uint64_t>(declared), 4) + body + pad;
}

inline std::string Fmt(uint16_t channels = 1, uint16_t align = 2, uint16_t bits = 16, uint16_t tag = 1) {
    return Chunk("fmt ", Le(tag, 2) + Le(channels, 2) + Le(8000, 4) + Le(8000u * align, 4) + Le(align, 2) + Le(bits, 2));
}

inline std::string Wave(const std::string& chunks, const char* form = "RIFF") {
    return form + Le(chunks.size() + 4, 4) + "WAVE" + chunks;
}

// The ds64 chunk of an RF64 file: RIFF size, data size, sample count, no table.
inline std::string Ds64(uint64_t riff, uint64_t data) { return Chunk("ds64", Le(riff, 8) + Le(data, 8) + Le(0, 8) + Le(0, 4)); }

// A file past 4 GiB: its first bytes, then zeros that are never stored.
class Sparse final : public ByteSource {
public:
    Sparse(std::string head, uint64_t size) : head_(std::move(head)), size_(size) {}
    long long ReadAt(uint64_t offset, void* out, std::size_t size) override {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(size, size_ - std::min(offset, size_)));
        std::memset(out, 0, n);
        if (offset < head_.size())
            std::memcpy(out, head_.data() + offset, static_cast<std::size_t>(std::min<uint64_t>(n, head_.size() - offset)));
        return static_cast<long long>(n);
    }
    std::optional<uint64_t> Size() const override { return size_; }
    std::string& Head() { return head_; }

private:
    std::string head_;
    uint64_t size_;
};

}  // namespace riffbytes
