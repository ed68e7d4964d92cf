#include "SystemCalls.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace velorik::platform {

namespace {

int Open(const char* name, int flags, mode_t mode) { return ::open(name, flags, mode); }

std::atomic<const SystemCalls*> inForce{&RealSystemCalls};

// A transfer that moved nothing yet reported no error would loop for ever: it is an error.
bool Stalled(ssize_t moved) noexcept {
    if (moved == 0) errno = EIO;
    return moved == 0;
}

}  // namespace

const SystemCalls RealSystemCalls = {Open, ::read, ::write, ::pwrite, ::fstat, ::stat, ::fdatasync, ::ftruncate, ::close};

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
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = Calls().write(fd, static_cast<const char*>(bytes) + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 || Stalled(put)) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool WriteFullyAt(int fd, std::uint64_t offset, const void* bytes, std::size_t size) noexcept {
    for (std::size_t done = 0; done < size;) {
        const ssize_t put =
            Calls().pwrite(fd, static_cast<const char*>(bytes) + done, size - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 || Stalled(put)) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
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

}  // namespace velorik::platform
