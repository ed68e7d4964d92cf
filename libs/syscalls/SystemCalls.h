// Every system call the library makes on files goes through this one table, so
// that a test can fail any of them in turn (as SQLite's aSyscall[] does). The
// rules for what their results mean live once, in the helpers below it: EINTR
// is retried, a short transfer continues, and a failure keeps its errno.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace velorik::platform {

struct SystemCalls {
    int (*open)(const char* name, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* bytes, std::size_t size);
    ssize_t (*write)(int fd, const void* bytes, std::size_t size);
    ssize_t (*pwrite)(int fd, const void* bytes, std::size_t size, off_t offset);
    int (*fstat)(int fd, struct stat* info);
    int (*stat)(const char* name, struct stat* info);
    int (*fdatasync)(int fd);
    int (*ftruncate)(int fd, off_t size);
    int (*close)(int fd);
    int (*fcntl)(int fd, int command, struct flock* range);  // locks only
};

// The table in force: the system's own unless a test put another in place.
const SystemCalls& Calls() noexcept;
// The system's own calls, for a test's stand-ins to pass on to.
extern const SystemCalls RealSystemCalls;

// Puts `calls` in force while it lives; the table before comes back however the test ends.
class ScopedSystemCalls {
public:
    explicit ScopedSystemCalls(const SystemCalls& calls) noexcept;
    ~ScopedSystemCalls();
    ScopedSystemCalls(const ScopedSystemCalls&) = delete;
    ScopedSystemCalls& operator=(const ScopedSystemCalls&) = delete;

private:
    const SystemCalls* saved_;
};

// The rules. Each returns false (or -1) with errno as the failing call set it.
int OpenFile(const char* name, int flags, mode_t mode) noexcept;  // EINTR retried
// Up to `size` bytes, fewer only at the end of the file.
long long ReadFully(int fd, void* bytes, std::size_t size) noexcept;
bool WriteFully(int fd, const void* bytes, std::size_t size) noexcept;
bool WriteFullyAt(int fd, std::uint64_t offset, const void* bytes, std::size_t size) noexcept;
// Data and size on stable storage; a file with nothing to make durable (a device node) succeeds.
bool SyncData(int fd) noexcept;
bool Truncate(int fd, std::uint64_t size) noexcept;
// An EINTR from close has released the descriptor all the same: no retry, no failure.
bool CloseDescriptor(int fd) noexcept;
// Marks the whole file as being written by this descriptor until it is closed (an
// open-file-description lock: advisory, and seen by other descriptors of this process
// too). False where the file system keeps no locks or another writer holds one.
bool LockForWriting(int fd) noexcept;

}  // namespace velorik::platform
