// An input as wavfx reads it, through the RIFF reader's byte source: a regular
// file (seekable, and the library may open it by name), or a stream read once
// from its start (standard input, a pipe, a FIFO, a device) and never copied.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "io/Files.h"
#include "system/Failure.h"
#include "system/System.h"
#include "riff/RiffReader.h"

namespace wavfx {

class Source final : public velorik::ByteSource {
public:
    // "-" is standard input.
    Status Open(const std::string& name);
    long long ReadAt(std::uint64_t offset, void* out, std::size_t size) override;
    std::optional<std::uint64_t> Size() const override { return isFile_ ? std::optional<std::uint64_t>(size_) : std::nullopt; }

    bool IsFile() const { return isFile_; }
    // As given.
    const std::string& Name() const { return name_; }
    // What the library opens a file by.
    std::string LibraryName() const { return sys::LibraryName(name_, stream_); }
    // A stream's bytes before its position, as read (kept until the samples start).
    const std::vector<unsigned char>& Kept() const { return kept_; }
    void StopKeeping() { keeping_ = false; }
    std::uint64_t Position() const { return position_; }
    // The reason of the last failed read.
    const std::string& Error() const { return error_; }
    // The last read's failure: `what` failed, for the reason it gave.
    Failure ReadFailed(const std::string& what = "reading failed") const { return {Role::Input, name_, what, error_}; }

private:
    long long Fail(const std::string& reason);

    std::string name_;
    File file_{nullptr, std::fclose};
    std::FILE* stream_ = nullptr;
    bool isFile_ = false;
    std::uint64_t size_ = 0, position_ = 0;
    std::vector<unsigned char> kept_;
    bool keeping_ = true;
    std::string error_;
};

}  // namespace wavfx
