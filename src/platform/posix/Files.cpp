#include "Files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Utf8.h"

namespace velorik::platform {

bool Utf16ToNarrow(const VwdChar16* name, char* out, std::size_t capacity) noexcept {
    return EncodeUtf8(name, out, capacity) >= 0;
}

std::FILE* OpenForReading(const char* narrowName) noexcept {
    std::FILE* file = std::fopen(narrowName, "rb");
    if (file == nullptr) return nullptr;
    struct stat info;
    if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

std::FILE* OpenForWriting(const char* narrowName) noexcept { return std::fopen(narrowName, "wb"); }

std::FILE* OpenUtf16ForWriting(const VwdChar16* name) noexcept {
    char narrow[NarrowNameCapacity];
    if (EncodeUtf8(name, narrow, sizeof narrow) < 0) return nullptr;
    return std::fopen(narrow, "wb");
}

bool IsSameFile(std::FILE* open, const char* narrowName) noexcept {
    struct stat opened, named;
    if (fstat(fileno(open), &opened) != 0 || stat(narrowName, &named) != 0) return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

bool CutFile(std::FILE* stream, std::uint64_t size) noexcept {
    if (std::fflush(stream) != 0) return false;
    return ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
}

}  // namespace velorik::platform
