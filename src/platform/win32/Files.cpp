#include "platform/Files.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>

namespace velorik::platform {

bool Utf16ToNarrow(const VwdChar16* name, char* out, std::size_t capacity) noexcept {
    out[0] = '\0';
    BOOL usedDefault = FALSE;
    // No best fit: a character the code page lacks must not turn into a look-alike
    // name that may be another, existing file.
    const int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, out,
                                            static_cast<int>(capacity), nullptr, &usedDefault);
    if (written <= 0 || usedDefault) {
        out[0] = '\0';
        return false;
    }
    return true;
}

FileHandle OpenForReading(const char* narrowName) noexcept {
    const DWORD attributes = GetFileAttributesA(narrowName);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EISDIR;
        return NoFile;
    }
    const int fd = _open(narrowName, _O_RDONLY | _O_BINARY);
    return fd < 0 ? NoFile : fd;
}

FileHandle OpenForWriting(const char* narrowName) noexcept {
    const int fd = _open(narrowName, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    return fd < 0 ? NoFile : fd;
}

bool IsSameFile(FileHandle open, const char* narrowName) noexcept {
    // Opening a named pipe's name connects to it, taking the connection its
    // server waits for; and a pipe is never the input file.
    if (_strnicmp(narrowName, "\\\\.\\pipe\\", 9) == 0) return false;
    const HANDLE opened = reinterpret_cast<HANDLE>(_get_osfhandle(static_cast<int>(open)));
    const HANDLE named = CreateFileA(narrowName, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = GetFileInformationByHandle(opened, &a) && GetFileInformationByHandle(named, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                      a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same;
}

long long ReadSome(FileHandle file, void* bytes, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const int got = _read(static_cast<int>(file), static_cast<char*>(bytes) + done,
                              static_cast<unsigned>(std::min<std::size_t>(size - done, 1u << 30)));
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

bool WriteAll(FileHandle file, const void* bytes, std::size_t size) noexcept {
    for (std::size_t done = 0; done < size;) {
        const int put = _write(static_cast<int>(file), static_cast<const char*>(bytes) + done,
                               static_cast<unsigned>(std::min<std::size_t>(size - done, 1u << 30)));
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool CloseFile(FileHandle file) noexcept { return _close(static_cast<int>(file)) == 0; }

namespace {

HANDLE Handle(FileHandle file) noexcept { return reinterpret_cast<HANDLE>(file); }

FileHandle Create(const VwdChar16* name) noexcept {
    // Shared for reading, so that a host can watch the recording grow.
    const HANDLE file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? NoFile : reinterpret_cast<FileHandle>(file);
}

bool WriteAt(FileHandle file, std::uint64_t offset, const void* bytes, std::size_t size) noexcept {
    const char* at = static_cast<const char*>(bytes);
    while (size > 0) {
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(offset);
        position.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(Handle(file), at, chunk, &written, &position) || written == 0) return false;
        at += written;
        offset += written;
        size -= written;
    }
    return true;
}

bool Sync(FileHandle file) noexcept {
    if (FlushFileBuffers(Handle(file))) return true;
    const DWORD error = GetLastError();
    return error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_HANDLE;  // a device: nothing to make durable
}

bool Cut(FileHandle file, std::uint64_t size) noexcept {
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(Handle(file), end, nullptr, FILE_BEGIN) && SetEndOfFile(Handle(file));
}

bool Close(FileHandle file) noexcept { return CloseHandle(Handle(file)) != 0; }

}  // namespace

const FileOps SystemFiles = {Create, WriteAt, Sync, Cut, Close};

}  // namespace velorik::platform
