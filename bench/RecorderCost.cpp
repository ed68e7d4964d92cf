// CPU time the recorder spends per second of audio. With "fake" the blocks come
// from the scripted wave input as fast as it can deliver them; with "alsa" they
// come from the real library over ALSA (the file plugin is not paced, so every
// second of audio arrives at once and the CPU time is the recorder's and ALSA's).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "VelorikWAVDistortion.h"

#ifdef VWD_FAKE_WAVE_IN
#include "FakeWaveIn.h"
#include "SoundRecorder.h"
#endif

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::basic_string<VwdChar16> Widen(const char* s) {
    std::basic_string<VwdChar16> out;
    while (*s) out.push_back(static_cast<VwdChar16>(static_cast<unsigned char>(*s++)));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: recorder_cost OUT\n");
        return 2;
    }
    const double before = CpuSeconds();
    int32_t blocks = 0;
#ifdef VWD_FAKE_WAVE_IN
    fake::Reset();
    if (velorik::SoundRecorderStart(Widen(argv[1]).c_str()) != StatusSuccess) return 1;
    for (int i = 0; i < 2000 && fake::Deliver(16000, false); ++i) {
    }
    blocks = velorik::SoundRecorderStop();
#else
    if (SoundRecorderStart(Widen(argv[1]).c_str()) != StatusSuccess) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    blocks = SoundRecorderStop();
#endif
    const double cpu = CpuSeconds() - before;
    std::printf("%d %.9f\n", blocks, blocks > 0 ? cpu / blocks : 0.0);
    return blocks > 0 ? 0 : 1;
}
