// What the recorder costs per second of audio, syncs included. With "fake" the
// blocks come from the strict wave input as fast as the recorder takes them,
// and the syncs are counted; with "alsa" they come from the real library over
// ALSA's default device: unpaced through the file plugin, or at real time through
// a sound server, for SECONDS (default 0.2). Both time the stop call.
// Prints: blocks, CPU seconds per block, syncs per block (-1: not counted), stop ms.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "CpuTime.h"
#include "VelorikWAVDistortion.h"

#ifdef VWD_FAKE_WAVE_IN
#include "recorder/SoundRecorder.h"
#include "support/StrictWaveIn.h"
#endif

namespace {

std::basic_string<VwdChar16> Widen(const char* s) {
    std::basic_string<VwdChar16> out;
    while (*s) out.push_back(static_cast<VwdChar16>(static_cast<unsigned char>(*s++)));
    return out;
}

#ifdef VWD_FAKE_WAVE_IN
std::atomic<long> syncs{0};
bool CountingSync(velorik::platform::FileHandle file) noexcept {
    ++syncs;
    return velorik::platform::SystemFiles.sync(file);
}
const velorik::platform::FileOps CountingFiles = {
    velorik::platform::SystemFiles.create, velorik::platform::SystemFiles.writeAt, CountingSync,
    velorik::platform::SystemFiles.cut, velorik::platform::SystemFiles.close};
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: recorder_cost OUT [SECONDS]\n");
        return 2;
    }
    [[maybe_unused]] const double seconds = argc == 3 ? std::atof(argv[2]) : 0.2;  // at real time only
    const double before = CpuSeconds();
    using Clock = std::chrono::steady_clock;
    Clock::time_point stopAt;
    int32_t blocks = 0;
    long syncsPerBlock = -1;
#ifdef VWD_FAKE_WAVE_IN
    StrictReset(nullptr);
    velorik::RecorderSeams counting;
    counting.files = &CountingFiles;
    const velorik::RecorderSeamsScope scope(counting);
    if (velorik::SoundRecorderStart(Widen(argv[1]).c_str()) != StatusSuccess) return 1;
    const long syncsAtStart = syncs;
    for (int i = 0; i < 2000 && StrictDeliver(16000, 0, 2000); ++i) {
    }
    StrictWaitQueued(velorik::RecorderBufferCount, 2000);
    const long syncsForBlocks = syncs - syncsAtStart;
    stopAt = Clock::now();
    blocks = velorik::SoundRecorderStop();
    if (blocks > 0) syncsPerBlock = syncsForBlocks / blocks;
#else
    if (SoundRecorderStart(Widen(argv[1]).c_str()) != StatusSuccess) return 1;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stopAt = Clock::now();
    blocks = SoundRecorderStop();
#endif
    const double stopMs = std::chrono::duration<double, std::milli>(Clock::now() - stopAt).count();
    const double cpu = CpuSeconds() - before;
    std::printf("%d %.9f %ld %.2f\n", blocks, blocks > 0 ? cpu / blocks : 0.0, syncsPerBlock, stopMs);
    return blocks > 0 ? 0 : 1;
}
