#include <unistd.h>

#include "syscalls/SystemCalls.h"
#include "system/System.h"

namespace wavfx::sys {

namespace calls = velorik::sys;

namespace {

// A file of its own, gone once closed, where the C library makes its own temporaries.
int AnonymousFile() {
    int fd = calls::OpenFile("/tmp", O_TMPFILE | O_RDWR, 0600);
    if (fd >= 0) return fd;
    char pattern[] = "/tmp/wavfx-stdout-XXXXXX";
    fd = calls::MakeFile(pattern);
    if (fd >= 0) calls::Calls().unlink(pattern);
    return fd;
}

}  // namespace

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    const int held = AnonymousFile();
    saved_ = held >= 0 ? calls::Duplicate(STDOUT_FILENO) : -1;
    if (saved_ >= 0 && calls::Calls().dup2(held, STDOUT_FILENO) >= 0) {
        held_ = held;
        return;
    }
    const int why = errno;
    if (held >= 0) calls::CloseFile(held);
    if (saved_ >= 0) calls::CloseFile(saved_);
    saved_ = -1;
    errno = why;
}

StdoutCapture::~StdoutCapture() {
    std::string ignored;
    Release(ignored);
}

bool StdoutCapture::Release(std::string& said) {
    if (held_ == -1) return true;
    std::fflush(stdout);
    const int fd = static_cast<int>(held_);
    held_ = -1;
    // Given back first: what was held is read from its own descriptor after.
    bool restored;
    while (!(restored = calls::Calls().dup2(saved_, STDOUT_FILENO) >= 0) && errno == EINTR) {
    }
    const int why = errno;
    calls::CloseFile(saved_);
    saved_ = -1;
    char chunk[256];
    bool read = calls::Calls().lseek(fd, 0, SEEK_SET) == 0;
    long long got = 0;
    while (read && (got = calls::ReadSome(fd, chunk, sizeof chunk)) > 0) said.append(chunk, static_cast<std::size_t>(got));
    read = read && got == 0;
    const int readWhy = errno;
    calls::CloseFile(fd);
    errno = restored ? readWhy : why;
    return restored && read;
}

}  // namespace wavfx::sys
