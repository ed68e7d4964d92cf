#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "system/System.h"

namespace wavfx::sys {

std::FILE* Open(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool Seek(std::FILE* file, std::uint64_t offset) { return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }

bool Sync(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

std::string LastError() { return std::strerror(errno); }

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

void SetBinary(std::FILE*) {}

std::string MakeTemporary(const std::string& beside, std::string& error) {
    const auto slash = beside.rfind('/');
    std::string pattern = (slash == std::string::npos ? std::string(".") : beside.substr(0, slash)) + "/.wavfx-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        error = LastError();
        return {};
    }
    close(fd);
    return pattern;
}

bool LibraryCanOpen(const std::string&) { return true; }

bool ReplaceWith(const std::string& from, const std::string& to, std::string& error) {
    struct stat existing;
    mode_t mode;
    if (stat(to.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;  // what creating the file would have given it
    }
    if (chmod(from.c_str(), mode) != 0 || std::rename(from.c_str(), to.c_str()) != 0) {
        error = LastError();
        return false;
    }
    return true;
}

FileLock::~FileLock() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool FileLock::Acquire(const std::string& path, bool& busy, std::string& error) {
    busy = false;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = LastError();
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        busy = errno == EWOULDBLOCK;
        error = LastError();
        close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

std::string WhyAppendFails(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return LastError();
    struct stat info;
    std::string reason;
    if (fstat(fd, &info) != 0) {
        reason = LastError();
    } else {
        const std::vector<char> zeros(16000, 0);
        for (std::size_t done = 0; done < zeros.size() && reason.empty();) {
            const ssize_t written = pwrite(fd, zeros.data() + done, zeros.size() - done, info.st_size + static_cast<off_t>(done));
            if (written > 0)
                done += static_cast<std::size_t>(written);
            else if (written == 0 || errno != EINTR)
                reason = written == 0 ? "nothing could be written" : LastError();
        }
        if (ftruncate(fd, info.st_size) != 0 && reason.empty()) reason = LastError();
    }
    close(fd);
    return reason;
}

bool RoomFor(const std::string& path, std::uint64_t bytes) {
    struct statvfs info;
    return statvfs(path.c_str(), &info) != 0 || static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize >= bytes;
}

}  // namespace wavfx::sys
