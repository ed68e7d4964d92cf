#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "System.h"
#include "Text.h"

namespace wavfx::sys {

namespace {

std::wstring Wide(const std::string& utf8) {
    const auto utf16 = ToUtf16(utf8);
    return std::wstring(utf16.begin(), utf16.end());
}

std::string Utf8(const wchar_t* wide) {
    std::string out;
    FromUtf16(std::u16string(wide, wide + wcslen(wide)), out);
    return out;
}

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = text != nullptr ? Utf8(text) : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message;
}

std::string Folder(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// A region far past any real file's end, so that locking it never gets in
// the way of the writes a recording makes.
constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;

}  // namespace

void InitProcess() {}

bool Arguments(int, char**, std::vector<std::string>& out, int& bad) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    out.clear();
    for (int i = 0; i < count; ++i) {
        std::string arg;
        if (!FromUtf16(std::u16string(wide[i], wide[i] + wcslen(wide[i])), arg)) {
            bad = i;
            LocalFree(wide);
            return false;
        }
        out.push_back(arg);
    }
    LocalFree(wide);
    return true;
}

std::FILE* Open(const std::string& path, const char* mode) { return _wfopen(Wide(path).c_str(), Wide(mode).c_str()); }

bool Seek(std::FILE* file, std::uint64_t offset) { return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0; }

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

bool ReplaceWith(const std::string& from, const std::string& to, std::string& error) {
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    error = SystemMessage(GetLastError());
    return false;
}

bool IsStandardOutput(const std::string& path) {
    if (path == "-") return true;
    const HANDLE named = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = GetFileInformationByHandle(named, &a) &&
                      GetFileInformationByHandle(GetStdHandle(STD_OUTPUT_HANDLE), &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                      a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same;
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
