// What the LV2 plug-in costs in real time: a 997 Hz tone at full scale, 48 kHz
// stereo, clipped throughout at -12 dB, run through the plug-in in 64-frame
// blocks as a host runs it (the module loaded as hosts load it), at each setting
// given. Prints per setting: the CPU seconds per second of audio, and the worst
// block's time against the block's own duration.
//   bench_plugin_cost BUNDLE/velorik-clip.so [OVERSAMPLE:TRUE_PEAK]...
#include <dlfcn.h>
#include <lv2/core/lv2.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CpuTime.h"

int main(int argc, char** argv) {
    if (argc < 3) return std::fprintf(stderr, "usage: bench_plugin_cost MODULE OVERSAMPLE:TRUE_PEAK...\n"), 2;
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return std::fprintf(stderr, "%s\n", dlerror()), 1;
    auto descriptorOf = reinterpret_cast<LV2_Descriptor_Function>(dlsym(module, "lv2_descriptor"));
    const LV2_Descriptor* stereo = descriptorOf(1);
    constexpr double Rate = 48000;
    constexpr std::size_t Block = 64, Seconds = 20;
    for (int i = 2; i < argc; ++i) {
        float threshold = -12, oversample = std::strtof(argv[i], nullptr), truePeak = std::atoi(std::strchr(argv[i], ':') + 1);
        float enabled = 1, latency = 0;
        std::vector<float> in[2] = {std::vector<float>(Block), std::vector<float>(Block)};
        std::vector<float> out[2] = {std::vector<float>(Block), std::vector<float>(Block)};
        const LV2_Feature* none[] = {nullptr};
        LV2_Handle clip = stereo->instantiate(stereo, Rate, "", none);
        float* controls[] = {&threshold, &oversample, &truePeak, &enabled, &latency};
        for (uint32_t p = 0; p < 2; ++p) stereo->connect_port(clip, p, in[p].data()), stereo->connect_port(clip, p + 2, out[p].data());
        for (uint32_t p = 0; p < 5; ++p) stereo->connect_port(clip, 4 + p, controls[p]);
        stereo->activate(clip);
        double worst = 0;
        const double start = CpuSeconds();
        for (std::size_t at = 0; at < static_cast<std::size_t>(Rate) * Seconds; at += Block) {
            for (std::size_t j = 0; j < Block; ++j) in[0][j] = in[1][j] = static_cast<float>(std::sin(2 * M_PI * 997 * (at + j) / Rate));
            const auto t0 = std::chrono::steady_clock::now();
            stereo->run(clip, Block);
            worst = std::max(worst, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
        const double cpu = (CpuSeconds() - start) / Seconds;
        std::printf("%s %.0f %.5f %.4f\n", argv[i], latency, cpu, worst / (Block / Rate));
        stereo->cleanup(clip);
    }
    return 0;
}
