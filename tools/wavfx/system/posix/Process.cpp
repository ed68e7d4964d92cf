// Signals, file identities and standard output on POSIX.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "system/System.h"
#include "system/posix/Calls.h"

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
    const int saved = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved >= 0) original = saved;
}

void HandleEndingSignals(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&action.sa_mask, number);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(number, &action, nullptr);
}

void RemoveNow(const char* path) noexcept {
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
    return IdOfStat(stat(path.c_str(), &info), info);
}

std::optional<FileId> StandardOutputId() {
    struct stat info;
    return IdOfStat(fstat(original, &info), info);
}

std::FILE* DuplicateStandardOutput() {
    const int fd = fcntl(original, F_DUPFD_CLOEXEC, 0);
    std::FILE* stream = fd >= 0 ? StreamOf(fd, "wb") : nullptr;
    if (stream == nullptr && fd >= 0) close(fd);
    return stream;
}

}  // namespace wavfx::sys
