// The distortion pass on arbitrary files, checked byte for byte against a model
// written from the plain description: copy 44 bytes (zero-padded), then clip each
// whole byte pair, and drop an odd last byte.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "distortion/WAVDistortion.h"

namespace {

std::string directory;

std::vector<unsigned char> Model(const unsigned char* data, std::size_t size, int32_t threshold) {
    std::vector<unsigned char> out(44, 0);
    std::memcpy(out.data(), data, size < 44 ? size : 44);
    const int t = static_cast<int16_t>(static_cast<uint16_t>(threshold & 0xFFFF));
    for (std::size_t i = 44; i + 1 < size; i += 2) {
        int s = static_cast<int16_t>(static_cast<uint16_t>(data[i] | data[i + 1] << 8));
        if (s > t)
            s = t;
        else if (s < -t)
            s = static_cast<int16_t>(static_cast<uint16_t>((-t) & 0xFFFF));
        out.push_back(static_cast<unsigned char>(s & 0xFF));
        out.push_back(static_cast<unsigned char>((s >> 8) & 0xFF));
    }
    return out;
}

std::basic_string<VwdChar16> Widen(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/vwd-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    directory = pattern;
    std::freopen("/dev/null", "w", stdout);  // the success line, once per input
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // The first four bytes choose the threshold; the rest is the input file.
    int32_t threshold = 100;
    if (size >= 4) {
        std::memcpy(&threshold, data, 4);
        data += 4;
        size -= 4;
    }
    const std::string in = directory + "/in.wav", out = directory + "/out.wav";
    std::FILE* file = std::fopen(in.c_str(), "wb");
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) std::abort();

    if (velorik::WAVDistortion(Widen(in).c_str(), Widen(out).c_str(), threshold) != StatusSuccess) std::abort();

    const std::vector<unsigned char> expected = Model(data, size, threshold);
    std::vector<unsigned char> actual(expected.size() + 1);
    file = std::fopen(out.c_str(), "rb");
    if (file == nullptr) std::abort();
    const std::size_t got = std::fread(actual.data(), 1, actual.size(), file);
    std::fclose(file);
    if (got != expected.size() || std::memcmp(actual.data(), expected.data(), got) != 0) std::abort();
    return 0;
}
