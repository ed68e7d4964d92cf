// The library's pipes on Windows: named pipes, one instance each.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>

#include "system/System.h"
#include "system/win32/Win32.h"

namespace wavfx::sys {

namespace {

HANDLE PipeHandle(std::intptr_t pipe) { return reinterpret_cast<HANDLE>(pipe); }

}  // namespace

LibraryPipe::~LibraryPipe() {
    LibraryDone();
    if (ours_ != nullptr)
        std::fclose(ours_);
    else if (spare_ != -1)
        CloseHandle(PipeHandle(spare_));
}

bool LibraryPipe::Create(bool libraryReads) {
    static std::atomic<unsigned> made{0};
    libraryReads_ = libraryReads;
    name_ = "\\\\.\\pipe\\wavfx-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(made++);
    libraryName_ = name_;
    const HANDLE pipe = CreateNamedPipeW(Wide(name_).c_str(), libraryReads ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1 << 16, 1 << 16, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        NoteWin32Error();
        return false;
    }
    spare_ = reinterpret_cast<std::intptr_t>(pipe);
    return true;
}

std::FILE* LibraryPipe::Ours() {
    if (ours_ != nullptr || spare_ == -1) return ours_;
    // Waits for the library's open (or LibraryDone's stand-in).
    if (!ConnectNamedPipe(PipeHandle(spare_), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED &&
        GetLastError() != ERROR_NO_DATA)
        return nullptr;
    const int fd = _open_osfhandle(spare_, libraryReads_ ? _O_WRONLY | _O_BINARY : _O_RDONLY | _O_BINARY);
    ours_ = fd >= 0 ? _fdopen(fd, libraryReads_ ? "wb" : "rb") : nullptr;
    return ours_;
}

bool LibraryPipe::CloseOurs() {
    if (ours_ == nullptr) return true;
    // Closing the server's end may drop what the library has not read yet.
    std::fflush(ours_);
    if (libraryReads_) FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(ours_))));
    const bool closed = std::fclose(ours_) == 0;
    ours_ = nullptr;
    spare_ = -1;
    return closed;
}

void LibraryPipe::Abandon() {
    const char zero = 0;
    if (libraryReads_ && ours_ != nullptr) {
        std::clearerr(ours_);
        std::fwrite(&zero, 1, 1, ours_);
    }
}

void LibraryPipe::LibraryDone() {
    if (done_.exchange(true) || name_.empty()) return;
    // If the library never opened the pipe, a stand-in does, so that our end
    // stops waiting for it and sees the end at once.
    const HANDLE stand = CreateFileW(Wide(name_).c_str(), libraryReads_ ? GENERIC_READ : GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (stand != INVALID_HANDLE_VALUE) CloseHandle(stand);
}

}  // namespace wavfx::sys
