#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

#include "system/Names.h"
#include "system/System.h"
#include "system/win32/Win32.h"

namespace wavfx::sys {

namespace {

// A region far past any real file's end, so that locking it never gets in
// the way of the writes a recording makes.
constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;

}  // namespace

Kind KindOf(const std::string& path) {
    std::error_code code;
    const std::filesystem::file_status status = std::filesystem::status(std::filesystem::u8path(path), code);
    if (status.type() == std::filesystem::file_type::not_found) return Kind::Missing;
    if (code) {
        errno = code.value();
        return Kind::Unknown;
    }
    if (std::filesystem::is_regular_file(status)) return Kind::Regular;
    return std::filesystem::is_directory(status) ? Kind::Directory : Kind::Other;
}

bool SizeOf(std::FILE* file, std::uint64_t& size) {
    struct _stat64 info;
    if (_fstat64(_fileno(file), &info) != 0) return false;
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

std::FILE* Open(const std::string& path, const char* mode) { return _wfopen(Wide(path).c_str(), Wide(mode).c_str()); }

bool Remove(const std::string& path) {
    std::error_code error;
    if (std::filesystem::remove(std::filesystem::u8path(path), error)) return true;
    errno = error.value();
    return false;
}

bool MakeFolders(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::u8path(path), error);
    if (error) errno = error.value();
    return !error;
}

std::optional<std::uint64_t> SizeAt(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(std::filesystem::u8path(path), error);
    return error ? std::nullopt : std::optional<std::uint64_t>(size);
}

std::string Resolved(const std::string& path) {
    std::error_code error;
    const auto real = std::filesystem::canonical(std::filesystem::u8path(path), error);
    return error ? path : real.u8string();
}

bool Cut(std::FILE* file, std::uint64_t size) {
    return std::fflush(file) == 0 && _chsize_s(_fileno(file), static_cast<__int64>(size)) == 0;
}

bool RenamesOpenFiles() { return false; }

std::FILE* OpenStandardInput() {
    const int fd = _dup(_fileno(stdin));
    if (fd >= 0) _setmode(fd, _O_BINARY);
    std::FILE* stream = fd >= 0 ? _fdopen(fd, "rb") : nullptr;
    if (stream == nullptr && fd >= 0) _close(fd);
    return stream;
}

bool Seek(std::FILE* file, std::uint64_t offset) { return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0; }

long long ReadAt(std::FILE* file, std::uint64_t offset, void* out, std::size_t size) {
    if (!Seek(file, offset)) return -1;
    const std::size_t got = std::fread(out, 1, size, file);
    return got < size && std::ferror(file) ? -1 : static_cast<long long>(got);
}

bool Sync(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != 0) return true;
    NoteWin32Error();
    return false;
}

std::string LastError() { return errno == Win32Errno ? SystemMessage(lastWin32Error) : std::strerror(errno); }

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::string MakeTemporary(const std::string& beside) {
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(Wide(Folder(beside)).c_str(), L"wfx", 0, name) == 0) {
        NoteWin32Error();
        return {};
    }
    return Utf8(name);
}

std::string LibraryName(const std::string& path, std::FILE*) { return path; }

bool LibraryCanOpen(const std::string& path) {
    // The library opens names in the ANSI code page, without best fit.
    BOOL usedDefault = FALSE;
    const std::wstring wide = Wide(path);
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, nullptr, &usedDefault) > 0 &&
           !usedDefault;
}

Replaced ReplaceWith(const std::string& from, const std::string& to, bool replace) {
    const HANDLE file = CreateFileW(Wide(from).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool durable = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
    if (!durable) NoteWin32Error();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!durable) return Replaced::NotDurable;
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                    (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH))
        return Replaced::Done;
    NoteWin32Error();
    const bool exists = lastWin32Error == ERROR_ALREADY_EXISTS || lastWin32Error == ERROR_FILE_EXISTS;
    return !replace && exists ? Replaced::Exists : Replaced::NotMoved;
}

std::string MoveRefusal(const std::string&) { return {}; }

FileLock::~FileLock() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool FileLock::Acquire(const std::string& path, bool& busy, bool create) {
    busy = false;
    const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        NoteWin32Error();
        return !create && lastWin32Error == ERROR_FILE_NOT_FOUND;
    }
    OVERLAPPED region{};
    region.OffsetHigh = LockOffsetHigh;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region)) {
        NoteWin32Error();
        busy = lastWin32Error == ERROR_LOCK_VIOLATION;
        CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

// The library takes no lock on Windows, where a lock keeps other handles from reading.
std::optional<bool> HeldForWriting(const std::string&) { return std::nullopt; }

bool RoomFor(const std::string& path, std::uint64_t bytes) {
    ULARGE_INTEGER available{};
    return !GetDiskFreeSpaceExW(Wide(Folder(path)).c_str(), &available, nullptr, nullptr) ||
           available.QuadPart >= bytes;
}

}  // namespace wavfx::sys
