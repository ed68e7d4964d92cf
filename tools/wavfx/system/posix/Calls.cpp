#include "system/posix/Calls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace wavfx::sys {

namespace {

int Open(const char* name, int flags, mode_t mode) { return ::open(name, flags, mode); }

int Fcntl(int fd, int command, struct flock* range) { return ::fcntl(fd, command, range); }

int RenameNoReplace(const char* from, const char* to) { return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE); }

std::atomic<const SystemCalls*> inForce{&RealSystemCalls};

// A transfer that moved nothing yet reported no error would loop for ever: it is an error.
bool Stalled(ssize_t moved) {
    if (moved == 0) errno = EIO;
    return moved == 0;
}

// Every byte through `put` (one write or pwrite of what is left, `done` bytes in):
// an interrupted call again, a short one continued.
template <typename Put>
bool PutAll(const void* bytes, std::size_t size, Put put) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t moved = put(static_cast<const char*>(bytes) + done, size - done, done);
        if (moved < 0 && errno == EINTR) continue;
        if (moved < 0 || Stalled(moved)) return false;
        done += static_cast<std::size_t>(moved);
    }
    return true;
}


// A stream's descriptor, and the stream, for the registry to forget it by.
struct Cookie {
    int fd;
    std::FILE* stream;
};

// The descriptors under the streams StreamOf made: stdio's fileno knows none of them.
std::mutex registryLock;
std::map<std::FILE*, int> registry;

int Fd(void* cookie) { return static_cast<Cookie*>(cookie)->fd; }

ssize_t CookieRead(void* cookie, char* bytes, std::size_t size) { return ReadSome(Fd(cookie), bytes, size); }

ssize_t CookieWrite(void* cookie, const char* bytes, std::size_t size) {
    // All of it, or 0 with errno: what fopencookie asks of a write that fails.
    return WriteFully(Fd(cookie), bytes, size) ? static_cast<ssize_t>(size) : 0;
}

int CookieSeek(void* cookie, off64_t* offset, int whence) {
    const off_t at = Calls().lseek(Fd(cookie), *offset, whence);
    if (at < 0) return -1;
    *offset = at;
    return 0;
}

int CookieClose(void* cookie) {
    auto* owned = static_cast<Cookie*>(cookie);
    {
        std::lock_guard<std::mutex> held(registryLock);
        registry.erase(owned->stream);
    }
    const bool closed = CloseFile(owned->fd);
    delete owned;
    return closed ? 0 : -1;
}

}  // namespace

const SystemCalls RealSystemCalls = {Open,   ::read,           ::write,  ::pwrite, ::lseek,     ::fstat,  ::stat,
                                     ::fsync, ::rename,         RenameNoReplace, ::link, ::unlink, ::ftruncate,
                                     ::fchmod, ::fchown,        ::flock,  ::close,  Fcntl};

const SystemCalls& Calls() noexcept { return *inForce.load(); }

ScopedSystemCalls::ScopedSystemCalls(const SystemCalls& calls) noexcept : saved_(inForce.exchange(&calls)) {}

ScopedSystemCalls::~ScopedSystemCalls() { inForce.store(saved_); }

int OpenFile(const char* name, int flags, mode_t mode) {
    int fd;
    while ((fd = Calls().open(name, flags | O_CLOEXEC, mode)) < 0 && errno == EINTR) {
    }
    return fd;
}

ssize_t ReadSome(int fd, void* bytes, std::size_t size) {
    ssize_t got;
    while ((got = Calls().read(fd, bytes, size)) < 0 && errno == EINTR) {
    }
    return got;
}

bool WriteFully(int fd, const void* bytes, std::size_t size) {
    return PutAll(bytes, size, [fd](const char* at, std::size_t left, std::size_t) { return Calls().write(fd, at, left); });
}

bool WriteFullyAt(int fd, std::uint64_t offset, const void* bytes, std::size_t size) {
    return PutAll(bytes, size, [fd, offset](const char* at, std::size_t left, std::size_t done) {
        return Calls().pwrite(fd, at, left, static_cast<off_t>(offset + done));
    });
}

bool SyncFile(int fd) {
    while (Calls().fsync(fd) != 0) {
        if (errno == EINTR) continue;
        return errno == EINVAL || errno == EROFS;
    }
    return true;
}

bool Truncate(int fd, std::uint64_t size) {
    while (Calls().ftruncate(fd, static_cast<off_t>(size)) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool CloseFile(int fd) { return Calls().close(fd) == 0 || errno == EINTR; }

bool SyncFolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = OpenFile(folder.c_str(), O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0) return false;
    const bool synced = SyncFile(fd);
    const int why = errno;
    CloseFile(fd);
    errno = why;
    return synced;
}

std::FILE* StreamOf(int fd, const char* mode) {
    const cookie_io_functions_t functions = {CookieRead, CookieWrite, CookieSeek, CookieClose};
    auto* cookie = new Cookie{fd, nullptr};
    std::lock_guard<std::mutex> held(registryLock);
    std::FILE* stream = fopencookie(cookie, mode, functions);
    if (stream == nullptr) {
        delete cookie;
        return nullptr;
    }
    cookie->stream = stream;
    registry[stream] = fd;
    // Reads in a copy's runs rather than stdio's 4 KiB. Writes unbuffered: wavfx
    // writes in runs of its own, and stdio may drop a buffer whose flush failed
    // while a later fwrite still reports success.
    const bool writes = std::strchr(mode, 'w') != nullptr || std::strchr(mode, '+') != nullptr;
    setvbuf(stream, nullptr, writes ? _IONBF : _IOFBF, writes ? 0 : 64 << 10);
    return stream;
}

int DescriptorOf(std::FILE* stream) {
    {
        std::lock_guard<std::mutex> held(registryLock);
        const auto found = registry.find(stream);
        if (found != registry.end()) return found->second;
    }
    return fileno(stream);
}

}  // namespace wavfx::sys
