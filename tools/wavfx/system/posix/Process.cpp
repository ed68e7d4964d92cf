// Signals, file identities and standard output on POSIX.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "system/System.h"
#include "system/posix/Streams.h"
#include "syscalls/SystemCalls.h"

namespace wavfx::sys {

// A name on Linux is bytes, whatever encoding they are in: taken as given, shown with \xNN.
bool Arguments(int argc, char** argv, std::vector<std::string>& out, int&) {
    out.assign(argv, argv + argc);
    return true;
}

namespace {

std::optional<FileId> IdOfStat(int result, const struct stat& info) {
    if (result != 0) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

// Standard output as it was when wavfx started, before any of it was held back.
int original = STDOUT_FILENO;

}  // namespace

void InitProcess() {
    std::signal(SIGXFSZ, SIG_IGN);
    const int saved = velorik::sys::Duplicate(STDOUT_FILENO, 3);
    if (saved >= 0) original = saved;
}

std::FILE* Out() {
    static std::FILE* const out = [] {
        const int fd = velorik::sys::Duplicate(original);
        std::FILE* stream = fd >= 0 ? StreamOf(fd, "w", true) : nullptr;
        if (stream == nullptr && fd >= 0) velorik::sys::CloseFile(fd);
        return stream != nullptr ? stream : stdout;
    }();
    return out;
}

namespace {

int signalled[2] = {-1, -1};  // a byte here ends WaitUnlessSignalled

}  // namespace

void SignalArrived() noexcept {
    const int saved = errno;
    const char byte = 1;
    // raw I/O: inside a signal handler, where nothing of a test may run. A full pipe holds a wake-up already.
    if (signalled[1] >= 0) (void)!write(signalled[1], &byte, 1);
    errno = saved;
}

void WaitUnlessSignalled(unsigned milliseconds) {
    pollfd wake = {signalled[0], POLLIN, 0};
    if (signalled[0] < 0 || poll(&wake, 1, static_cast<int>(milliseconds)) <= 0) return;
    char drained[16];
    while (velorik::sys::ReadSome(signalled[0], drained, sizeof drained) > 0) {
    }
}

void HandleEndingSignals(void (*handler)(int)) {
    if (signalled[0] < 0 && velorik::sys::Calls().pipe(signalled, O_CLOEXEC | O_NONBLOCK) != 0)
        signalled[0] = signalled[1] = -1;
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&action.sa_mask, number);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(number, &action, nullptr);
}

void RemoveNow(const char* path) noexcept {
    // raw I/O: inside a signal handler, where nothing of a test may run.
    if (unlink(path) != 0 && (errno == EISDIR || errno == EPERM)) rmdir(path);
}

void EndBySignal(int number) noexcept {
    signal(number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(number);
    _exit(128 + number);
}

void WritesToClosedPipesFail() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

std::optional<FileId> IdOf(const std::string& path) {
    struct stat info;
    return IdOfStat(velorik::sys::Calls().stat(path.c_str(), &info), info);
}

std::optional<FileId> StandardOutputId() {
    struct stat info;
    return IdOfStat(velorik::sys::Calls().fstat(original, &info), info);
}

std::FILE* DuplicateStandardOutput() {
    const int fd = velorik::sys::Duplicate(original);
    std::FILE* stream = fd >= 0 ? StreamOf(fd, "wb") : nullptr;
    if (stream == nullptr && fd >= 0) velorik::sys::CloseFile(fd);
    return stream;
}

}  // namespace wavfx::sys
