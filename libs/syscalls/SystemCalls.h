// Every system call the library and wavfx make on files, pipes and folders goes
// through this one table of named entries, so that a test can put any of them
// in another's place, one by name or all at once, and fail each in turn (as
// SQLite's aSyscall[] does). The rules for what their results mean are written
// once, in the helpers below it:
// - an interrupted call (EINTR) is made again; a short transfer continues;
// - a failure keeps its errno, for the caller's message;
// - every descriptor is opened close-on-exec;
// - one durability call per purpose: SyncData for a file being filled (its data
//   and size), SyncFile for a file about to take another's name (all of it),
//   SyncFolderOf for a name made or moved in a folder.
// It allocates nothing, so the library may link it.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace velorik::sys {

// The entries: name, result, parameters. Where a call is variadic or has flags
// that would bypass a rule, the entry is the one form the rules use.
#define VWD_SYSTEM_CALLS(X)                                                       \
    X(open, int, (const char* name, int flags, mode_t mode))                      \
    X(read, ssize_t, (int fd, void* bytes, std::size_t size))                     \
    X(pread, ssize_t, (int fd, void* bytes, std::size_t size, off_t at))          \
    X(write, ssize_t, (int fd, const void* bytes, std::size_t size))              \
    X(pwrite, ssize_t, (int fd, const void* bytes, std::size_t size, off_t at))   \
    X(lseek, off_t, (int fd, off_t offset, int whence))                           \
    X(fstat, int, (int fd, struct stat* info))                                    \
    X(stat, int, (const char* name, struct stat* info))                           \
    X(statvfs, int, (const char* name, struct statvfs* info))                     \
    X(fsync, int, (int fd))                                                       \
    X(fdatasync, int, (int fd))                                                   \
    X(ftruncate, int, (int fd, off_t size))                                       \
    X(fchmod, int, (int fd, mode_t mode))                                         \
    X(fchown, int, (int fd, uid_t owner, gid_t group))                            \
    X(flock, int, (int fd, int operation))                                        \
    X(lock, int, (int fd, int command, struct flock* range)) /* fcntl's locks */  \
    X(dup, int, (int fd, int lowest)) /* fcntl(F_DUPFD_CLOEXEC) */                \
    X(dup2, int, (int fd, int to))                                                \
    X(pipe, int, (int ends[2], int flags))                                        \
    X(rename, int, (const char* from, const char* to))                            \
    X(renameNoReplace, int, (const char* from, const char* to))                   \
    X(link, int, (const char* from, const char* to))                              \
    X(unlink, int, (const char* name))                                            \
    X(mkdir, int, (const char* name, mode_t mode))                                \
    X(rmdir, int, (const char* name))                                             \
    X(mkdtemp, char*, (char* pattern))                                            \
    X(mkostemp, int, (char* pattern, int flags))                                  \
    X(mkfifo, int, (const char* name, mode_t mode))                               \
    X(realpath, char*, (const char* name, char* resolved))                        \
    X(close, int, (int fd))

struct SystemCalls {
#define VWD_ENTRY(name, result, parameters) result(*name) parameters;
    VWD_SYSTEM_CALLS(VWD_ENTRY)
#undef VWD_ENTRY
};

// The table in force: the system's own unless a test put another in place.
const SystemCalls& Calls() noexcept;
// The system's own calls, for a stand-in to pass on to.
extern const SystemCalls RealSystemCalls;
// Puts `table` in force; the one that was.
const SystemCalls* PutInForce(const SystemCalls* table) noexcept;

// Puts a whole table in force while it lives; the one before comes back however the scope ends.
class ScopedSystemCalls {
public:
    explicit ScopedSystemCalls(const SystemCalls& calls) noexcept : saved_(PutInForce(&calls)) {}
    ~ScopedSystemCalls() { PutInForce(saved_); }
    ScopedSystemCalls(const ScopedSystemCalls&) = delete;
    ScopedSystemCalls& operator=(const ScopedSystemCalls&) = delete;

private:
    const SystemCalls* saved_;
};

// Puts one entry, named by its member, in the place of the one in force while it
// lives: ScopedSystemCall failing(&SystemCalls::pwrite, FailingPwrite).
class ScopedSystemCall {
public:
    template <typename Function>
    ScopedSystemCall(Function SystemCalls::*entry, Function replacement) noexcept : table_(Calls()) {
        table_.*entry = replacement;
        saved_ = PutInForce(&table_);
    }
    ~ScopedSystemCall() { PutInForce(saved_); }
    ScopedSystemCall(const ScopedSystemCall&) = delete;
    ScopedSystemCall& operator=(const ScopedSystemCall&) = delete;

private:
    SystemCalls table_;
    const SystemCalls* saved_;
};

// The rules. Each returns false (or -1, or null) with errno as the failing call set it.
int OpenFile(const char* name, int flags, mode_t mode) noexcept;
// What one read gives (short is fine for a stream), never EINTR; -1 on an error.
long long ReadSome(int fd, void* bytes, std::size_t size) noexcept;
// Up to `size` bytes, fewer only at the end of the file; -1 on an error.
long long ReadFully(int fd, void* bytes, std::size_t size) noexcept;
// The same from `offset`, where the descriptor's own position stays.
long long ReadFullyAt(int fd, std::uint64_t offset, void* bytes, std::size_t size) noexcept;
bool WriteFully(int fd, const void* bytes, std::size_t size) noexcept;
bool WriteFullyAt(int fd, std::uint64_t offset, const void* bytes, std::size_t size) noexcept;
// The data and size of a file being filled, on stable storage. A file with nothing
// to make durable (a device node, a pipe) succeeds.
bool SyncData(int fd) noexcept;
// All of a file, its mode and owner too, before it takes another's name.
bool SyncFile(int fd) noexcept;
// The folder holding `path`: a name made or moved there survives a power cut.
bool SyncFolderOf(const char* path) noexcept;
bool Truncate(int fd, std::uint64_t size) noexcept;
// An EINTR from close has released the descriptor all the same: no retry, no failure.
bool CloseFile(int fd) noexcept;
// A duplicate of `fd`, close-on-exec, numbered `lowest` or above.
int Duplicate(int fd, int lowest = 0) noexcept;
// An exclusive flock(2), refused at once (EWOULDBLOCK) when another holds it.
bool LockExclusively(int fd) noexcept;
// Marks the whole file as being written through `fd` until it is closed: an
// open-file-description lock, advisory, seen by the file's other descriptors in
// this process too. False where the file system keeps no locks or another holds one.
bool LockForWriting(int fd) noexcept;
// 1 when a descriptor other than `fd` holds such a lock on its file, 0 when none
// does, -1 (errno set) when it cannot be told.
int LockedForWriting(int fd) noexcept;
// A new file from `pattern` (its last six characters XXXXXX), open for reading and writing.
int MakeFile(char* pattern) noexcept;

}  // namespace velorik::sys
