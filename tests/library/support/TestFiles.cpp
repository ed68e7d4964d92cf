#include "support/TestFiles.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "text/Unicode.h"

namespace testing_support {

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return;
    saved_ = limit.rlim_cur;
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = bytes;
    took_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = saved_;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, savedHandler_);
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/vwd-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
}

TempDir::~TempDir() {
    nftw(
        root_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

bool HeldForWriting(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct flock probe = {};
    probe.l_type = F_RDLCK;
    probe.l_whence = SEEK_SET;
    const bool held = fd >= 0 && fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    if (fd >= 0) close(fd);
    return held;
}

Bytes ReadFile(const std::string& path) {
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) throw std::runtime_error("cannot read " + path);
    unsigned char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot write " + path);
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !ok) throw std::runtime_error("short write to " + path);
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::basic_string<VwdChar16> Utf16(const std::string& utf8) {
    std::basic_string<VwdChar16> out;
    for (std::size_t i = 0; i < utf8.size();) {
        uint32_t cp;
        const std::size_t length = velorik::unicode::Utf8Sequence(utf8.data(), utf8.size(), i, cp);
        if (length == 0) throw std::invalid_argument("a test name that is not UTF-8: " + utf8);
        i += length;
        VwdChar16 units[2];
        out.append(units, velorik::unicode::PutUtf16(cp, units));
    }
    return out;
}

Bytes Le16(const std::vector<int16_t>& samples) {
    Bytes bytes;
    for (int16_t s : samples) {
        bytes.push_back(static_cast<unsigned char>(static_cast<uint16_t>(s) & 0xFF));
        bytes.push_back(static_cast<unsigned char>(static_cast<uint16_t>(s) >> 8));
    }
    return bytes;
}

Bytes MakeWav(const std::vector<int16_t>& samples) {
    const uint32_t size = static_cast<uint32_t>(samples.size() * 2);
    auto u32 = [](uint32_t v) {
        return Bytes{static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                     static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    };
    Bytes out = {'R', 'I', 'F', 'F'};
    for (const Bytes& part : {u32(size + 36), Bytes{'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}, u32(16),
                              Bytes{1, 0, 1, 0}, u32(8000), u32(16000), Bytes{2, 0, 16, 0},
                              Bytes{'d', 'a', 't', 'a'}, u32(size), Le16(samples)})
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

uint32_t ReadU32(const Bytes& bytes, std::size_t at) {
    return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
           static_cast<uint32_t>(bytes.at(at + 3)) << 24;
}

}  // namespace testing_support
