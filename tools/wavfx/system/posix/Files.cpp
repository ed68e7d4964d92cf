#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "system/Names.h"
#include "system/System.h"
#include "system/posix/Streams.h"
#include "syscalls/SystemCalls.h"

namespace wavfx::sys {

using velorik::sys::Calls;
using velorik::sys::CloseFile;
using velorik::sys::OpenFile;

Kind KindOf(const std::string& path) {
    struct stat info;
    if (Calls().stat(path.c_str(), &info) != 0) return errno == ENOENT || errno == ENOTDIR ? Kind::Missing : Kind::Unknown;
    return S_ISREG(info.st_mode) ? Kind::Regular : S_ISDIR(info.st_mode) ? Kind::Directory : Kind::Other;
}

bool SizeOf(std::FILE* file, std::uint64_t& size) {
    struct stat info;
    if (Calls().fstat(DescriptorOf(file), &info) != 0) return false;
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

std::FILE* Open(const std::string& path, const char* mode) {
    // "rb", "wb" and "r+b", as wavfx opens files.
    const bool write = mode[0] == 'w', update = std::strchr(mode, '+') != nullptr;
    const int flags = write ? O_WRONLY | O_CREAT | O_TRUNC : update ? O_RDWR : O_RDONLY;
    const int fd = OpenFile(path.c_str(), flags, 0666);
    if (fd < 0) return nullptr;
    std::FILE* stream = StreamOf(fd, mode);
    if (stream == nullptr) {
        const int why = errno;
        CloseFile(fd);
        errno = why;
    }
    return stream;
}

std::FILE* OpenStandardInput() {
    const int fd = velorik::sys::Duplicate(STDIN_FILENO);
    std::FILE* stream = fd >= 0 ? StreamOf(fd, "rb") : nullptr;
    if (stream == nullptr && fd >= 0) CloseFile(fd);
    return stream;
}

bool Remove(const std::string& path) {
    return Calls().unlink(path.c_str()) == 0 || ((errno == EISDIR || errno == EPERM) && Calls().rmdir(path.c_str()) == 0);
}

bool MakeFolders(const std::string& path) {
    // Each folder on the way, from the top; one that is there already is no failure.
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string step = path.substr(0, at);
        struct stat info;
        if (!step.empty() && Calls().mkdir(step.c_str(), 0777) != 0 &&
            !(errno == EEXIST && Calls().stat(step.c_str(), &info) == 0 && S_ISDIR(info.st_mode))) {
            if (errno == EEXIST) errno = ENOTDIR;
            return false;
        }
        if (at == std::string::npos) return true;
    }
}

std::optional<std::uint64_t> SizeAt(const std::string& path) {
    struct stat info;
    if (Calls().stat(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

std::string Resolved(const std::string& path) {
    char* real = Calls().realpath(path.c_str(), nullptr);
    const std::string resolved = real != nullptr ? real : path;
    std::free(real);
    return resolved;
}

long long ReadAt(std::FILE* file, std::uint64_t offset, void* out, std::size_t size) {
    return velorik::sys::ReadFullyAt(DescriptorOf(file), offset, out, size);
}

bool Seek(std::FILE* file, std::uint64_t offset) { return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }

bool Sync(std::FILE* file) { return std::fflush(file) == 0 && velorik::sys::SyncFile(DescriptorOf(file)); }

bool Cut(std::FILE* file, std::uint64_t size) { return std::fflush(file) == 0 && velorik::sys::Truncate(DescriptorOf(file), size); }

bool RenamesOpenFiles() { return true; }

std::string LastError() { return std::strerror(errno); }

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

std::string MakeTemporary(const std::string& beside) {
    const auto slash = beside.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : beside.substr(0, slash + 1);
    // Where the usual name would not fit a path as long as the system allows, a
    // shorter one: a temporary goes wherever OUT itself can.
    const bool tight = folder.size() + std::strlen(".wavfx-XXXXXX") >= PATH_MAX;
    std::string pattern = folder + (tight ? ".XXXXXX" : ".wavfx-XXXXXX");
    const int fd = velorik::sys::MakeFile(pattern.data());
    if (fd < 0) return {};
    CloseFile(fd);
    return pattern;
}

// Through /proc, any name.
bool LibraryCanOpen(const std::string&) { return true; }

std::string LibraryName(const std::string& path, std::FILE* open) {
    return IsValidUtf8(path) || open == nullptr ? path : "/proc/self/fd/" + std::to_string(DescriptorOf(open));
}

namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Moves `from` to a `to` that must not exist; where the file system has no such
// rename, a second name made with link(2), which refuses one that exists too.
bool MoveToNewName(const std::string& from, const std::string& to) {
    int moved = Calls().renameNoReplace(from.c_str(), to.c_str());
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
        moved = Calls().link(from.c_str(), to.c_str());
        if (moved == 0) Calls().unlink(from.c_str());
    }
    return moved == 0;
}

}  // namespace

Replaced ReplaceWith(const std::string& from, const std::string& to, bool replace) {
    struct stat old;
    bool keepOwner = false;
    mode_t mode;
    if (replace && Calls().stat(to.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
        keepOwner = true;
    } else if (!replace || errno == ENOENT) {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;  // what creating the file would have given it
    } else {
        return Replaced::NotMoved;
    }
    const int fd = OpenFile(from.c_str(), O_RDONLY, 0);
    // Owner and group first: a change of owner clears the set-id bits the mode then restores.
    if (fd >= 0 && keepOwner && Calls().fchown(fd, old.st_uid, old.st_gid) != 0) Calls().fchown(fd, -1, old.st_gid);
    const bool durable = fd >= 0 && Calls().fchmod(fd, mode) == 0 && velorik::sys::SyncFile(fd);
    const int why = errno;
    if (fd >= 0) CloseFile(fd);
    errno = why;
    if (!durable) return Replaced::NotDurable;
    if (!(replace ? Calls().rename(from.c_str(), to.c_str()) == 0 : MoveToNewName(from, to)))
        return errno == EEXIST && !replace ? Replaced::Exists : Replaced::NotMoved;
    // Moved is done; a folder that cannot be synced only leaves the move to the system's own time.
    velorik::sys::SyncFolderOf(to.c_str());
    return Replaced::Done;
}

std::string MoveRefusal(const std::string& to) {
    struct stat file, folder;
    const bool sticky = Calls().stat(to.c_str(), &file) == 0 && file.st_uid != geteuid() &&
                        Calls().stat(FolderOf(to).c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0;
    return sticky ? "another user's file in a sticky folder, which lets only its owner replace it" : "";
}

FileLock::~FileLock() {
    if (handle_ >= 0) CloseFile(static_cast<int>(handle_));
}

bool FileLock::Acquire(const std::string& path, bool& busy, bool create) {
    busy = false;
    const int fd = OpenFile(path.c_str(), O_RDWR | (create ? O_CREAT : 0), 0666);
    if (fd < 0) return !create && errno == ENOENT;
    if (!velorik::sys::LockExclusively(fd)) {
        busy = errno == EWOULDBLOCK;
        const int why = errno;
        CloseFile(fd);
        errno = why;
        return false;
    }
    handle_ = fd;
    return true;
}

std::optional<bool> HeldForWriting(const std::string& path) {
    const int fd = OpenFile(path.c_str(), O_RDONLY, 0);
    if (fd < 0) return std::nullopt;
    const int locked = velorik::sys::LockedForWriting(fd);
    CloseFile(fd);
    return locked < 0 ? std::nullopt : std::optional<bool>(locked == 1);
}

bool RoomFor(const std::string& path, std::uint64_t bytes) {
    struct statvfs info;
    return Calls().statvfs(path.c_str(), &info) != 0 || static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize >= bytes;
}

}  // namespace wavfx::sys
