#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstring>
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

std::FILE* Open(const std::string& path, const char* mode) { return _wfopen(Wide(path).c_str(), Wide(mode).c_str()); }

bool Seek(std::FILE* file, std::uint64_t offset) { return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0; }

bool Sync(std::FILE* file) {
    return std::fflush(file) == 0 && FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != 0;
}

std::string LastError() { return std::strerror(errno); }

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void SetBinary(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

std::string MakeTemporary(const std::string& beside, std::string& error) {
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(Wide(Folder(beside)).c_str(), L"wfx", 0, name) == 0) {
        error = SystemMessage(GetLastError());
        return {};
    }
    return Utf8(name);
}

bool LibraryCanOpen(const std::string& path) {
    // The library opens names in the ANSI code page, without best fit.
    BOOL usedDefault = FALSE;
    const std::wstring wide = Wide(path);
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, nullptr, &usedDefault) > 0 &&
           !usedDefault;
}

bool ReplaceWith(const std::string& from, const std::string& to, std::string& error) {
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    error = SystemMessage(GetLastError());
    return false;
}

FileLock::~FileLock() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool FileLock::Acquire(const std::string& path, bool& busy, std::string& error) {
    busy = false;
    const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemMessage(GetLastError());
        return false;
    }
    OVERLAPPED region{};
    region.OffsetHigh = LockOffsetHigh;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region)) {
        const DWORD code = GetLastError();
        busy = code == ERROR_LOCK_VIOLATION;
        error = SystemMessage(code);
        CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

std::string WhyAppendFails(const std::string& path) {
    const HANDLE file =
        CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return SystemMessage(GetLastError());
    LARGE_INTEGER size{}, zero{};
    std::string reason;
    const std::vector<char> zeros(16000, 0);
    DWORD written = 0;
    if (!GetFileSizeEx(file, &size) || !SetFilePointerEx(file, zero, nullptr, FILE_END) ||
        !WriteFile(file, zeros.data(), static_cast<DWORD>(zeros.size()), &written, nullptr) || written != zeros.size())
        reason = SystemMessage(GetLastError());
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    return reason;
}

bool RoomFor(const std::string& path, std::uint64_t bytes) {
    ULARGE_INTEGER available{};
    return !GetDiskFreeSpaceExW(Wide(Folder(path)).c_str(), &available, nullptr, nullptr) ||
           available.QuadPart >= bytes;
}

}  // namespace wavfx::sys
