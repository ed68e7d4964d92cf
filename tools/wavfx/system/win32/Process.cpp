// Signals, file identities and standard output on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <csignal>
#include <string>
#include <vector>
#include <cstdlib>

#include "system/Names.h"
#include "system/System.h"
#include "system/win32/Win32.h"

namespace wavfx::sys {

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

namespace {

// Standard output as it was when wavfx started, before any of it was held back.
int original = 1;

std::optional<FileId> IdOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return std::nullopt;
    return FileId{info.dwVolumeSerialNumber, static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

}  // namespace

void InitProcess() {
    const int saved = _dup(1);
    if (saved >= 0) original = saved;
}

std::FILE* Out() { return stdout; }

namespace {

HANDLE signalled = nullptr;  // raised by a signal, ends WaitUnlessSignalled

}  // namespace

void SignalArrived() noexcept {
    if (signalled != nullptr) SetEvent(signalled);
}

void WaitUnlessSignalled(unsigned milliseconds) {
    if (signalled == nullptr)
        Sleep(milliseconds);
    else
        WaitForSingleObject(signalled, milliseconds);
}

void HandleEndingSignals(void (*handler)(int)) {
    if (signalled == nullptr) signalled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    for (int number : {SIGINT, SIGTERM, SIGBREAK}) std::signal(number, handler);
}

void RemoveNow(const char* path) noexcept {
    wchar_t wide[MAX_PATH * 4];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, MAX_PATH * 4) <= 0) return;
    if (!DeleteFileW(wide)) RemoveDirectoryW(wide);
}

void EndBySignal(int number) noexcept {
    std::signal(number, SIG_DFL);
    std::raise(number);
    _exit(3);
}

void WritesToClosedPipesFail() {}

std::optional<FileId> IdOf(const std::string& path) {
    const HANDLE file = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const auto id = IdOfHandle(file);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return id;
}

std::optional<FileId> StandardOutputId() { return IdOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(original))); }

std::FILE* DuplicateStandardOutput() {
    const int fd = _dup(original);
    if (fd >= 0) _setmode(fd, _O_BINARY);  // a duplicate keeps the text mode of standard output
    std::FILE* stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (stream == nullptr && fd >= 0) _close(fd);
    return stream;
}

}  // namespace wavfx::sys
