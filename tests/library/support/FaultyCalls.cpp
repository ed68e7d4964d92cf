#include "support/FaultyCalls.h"

#include <cerrno>
#include <type_traits>

namespace testing_support {

namespace {

using velorik::sys::RealSystemCalls;

Injector* injector = nullptr;

// What a failed call returns: -1, or a null name.
template <typename Result>
Result Failed() {
    errno = injector->Error();
    if constexpr (std::is_pointer_v<Result>)
        return nullptr;
    else
        return Result(-1);
}

template <typename Result, typename Call>
Result Through(const char* name, CallKind kind, Call call) {
    return injector->Before(name, kind, -1) == Act::Fail ? Failed<Result>() : call();
}

// Reads and writes: `size` halved when the transfer is to come up short.
template <typename Call>
ssize_t Transfer(const char* name, int fd, std::size_t size, Call call) {
    const Act act = injector->Before(name, CallKind::Transfer, fd);
    if (act == Act::Fail) return Failed<ssize_t>();
    return call(act == Act::Shorten && size > 1 ? size / 2 : size);
}

int Sync(const char* name, int fd, int (*real)(int)) {
    if (injector->Before(name, CallKind::Interruptible, fd) == Act::Fail) return Failed<int>();
    const int status = real(fd);
    if (status == 0) injector->Synced(fd);
    return status;
}

}  // namespace

velorik::sys::SystemCalls FaultyCalls(Injector& chosen) {
    injector = &chosen;
    velorik::sys::SystemCalls calls = RealSystemCalls;
    // Every entry errs when told to; those that can be interrupted or cut short are below.
#define VWD_PLAIN(name, result, parameters) \
    calls.name = [](auto... args) -> result { \
        return Through<result>(#name, CallKind::Plain, [&] { return RealSystemCalls.name(args...); }); \
    };
    VWD_SYSTEM_CALLS(VWD_PLAIN)
#undef VWD_PLAIN
    calls.ftruncate = [](int fd, off_t size) {
        return Through<int>("ftruncate", CallKind::Interruptible, [&] { return RealSystemCalls.ftruncate(fd, size); });
    };
    calls.flock = [](int fd, int operation) {
        return Through<int>("flock", CallKind::Interruptible, [&] { return RealSystemCalls.flock(fd, operation); });
    };
    calls.open = [](const char* name, int flags, mode_t mode) {
        if (injector->Before("open", CallKind::Interruptible, -1) == Act::Fail) return Failed<int>();
        const auto before = injector->Opening(name, flags);
        const int fd = RealSystemCalls.open(name, flags, mode);
        if (fd >= 0) injector->Opened(fd, flags, before);
        return fd;
    };
    calls.read = [](int fd, void* bytes, std::size_t size) {
        return Transfer("read", fd, size, [&](std::size_t n) { return RealSystemCalls.read(fd, bytes, n); });
    };
    calls.pread = [](int fd, void* bytes, std::size_t size, off_t at) {
        return Transfer("pread", fd, size, [&](std::size_t n) { return RealSystemCalls.pread(fd, bytes, n, at); });
    };
    calls.write = [](int fd, const void* bytes, std::size_t size) {
        return Transfer("write", fd, size, [&](std::size_t n) { return RealSystemCalls.write(fd, bytes, n); });
    };
    calls.pwrite = [](int fd, const void* bytes, std::size_t size, off_t at) {
        return Transfer("pwrite", fd, size, [&](std::size_t n) { return RealSystemCalls.pwrite(fd, bytes, n, at); });
    };
    calls.fsync = [](int fd) { return Sync("fsync", fd, RealSystemCalls.fsync); };
    calls.fdatasync = [](int fd) { return Sync("fdatasync", fd, RealSystemCalls.fdatasync); };
    calls.close = [](int fd) {
        const int status = RealSystemCalls.close(fd);  // released either way, as Linux does
        return injector->Before("close", CallKind::Interruptible, fd) == Act::Fail ? Failed<int>() : status;
    };
    return calls;
}

}  // namespace testing_support
