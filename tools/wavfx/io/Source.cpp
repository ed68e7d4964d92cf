#include "io/Source.h"

#include <algorithm>
#include <cstring>

#include "system/System.h"

namespace wavfx {

namespace {

// A stream's chunks before its samples are metadata; more than this is no WAV worth holding.
constexpr std::size_t MaxKept = 16u << 20;

}  // namespace

Status Source::Open(const std::string& name) {
    name_ = name;
    const Kind kind = name == "-" ? Kind::Other : KindOf(name);
    if (kind == Kind::Unknown) return SystemFailure(Role::Input, name, "");
    if (kind == Kind::Directory) return Failure{Role::Input, name, "is a directory", ""};
    isFile_ = kind == Kind::Regular;
    file_ = name == "-" ? File(sys::OpenStandardInput(), std::fclose) : OpenFile(name, "rb");
    stream_ = file_.get();
    // The size of what was opened, not of what the name leads to by now.
    if (stream_ == nullptr || (isFile_ && !sys::SizeOf(stream_, size_))) return SystemFailure(Role::Input, name, "");
    return std::nullopt;
}

long long Source::Fail(const std::string& reason) {
    error_ = reason;
    return -1;
}

long long Source::ReadAt(std::uint64_t offset, void* out, std::size_t size) {
    if (isFile_) {
        const long long got = sys::ReadAt(stream_, offset, out, size);
        if (got < 0) return Fail(sys::LastError());
        position_ = offset + static_cast<std::uint64_t>(got);
        return got;
    }
    if (offset < position_) {
        // Read again from what was kept.
        if (offset + size > kept_.size()) return Fail("a stream cannot be read twice");
        std::memcpy(out, kept_.data() + offset, size);
        return static_cast<long long>(size);
    }
    unsigned char skip[4096];
    while (position_ < offset) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(offset - position_, sizeof skip));
        const long long got = ReadAt(position_, skip, want);
        if (got <= 0) return got;
    }
    position_ = offset;
    const std::size_t got = std::fread(out, 1, size, stream_);
    if (got < size && std::ferror(stream_)) return Fail(sys::LastError());
    if (keeping_) {
        if (kept_.size() + got > MaxKept) return Fail("more than 16 MiB of chunks before the samples");
        kept_.insert(kept_.end(), static_cast<unsigned char*>(out), static_cast<unsigned char*>(out) + got);
    }
    position_ += got;
    return static_cast<long long>(got);
}

}  // namespace wavfx
