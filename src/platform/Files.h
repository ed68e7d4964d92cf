// File services the core needs, with one implementation per OS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "VelorikWAVDistortion.h"

namespace velorik::platform {

// Room for any narrow file name the OS accepts, terminator included.
constexpr std::size_t NarrowNameCapacity = 4096;

// Converts a NUL-terminated UTF-16 name to the narrow code page. A name that
// cannot be represented exactly (or does not fit) leaves `out` empty, so that
// opening it fails rather than reaching another file.
bool Utf16ToNarrow(const VwdChar16* name, char* out, std::size_t capacity) noexcept;

// Binary read ("rb"); a directory does not count as an open input.
std::FILE* OpenForReading(const char* narrowName) noexcept;
// Binary write ("wb"): creates or empties.
std::FILE* OpenForWriting(const char* narrowName) noexcept;
// Binary write by UTF-16 name, with no narrow conversion.
std::FILE* OpenUtf16ForWriting(const VwdChar16* name) noexcept;

// True when `narrowName` exists and is the very file `open` reads (links included).
bool IsSameFile(std::FILE* open, const char* narrowName) noexcept;

// Flushes and cuts the file to `size` bytes; false where the file cannot be cut.
bool CutFile(std::FILE* stream, std::uint64_t size) noexcept;

}  // namespace velorik::platform
