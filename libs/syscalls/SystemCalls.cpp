#include "syscalls/SystemCalls.h"

#include <sys/file.h>
#include <unistd.h>

#include <cstdio>  // rename, renameat2

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace velorik::sys {

namespace {

// The forms the table gives calls whose own are variadic or take more than the rules use.
int Open(const char* name, int flags, mode_t mode) { return ::open(name, flags, mode); }
int Lock(int fd, int command, struct flock* range) { return ::fcntl(fd, command, range); }
int Dup(int fd, int lowest) { return ::fcntl(fd, F_DUPFD_CLOEXEC, lowest); }
int Pipe(int ends[2], int flags) { return ::pipe2(ends, flags); }
int RenameNoReplace(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

std::atomic<const SystemCalls*> inForce{&RealSystemCalls};

// A transfer that moved nothing yet reported no error would loop for ever: it is an error.
bool Stalled(ssize_t moved) noexcept {
    if (moved == 0) errno = EIO;
    return moved == 0;
}

// Every byte through `put` (one write or pwrite of what is left, `done` bytes in):
// an interrupted call again, a short one continued.
template <typename Put>
bool PutAll(const void* bytes, std::size_t size, Put put) noexcept {
    for (std::size_t done = 0; done < size;) {
        const ssize_t moved = put(static_cast<const char*>(bytes) + done, size - done, done);
        if (moved < 0 && errno == EINTR) continue;
        if (moved < 0 || Stalled(moved)) return false;
        done += static_cast<std::size_t>(moved);
    }
    return true;
}

// `sync` again while interrupted; a file with nothing to make durable succeeds.
bool Durable(int (*sync)(int), int fd) noexcept {
    while (sync(fd) != 0) {
        if (errno == EINTR) continue;
        return errno == EINVAL || errno == EROFS;
    }
    return true;
}

}  // namespace

// In the table's order.
const SystemCalls RealSystemCalls = {
    Open,      ::read,   ::pread,  ::write,   ::pwrite,   ::lseek,  ::fstat,         ::stat,  ::statvfs,  ::fsync,    ::fdatasync,
    ::ftruncate, ::fchmod, ::fchown, ::flock,  Lock,     Dup,             ::dup2,  Pipe,       ::rename,   RenameNoReplace,
    ::link,    ::unlink, ::mkdir,   ::rmdir,    ::mkdtemp, ::mkostemp,     ::mkfifo, ::realpath, ::close};

const SystemCalls& Calls() noexcept { return *inForce.load(); }

const SystemCalls* PutInForce(const SystemCalls* table) noexcept { return inForce.exchange(table); }

int OpenFile(const char* name, int flags, mode_t mode) noexcept {
    int fd;
    while ((fd = Calls().open(name, flags | O_CLOEXEC, mode)) < 0 && errno == EINTR) {
    }
    return fd;
}

long long ReadSome(int fd, void* bytes, std::size_t size) noexcept {
    ssize_t got;
    while ((got = Calls().read(fd, bytes, size)) < 0 && errno == EINTR) {
    }
    return got;
}

long long ReadFully(int fd, void* bytes, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const long long got = ReadSome(fd, static_cast<char*>(bytes) + done, size - done);
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

long long ReadFullyAt(int fd, std::uint64_t offset, void* bytes, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = Calls().pread(fd, static_cast<char*>(bytes) + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

bool WriteFully(int fd, const void* bytes, std::size_t size) noexcept {
    return PutAll(bytes, size, [fd](const char* at, std::size_t left, std::size_t) { return Calls().write(fd, at, left); });
}

bool WriteFullyAt(int fd, std::uint64_t offset, const void* bytes, std::size_t size) noexcept {
    return PutAll(bytes, size, [fd, offset](const char* at, std::size_t left, std::size_t done) {
        return Calls().pwrite(fd, at, left, static_cast<off_t>(offset + done));
    });
}

bool SyncData(int fd) noexcept { return Durable(Calls().fdatasync, fd); }

bool SyncFile(int fd) noexcept { return Durable(Calls().fsync, fd); }

bool SyncFolderOf(const char* path) noexcept {
    // The folder's name is the path up to its last slash ("." without one, "/" for the root).
    char folder[4096];
    const char* slash = std::strrchr(path, '/');
    const std::size_t length = slash == nullptr ? 0 : slash == path ? 1 : static_cast<std::size_t>(slash - path);
    if (length >= sizeof folder) return errno = ENAMETOOLONG, false;
    std::memcpy(folder, length == 0 ? "." : path, length == 0 ? 1 : length);
    folder[length == 0 ? 1 : length] = '\0';
    const int fd = OpenFile(folder, O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0) return false;
    const bool synced = SyncFile(fd);
    const int why = errno;
    CloseFile(fd);
    errno = why;
    return synced;
}

bool Truncate(int fd, std::uint64_t size) noexcept {
    while (Calls().ftruncate(fd, static_cast<off_t>(size)) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool CloseFile(int fd) noexcept { return Calls().close(fd) == 0 || errno == EINTR; }

int Duplicate(int fd, int lowest) noexcept { return Calls().dup(fd, lowest); }

bool LockExclusively(int fd) noexcept {
    int locked;
    while ((locked = Calls().flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return locked == 0;
}

bool LockForWriting(int fd) noexcept {
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return Calls().lock(fd, F_OFD_SETLK, &whole) == 0;
}

int LockedForWriting(int fd) noexcept {
    struct flock probe = {};
    probe.l_type = F_RDLCK;
    probe.l_whence = SEEK_SET;
    if (Calls().lock(fd, F_OFD_GETLK, &probe) != 0) return -1;
    return probe.l_type != F_UNLCK ? 1 : 0;
}

int MakeFile(char* pattern) noexcept {
    int fd;
    while ((fd = Calls().mkostemp(pattern, O_CLOEXEC)) < 0 && errno == EINTR) {
    }
    return fd;
}

}  // namespace velorik::sys
