// The library's pipes on POSIX: FIFOs in a private folder of their own.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "system/Cleanup.h"
#include "system/System.h"
#include "system/posix/Calls.h"

namespace wavfx::sys {

LibraryPipe::~LibraryPipe() {
    if (ours_ != nullptr) std::fclose(ours_);
    LibraryDone();
    if (!name_.empty()) unlink(name_.c_str());
    if (!folder_.empty()) rmdir(folder_.c_str());
    for (int slot : slots_) cleanup::Unregister(slot);
}

bool LibraryPipe::Create(bool libraryReads, std::string& error) {
    libraryReads_ = libraryReads;
    std::error_code ignored;
    const auto temporary = std::filesystem::temp_directory_path(ignored);
    std::string folder = (ignored ? std::string("/tmp") : temporary.string()) + "/wavfx-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        error = LastError();
        return false;
    }
    folder_ = folder;
    slots_[0] = cleanup::Register(folder_);
    const std::string name = folder_ + (libraryReads ? "/in" : "/out");
    if (mkfifo(name.c_str(), 0600) != 0) {
        error = LastError();
        return false;
    }
    name_ = name;
    slots_[1] = cleanup::Register(name_);
    // Both ends are open before the library comes, so that no open waits for
    // another: ours, and a spare one of the library's kind that LibraryDone
    // closes, after which our end sees the pipe's end.
    int fd = -1;
    if (libraryReads) {
        spare_ = open(name_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        fd = spare_ >= 0 ? open(name_.c_str(), O_WRONLY | O_CLOEXEC) : -1;
    } else {
        fd = open(name_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        spare_ = fd >= 0 ? open(name_.c_str(), O_WRONLY | O_CLOEXEC) : -1;
    }
    ours_ = fd >= 0 && spare_ >= 0 ? StreamOf(fd, libraryReads ? "wb" : "rb") : nullptr;
    if (ours_ == nullptr) {
        error = LastError();
        if (fd >= 0) close(fd);
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
    if (spare_ >= 0) close(static_cast<int>(spare_));
    spare_ = -1;
}

}  // namespace wavfx::sys
