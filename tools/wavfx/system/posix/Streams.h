// wavfx's streams on POSIX: stdio over the one system-call table (libs/syscalls),
// so that every read, write, seek and close of a stream keeps its rules and a test
// can fail each of them.
#pragma once

#include <cstdio>

namespace wavfx::sys {

// A stream over `fd` whose every read, write, seek and close goes through the
// table; `fd` is the stream's to close. Reads come in runs of 64 KiB. Writes are
// not buffered (wavfx writes in runs of its own, and stdio may drop a buffer whose
// flush failed while a later write still reports success), but for `text`, whose
// errors the end of the command looks for. Null (errno set) on failure.
std::FILE* StreamOf(int fd, const char* mode, bool text = false);
// The descriptor under a stream StreamOf made (or a plain one's); -1 for neither.
int DescriptorOf(std::FILE* stream);

}  // namespace wavfx::sys
