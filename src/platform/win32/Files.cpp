#include "Files.h"

#include <io.h>
#include <windows.h>

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

std::FILE* OpenForReading(const char* narrowName) noexcept {
    const DWORD attributes = GetFileAttributesA(narrowName);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
    return std::fopen(narrowName, "rb");
}

std::FILE* OpenForWriting(const char* narrowName) noexcept { return std::fopen(narrowName, "wb"); }

bool IsSameFile(std::FILE* open, const char* narrowName) noexcept {
    // Opening a named pipe's name connects to it, taking the connection its
    // server waits for; and a pipe is never the input file.
    if (_strnicmp(narrowName, "\\\\.\\pipe\\", 9) == 0) return false;
    const HANDLE opened = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(open)));
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
