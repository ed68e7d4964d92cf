// The library's pipes on POSIX: FIFOs in a private folder of their own.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "system/Cleanup.h"
#include "system/System.h"
#include "system/posix/Streams.h"
#include "syscalls/SystemCalls.h"

namespace wavfx::sys {

namespace calls = velorik::sys;

LibraryPipe::~LibraryPipe() {
    if (ours_ != nullptr) std::fclose(ours_);
    LibraryDone();
    // What cannot be removed is said, not left silently.
    if (!name_.empty() && calls::Calls().unlink(name_.c_str()) != 0 && errno != ENOENT)
        cleanup::LeftBehind(name_, LastError());
    if (!folder_.empty() && calls::Calls().rmdir(folder_.c_str()) != 0 && errno != ENOENT)
        cleanup::LeftBehind(folder_, LastError());
    for (int slot : slots_) cleanup::Unregister(slot);
}

bool LibraryPipe::Create(bool libraryReads) {
    libraryReads_ = libraryReads;
    // TMPDIR where it names a folder, as the C library's own temporaries take it.
    const char* base = std::getenv("TMPDIR");
    struct stat info;
    const bool usable = base != nullptr && *base != '\0' && calls::Calls().stat(base, &info) == 0 && S_ISDIR(info.st_mode);
    std::string folder = std::string(usable ? base : "/tmp") + "/wavfx-XXXXXX";
    if (calls::Calls().mkdtemp(folder.data()) == nullptr) return false;
    folder_ = folder;
    slots_[0] = cleanup::Register(folder_);
    const std::string name = folder_ + (libraryReads ? "/in" : "/out");
    if (calls::Calls().mkfifo(name.c_str(), 0600) != 0) return false;
    name_ = name;
    slots_[1] = cleanup::Register(name_);
    // Both ends are open before the library comes, so that no open waits for
    // another: ours, and a spare one of the library's kind that LibraryDone
    // closes, after which our end sees the pipe's end.
    int fd = -1;
    // A FIFO's read end opens at once only without a writer wait: non-blocking,
    // then back to blocking through a second open of our own end once the writer is there.
    if (libraryReads) {
        spare_ = calls::OpenFile(name_.c_str(), O_RDONLY | O_NONBLOCK, 0);
        fd = spare_ >= 0 ? calls::OpenFile(name_.c_str(), O_WRONLY, 0) : -1;
    } else {
        const int waiting = calls::OpenFile(name_.c_str(), O_RDONLY | O_NONBLOCK, 0);
        spare_ = waiting >= 0 ? calls::OpenFile(name_.c_str(), O_WRONLY, 0) : -1;
        fd = spare_ >= 0 ? calls::OpenFile(name_.c_str(), O_RDONLY, 0) : -1;
        if (waiting >= 0) calls::CloseFile(waiting);
    }
    ours_ = fd >= 0 && spare_ >= 0 ? StreamOf(fd, libraryReads ? "wb" : "rb") : nullptr;
    if (ours_ == nullptr && fd >= 0) {
        const int why = errno;
        calls::CloseFile(fd);
        errno = why;
    }
    libraryName_ = LibraryName(name_, ours_);
    return ours_ != nullptr;
}

std::FILE* LibraryPipe::Ours() { return ours_; }

bool LibraryPipe::CloseOurs() {
    // The library's open waits for a writer: ours may close only once the
    // library has taken everything, so it has opened (or has been given up on).
    if (libraryReads_ && ours_ != nullptr && std::fflush(ours_) == 0) {
        int waiting = 0;
        while (!done_.load() && ioctl(DescriptorOf(ours_), FIONREAD, &waiting) == 0 && waiting > 0) usleep(1000);
    }
    const bool closed = ours_ == nullptr || std::fclose(ours_) == 0;
    ours_ = nullptr;
    return closed;
}

void LibraryPipe::Abandon() {
    const char zero = 0;
    if (libraryReads_ && ours_ != nullptr) {
        std::clearerr(ours_);
        std::fwrite(&zero, 1, 1, ours_);
    }
}

void LibraryPipe::LibraryDone() {
    done_.store(true);
    if (spare_ >= 0) calls::CloseFile(static_cast<int>(spare_));
    spare_ = -1;
}

}  // namespace wavfx::sys
