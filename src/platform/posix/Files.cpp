#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/posix/Utf8.h"
#include "syscalls/SystemCalls.h"

namespace velorik::platform {

bool Utf16ToNarrow(const VwdChar16* name, char* out, std::size_t capacity) noexcept {
    return EncodeUtf8(name, out, capacity) >= 0;
}

FileHandle OpenForReading(const char* narrowName) noexcept {
    const int fd = sys::OpenFile(narrowName, O_RDONLY, 0);
    if (fd < 0) return NoFile;
    struct stat info;
    const bool known = sys::Calls().fstat(fd, &info) == 0;
    if (!known || S_ISDIR(info.st_mode)) {
        const int why = known ? EISDIR : errno;
        sys::CloseFile(fd);
        errno = why;
        return NoFile;
    }
    return fd;
}

FileHandle OpenForWriting(const char* narrowName) noexcept {
    const int fd = sys::OpenFile(narrowName, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    return fd < 0 ? NoFile : fd;
}

bool IsSameFile(FileHandle open, const char* narrowName) noexcept {
    struct stat opened, named;
    if (sys::Calls().fstat(static_cast<int>(open), &opened) != 0 || sys::Calls().stat(narrowName, &named) != 0)
        return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

long long ReadSome(FileHandle file, void* bytes, std::size_t size) noexcept {
    return sys::ReadFully(static_cast<int>(file), bytes, size);
}

bool WriteAll(FileHandle file, const void* bytes, std::size_t size) noexcept {
    return sys::WriteFully(static_cast<int>(file), bytes, size);
}

bool CloseFile(FileHandle file) noexcept { return sys::CloseFile(static_cast<int>(file)); }

namespace {

FileHandle Create(const VwdChar16* name) noexcept {
    char narrow[NarrowNameCapacity];
    if (EncodeUtf8(name, narrow, sizeof narrow) < 0) {
        errno = EILSEQ;
        return NoFile;
    }
    const FileHandle file = OpenForWriting(narrow);
    // Locked while the recorder writes it, so that a host sees when it lets go. A file
    // system without locks records all the same.
    if (file != NoFile) sys::LockForWriting(static_cast<int>(file));
    return file;
}

bool WriteAt(FileHandle file, std::uint64_t offset, const void* bytes, std::size_t size) noexcept {
    return sys::WriteFullyAt(static_cast<int>(file), offset, bytes, size);
}

bool Sync(FileHandle file) noexcept { return sys::SyncData(static_cast<int>(file)); }

bool Cut(FileHandle file, std::uint64_t size) noexcept { return sys::Truncate(static_cast<int>(file), size); }

bool Close(FileHandle file) noexcept { return CloseFile(file); }

}  // namespace

const FileOps SystemFiles = {Create, WriteAt, Sync, Cut, Close};

}  // namespace velorik::platform
