#include "Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Utf8.h"

namespace velorik::platform {

bool Utf16ToNarrow(const VwdChar16* name, char* out, std::size_t capacity) noexcept {
    return EncodeUtf8(name, out, capacity) >= 0;
}

std::FILE* OpenForReading(const char* narrowName) noexcept {
    std::FILE* file = std::fopen(narrowName, "rb");
    if (file == nullptr) return nullptr;
    struct stat info;
    if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

std::FILE* OpenForWriting(const char* narrowName) noexcept { return std::fopen(narrowName, "wb"); }

bool IsSameFile(std::FILE* open, const char* narrowName) noexcept {
    struct stat opened, named;
    if (fstat(fileno(open), &opened) != 0 || stat(narrowName, &named) != 0) return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

namespace {

FileHandle Create(const VwdChar16* name) noexcept {
    char narrow[NarrowNameCapacity];
    if (EncodeUtf8(name, narrow, sizeof narrow) < 0) return NoFile;
    const int fd = open(narrow, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? NoFile : fd;
}

bool WriteAt(FileHandle file, std::uint64_t offset, const void* bytes, std::size_t size) noexcept {
    const char* at = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = pwrite(static_cast<int>(file), at, size, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        at += written;
        offset += static_cast<std::uint64_t>(written);
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool Sync(FileHandle file) noexcept {
    while (fdatasync(static_cast<int>(file)) != 0) {
        if (errno == EINTR) continue;
        return errno == EINVAL || errno == EROFS;  // a device node or the like: nothing to make durable
    }
    return true;
}

bool Cut(FileHandle file, std::uint64_t size) noexcept {
    return ftruncate(static_cast<int>(file), static_cast<off_t>(size)) == 0;
}

bool Close(FileHandle file) noexcept { return close(static_cast<int>(file)) == 0; }

}  // namespace

const FileOps SystemFiles = {Create, WriteAt, Sync, Cut, Close};

}  // namespace velorik::platform
