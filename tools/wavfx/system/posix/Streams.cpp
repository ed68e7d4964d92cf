#include "system/posix/Streams.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "syscalls/SystemCalls.h"

namespace wavfx::sys {

namespace {

namespace calls = velorik::sys;

constexpr std::size_t ReadRun = 64 << 10;

// A stream's descriptor and read buffer (stdio sizes a buffer it allocates itself
// by its own measure, whatever setvbuf is asked), and the stream to forget it by.
struct Cookie {
    int fd;
    std::FILE* stream;
    char buffer[ReadRun];
};

// The descriptors under the streams StreamOf made: stdio's fileno knows none of them.
std::mutex registryLock;
std::map<std::FILE*, int> registry;

int Fd(void* cookie) { return static_cast<Cookie*>(cookie)->fd; }

ssize_t CookieRead(void* cookie, char* bytes, std::size_t size) { return calls::ReadSome(Fd(cookie), bytes, size); }

ssize_t CookieWrite(void* cookie, const char* bytes, std::size_t size) {
    // All of it, or 0 with errno: what fopencookie asks of a write that fails.
    return calls::WriteFully(Fd(cookie), bytes, size) ? static_cast<ssize_t>(size) : 0;
}

int CookieSeek(void* cookie, off64_t* offset, int whence) {
    const off_t at = calls::Calls().lseek(Fd(cookie), *offset, whence);
    if (at < 0) return -1;
    *offset = at;
    return 0;
}

int CookieClose(void* cookie) {
    auto* owned = static_cast<Cookie*>(cookie);
    {
        std::lock_guard<std::mutex> held(registryLock);
        registry.erase(owned->stream);
    }
    const bool closed = calls::CloseFile(owned->fd);
    delete owned;
    return closed ? 0 : -1;
}

}  // namespace

std::FILE* StreamOf(int fd, const char* mode, bool text) {
    const cookie_io_functions_t functions = {CookieRead, CookieWrite, CookieSeek, CookieClose};
    auto* cookie = new Cookie{fd, nullptr, {}};
    std::lock_guard<std::mutex> held(registryLock);
    std::FILE* stream = fopencookie(cookie, mode, functions);
    if (stream == nullptr) {
        delete cookie;
        return nullptr;
    }
    cookie->stream = stream;
    registry[stream] = fd;
    const bool writes = std::strchr(mode, 'w') != nullptr || std::strchr(mode, '+') != nullptr;
    if (writes && !text)
        setvbuf(stream, nullptr, _IONBF, 0);
    else
        setvbuf(stream, cookie->buffer, _IOFBF, sizeof cookie->buffer);
    return stream;
}

int DescriptorOf(std::FILE* stream) {
    {
        std::lock_guard<std::mutex> held(registryLock);
        const auto found = registry.find(stream);
        if (found != registry.end()) return found->second;
    }
    return fileno(stream);
}

}  // namespace wavfx::sys
