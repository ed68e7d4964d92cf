#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "system/Names.h"
#include "system/System.h"
#include "system/posix/Calls.h"

namespace wavfx::sys {

Kind KindOf(const std::string& path, std::string& error) {
    struct stat info;
    if (Calls().stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return Kind::Missing;
        error = LastError();
        return Kind::Unknown;
    }
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
    const int fd = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    std::FILE* stream = fd >= 0 ? StreamOf(fd, "rb") : nullptr;
    if (stream == nullptr && fd >= 0) CloseFile(fd);
    return stream;
}

bool Seek(std::FILE* file, std::uint64_t offset) { return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }

bool Sync(std::FILE* file) { return std::fflush(file) == 0 && SyncFile(DescriptorOf(file)); }

bool Cut(std::FILE* file, std::uint64_t size) { return std::fflush(file) == 0 && Truncate(DescriptorOf(file), size); }

bool RenamesOpenFiles() { return true; }

std::string LastError() { return std::strerror(errno); }

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

std::string MakeTemporary(const std::string& beside, std::string& error) {
    const auto slash = beside.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : beside.substr(0, slash + 1);
    // Where the usual name would not fit a path as long as the system allows, a
    // shorter one: a temporary goes wherever OUT itself can.
    const bool tight = folder.size() + std::strlen(".wavfx-XXXXXX") >= PATH_MAX;
    std::string pattern = folder + (tight ? ".XXXXXX" : ".wavfx-XXXXXX");
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        error = LastError();
        return {};
    }
    close(fd);
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
bool MoveToNewName(const std::string& from, const std::string& to, bool& existed) {
    int moved = Calls().renameNoReplace(from.c_str(), to.c_str());
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
        moved = Calls().link(from.c_str(), to.c_str());
        if (moved == 0) Calls().unlink(from.c_str());
    }
    existed = moved != 0 && errno == EEXIST;
    return moved == 0;
}

}  // namespace

bool ReplaceWith(const std::string& from, const std::string& to, bool replace, bool& existed, std::string& error) {
    existed = false;
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
        error = LastError();
        return false;
    }
    const int fd = OpenFile(from.c_str(), O_RDONLY, 0);
    // Owner and group first: a change of owner clears the set-id bits the mode then restores.
    if (fd >= 0 && keepOwner && Calls().fchown(fd, old.st_uid, old.st_gid) != 0) Calls().fchown(fd, -1, old.st_gid);
    bool ok = fd >= 0 && Calls().fchmod(fd, mode) == 0 && SyncFile(fd);
    if (!ok) error = LastError();
    if (fd >= 0) CloseFile(fd);
    if (ok && !(replace ? Calls().rename(from.c_str(), to.c_str()) == 0 : MoveToNewName(from, to, existed))) {
        error = existed ? "exists; -y replaces it, -n skips it" : LastError();
        // The one refusal a folder's own mode explains.
        struct stat folder;
        if (errno == EPERM && keepOwner && old.st_uid != geteuid() && Calls().stat(FolderOf(to).c_str(), &folder) == 0 &&
            (folder.st_mode & S_ISVTX) != 0)
            error += " (another user's file in a sticky folder, which lets only its owner replace it)";
        ok = false;
    }
    // Renamed is done; a folder that cannot be synced only leaves the rename to the system's own time.
    if (ok) SyncFolderOf(to);
    return ok;
}

FileLock::~FileLock() {
    if (handle_ >= 0) CloseFile(static_cast<int>(handle_));
}

bool FileLock::Acquire(const std::string& path, bool& busy, std::string& error, bool create) {
    busy = false;
    const int fd = OpenFile(path.c_str(), O_RDWR | (create ? O_CREAT : 0), 0666);
    if (fd < 0) {
        if (!create && errno == ENOENT) return true;
        error = LastError();
        return false;
    }
    int locked;
    while ((locked = Calls().flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        busy = errno == EWOULDBLOCK;
        error = LastError();
        CloseFile(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

std::optional<bool> HeldForWriting(const std::string& path) {
    const int fd = OpenFile(path.c_str(), O_RDONLY, 0);
    if (fd < 0) return std::nullopt;
    struct flock probe = {};
    probe.l_type = F_RDLCK;
    probe.l_whence = SEEK_SET;
    // An open-file-description lock's query: a lock held by another descriptor of this process counts too.
    const bool told = Calls().fcntl(fd, F_OFD_GETLK, &probe) == 0;
    CloseFile(fd);
    return told ? std::optional<bool>(probe.l_type != F_UNLCK) : std::nullopt;
}

std::string WhyAppendFails(const std::string& path) {
    const int fd = OpenFile(path.c_str(), O_WRONLY, 0);
    if (fd < 0) return LastError();
    struct stat info;
    std::string reason;
    const std::vector<char> zeros(16000, 0);
    if (Calls().fstat(fd, &info) != 0) {
        reason = LastError();
    } else {
        const auto size = static_cast<std::uint64_t>(info.st_size);
        if (!WriteFullyAt(fd, size, zeros.data(), zeros.size()) || !SyncFile(fd)) reason = LastError();
        if (!Truncate(fd, size) && reason.empty()) reason = LastError();
    }
    CloseFile(fd);
    return reason;
}

bool RoomFor(const std::string& path, std::uint64_t bytes) {
    struct statvfs info;
    return statvfs(path.c_str(), &info) != 0 || static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize >= bytes;
}

}  // namespace wavfx::sys
