// Times WAVDistortion called in-process, to separate the pass from process start-up.
#include <chrono>
#include <cstdio>
#include <string>

#include "VelorikWAVDistortion.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: distort_inprocess IN OUT THRESHOLD\n");
        return 2;
    }
    auto widen = [](const char* s) {
        std::basic_string<VwdChar16> out;
        while (*s) out.push_back(static_cast<VwdChar16>(static_cast<unsigned char>(*s++)));
        return out;
    };
    const auto begin = std::chrono::steady_clock::now();
    const int32_t status = WAVDistortion(widen(argv[1]).c_str(), widen(argv[2]).c_str(), std::stoi(argv[3]));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::fprintf(stderr, "%.6f\n", seconds);
    return status == StatusSuccess ? 0 : 1;
}
