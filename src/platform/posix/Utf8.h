// UTF-16 to UTF-8, the file-name encoding of POSIX systems.
#pragma once

#include <cstddef>

namespace velorik::platform {

// Encodes the NUL-terminated `in` into `out`, terminator included. Returns the
// length without terminator, or -1 when `in` is ill-formed (a lone surrogate)
// or the result needs more than `capacity` bytes; `out` is then left empty.
long EncodeUtf8(const char16_t* in, char* out, std::size_t capacity) noexcept;

}  // namespace velorik::platform
