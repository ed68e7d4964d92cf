// Files as wavfx handles them for its commands: temporary files that are gone
// when wavfx is done with them, or ended by a signal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "system/System.h"

namespace wavfx {

// A file wavfx made beside the file it becomes, removed when the object goes
// (or a signal ends wavfx) unless kept.
class Temporary {
public:
    Temporary() = default;
    ~Temporary();
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    // A new empty file in the folder of `beside`; false with the reason in LastError.
    bool Create(const std::string& beside);
    const std::string& Path() const { return path_; }
    void Keep();

private:
    std::string path_;
    int slot_ = -1;
};

// An open file, closed when it goes.
using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
File OpenFile(const std::string& path, const char* mode);

using sys::Kind;
using sys::KindOf;
using sys::Resolved;
// For a progress bar's total only: 0 when it cannot be told.
std::uint64_t FileSize(const std::string& path);

}  // namespace wavfx
