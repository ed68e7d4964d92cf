// File services the core needs, with one implementation per OS.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VelorikWAVDistortion.h"

namespace velorik::platform {

// Room for any narrow file name the OS accepts, terminator included.
constexpr std::size_t NarrowNameCapacity = 4096;

// Converts a NUL-terminated UTF-16 name to the narrow code page. A name that
// cannot be represented exactly (or does not fit) leaves `out` empty, so that
// opening it fails rather than reaching another file.
bool Utf16ToNarrow(const VwdChar16* name, char* out, std::size_t capacity) noexcept;

// The recorder's output file: opened by UTF-16 name with no narrow conversion,
// written at explicit offsets and made durable on request. A table of
// operations, so that a test can stand in for the disk.
using FileHandle = std::intptr_t;
constexpr FileHandle NoFile = -1;

struct FileOps {
    // For writing; creates or empties. On POSIX the file is locked for writing (an
    // advisory open-file-description lock) until closed.
    FileHandle (*create)(const VwdChar16* name) noexcept;
    // All of `size` bytes, or false.
    bool (*writeAt)(FileHandle file, std::uint64_t offset, const void* bytes, std::size_t size) noexcept;
    // What was written is on stable storage (a file that cannot be synced, like a
    // device node, has nothing to wait for).
    bool (*sync)(FileHandle file) noexcept;
    bool (*cut)(FileHandle file, std::uint64_t size) noexcept;
    bool (*close)(FileHandle file) noexcept;
};

extern const FileOps SystemFiles;

// The distortion pass's files, opened by narrow name, in binary, through the
// system-call layer: an interrupted call is retried and a short transfer
// continued. Every failure leaves errno (GetLastError too, on Windows) as the
// failing call set it.
// For reading; a directory does not count as an open input (EISDIR).
FileHandle OpenForReading(const char* narrowName) noexcept;
// For writing: creates or empties.
FileHandle OpenForWriting(const char* narrowName) noexcept;
// True when `narrowName` exists and is the very file `open` reads (links included).
bool IsSameFile(FileHandle open, const char* narrowName) noexcept;
// Up to `size` bytes, fewer only at the end of the file; -1 on an error.
long long ReadSome(FileHandle file, void* bytes, std::size_t size) noexcept;
bool WriteAll(FileHandle file, const void* bytes, std::size_t size) noexcept;
// False when the close reports a failure of its own (a write the disk refused late).
bool CloseFile(FileHandle file) noexcept;

}  // namespace velorik::platform
