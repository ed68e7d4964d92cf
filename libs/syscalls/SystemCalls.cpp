#include "syscalls/SystemCalls.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace velorik::platform {

namespace {

int Open(const char* name, int flags, mode_t mode) { return ::open(name, flags, mode); }

int Fcntl(int fd, int command, struct flock* range) { return ::fcntl(fd, command, range); }

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

}  // namespace

const SystemCalls RealSystemCalls = {Open, ::read, ::write, ::pwrite, ::fstat, ::stat, ::fdatasync, ::ftruncate, ::close, Fcntl};

const SystemCalls& Calls() noexcept { return *inForce.load(); }

ScopedSystemCalls::ScopedSystemCalls(const SystemCalls& calls) noexcept : saved_(inForce.exchange(&calls)) {}

ScopedSystemCalls::~ScopedSystemCalls() { inForce.store(saved_); }

int OpenFile(const char* name, int flags, mode_t mode) noexcept {
    int fd;
    while ((fd = Calls().open(name, flags, mode)) < 0 && errno == EINTR) {
    }
    return fd;
}

long long ReadFully(int fd, void* bytes, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = Calls().read(fd, static_cast<char*>(bytes) + done, size - done);
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

bool SyncData(int fd) noexcept {
    while (Calls().fdatasync(fd) != 0) {
        if (errno == EINTR) continue;
        return errno == EINVAL || errno == EROFS;
    }
    return true;
}

bool Truncate(int fd, std::uint64_t size) noexcept {
    while (Calls().ftruncate(fd, static_cast<off_t>(size)) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool CloseDescriptor(int fd) noexcept { return Calls().close(fd) == 0 || errno == EINTR; }

bool LockForWriting(int fd) noexcept {
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return Calls().fcntl(fd, F_OFD_SETLK, &whole) == 0;
}

}  // namespace velorik::platform
