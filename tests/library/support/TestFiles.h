// Real files on disk for the tests: a fresh directory per test, and byte helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VelorikWAVDistortion.h"

namespace testing_support {

using Bytes = std::vector<unsigned char>;

// A file-size limit on the process, as a full disk: a write past it fails
// (SIGXFSZ ignored meanwhile). The old limit comes back however the test ends.
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Took() const { return took_; }

private:
    uint64_t saved_ = 0;
    void (*savedHandler_)(int) = nullptr;
    bool took_ = false;
};

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const { return root_ + "/" + name; }
    const std::string& Root() const { return root_; }

private:
    std::string root_;
};

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
bool Exists(const std::string& path);
// Whether a descriptor holds a write lock on the file (the recorder's, while it writes it).
bool HeldForWriting(const std::string& path);
std::basic_string<VwdChar16> Utf16(const std::string& utf8);

// A canonical 44-byte 8000 Hz mono 16-bit header followed by `samples`.
Bytes MakeWav(const std::vector<int16_t>& samples);
Bytes Le16(const std::vector<int16_t>& samples);
uint32_t ReadU32(const Bytes& bytes, std::size_t at);

}  // namespace testing_support
