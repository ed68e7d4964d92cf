// Files as wavfx handles them for its commands: inputs made seekable, and
// temporary files that are gone when wavfx is done with them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace wavfx {

// A file wavfx made, removed when the object goes unless kept.
class Temporary {
public:
    Temporary() = default;
    ~Temporary();
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    // A new empty file in the folder of `beside`.
    bool Create(const std::string& beside, std::string& error);
    const std::string& Path() const { return path_; }
    void Keep() { path_.clear(); }
    // Takes over a file another Temporary kept.
    void Adopt(const std::string& path) { path_ = path; }

private:
    std::string path_;
};

// An open file, closed when it goes.
using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
File OpenFile(const std::string& path, const char* mode);

enum class Kind { Missing, Regular, Directory, Other };  // Other: a FIFO, a device, a socket
Kind KindOf(const std::string& path);  // links followed
bool SameFile(const std::string& a, const std::string& b);
std::uint64_t FileSize(const std::string& path);
// A name in the system's temporary folder, for Create.
std::string InTemporaryFolder();
// Where the file a link names lies (itself when it is no link).
std::string Resolved(const std::string& path);

// An input as a seekable file: a regular file itself, or a copy of standard
// input ("-"), a pipe or a FIFO, read once and never opened again.
struct Input {
    std::string name;  // as given, for messages
    std::string path;  // what to read
    Temporary copy;
};
bool OpenInput(const std::string& name, Input& input, std::string& error);

}  // namespace wavfx
