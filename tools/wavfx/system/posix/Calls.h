// Every system call wavfx makes on files goes through this one table, so that a
// test can fail any of them in turn (as SQLite's aSyscall[] does); the library
// has its own on its side of the boundary. The rules for what their results
// mean live once, in the helpers below it: EINTR is retried, a short transfer
// continues, a failed stat or seek is an error with its errno (never "absent"
// or "size 0"), and every failure keeps its errno for the message.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace wavfx::sys {

struct SystemCalls {
    int (*open)(const char* name, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* bytes, std::size_t size);
    ssize_t (*write)(int fd, const void* bytes, std::size_t size);
    ssize_t (*pwrite)(int fd, const void* bytes, std::size_t size, off_t offset);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*fstat)(int fd, struct stat* info);
    int (*stat)(const char* name, struct stat* info);
    int (*fsync)(int fd);
    int (*rename)(const char* from, const char* to);
    // rename(2) that refuses an existing `to` (EEXIST); EINVAL where the file system cannot.
    int (*renameNoReplace)(const char* from, const char* to);
    int (*link)(const char* from, const char* to);
    int (*unlink)(const char* name);
    int (*ftruncate)(int fd, off_t size);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    int (*flock)(int fd, int operation);
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
int OpenFile(const char* name, int flags, mode_t mode);
// What one read gives (short is fine for a stream), never EINTR.
ssize_t ReadSome(int fd, void* bytes, std::size_t size);
bool WriteFully(int fd, const void* bytes, std::size_t size);
bool WriteFullyAt(int fd, std::uint64_t offset, const void* bytes, std::size_t size);
bool SyncFile(int fd);  // a file with nothing to make durable (a device node) succeeds
bool Truncate(int fd, std::uint64_t size);
// An EINTR from close has released the descriptor all the same: no failure.
bool CloseFile(int fd);
// The folder holding `path` on stable storage: a rename or a new name in it survives a power cut.
bool SyncFolderOf(const std::string& path);

// A stream over `fd` whose every read, write, seek and close goes through the
// table and its rules; `fd` is the stream's to close. Null (errno set) on failure.
std::FILE* StreamOf(int fd, const char* mode);
// The descriptor under a stream StreamOf made (or a plain one's); -1 for neither.
int DescriptorOf(std::FILE* stream);

}  // namespace wavfx::sys
