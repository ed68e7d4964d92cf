#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "Commands.h"
#include "Text.h"
#include "VelorikWAVDistortion.h"
#include "WavFile.h"

namespace wavfx {

namespace {

volatile std::sig_atomic_t signals = 0;

extern "C" void OnSignal(int) {
    // The first signal asks for a clean finish; a second one leaves at once.
    if (++signals > 1) _exit(130);
}

// Peak of the newest whole block in the file being recorded.
int LastBlockPeak(const std::string& path, long blocks) {
    if (blocks <= 0) return 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return 0;
    int16_t block[8000];
    std::size_t got = 0;
    if (std::fseek(file, 44 + (blocks - 1) * 16000L, SEEK_SET) == 0) got = std::fread(block, 2, 8000, file);
    std::fclose(file);
    return Peak(block, got);
}

long BlocksSoFar(const std::string& path) {
    const auto info = ReadWavInfo(path);
    return info && info->fileSize >= 44 ? static_cast<long>((info->fileSize - 44) / 16000) : 0;
}

}  // namespace

int Record(const std::string& path, long long seconds, bool quiet) {
    signals = 0;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    const bool live = !quiet && isatty(STDERR_FILENO);

    std::remove(path.c_str());
    const int32_t status = SoundRecorderStart(ToUtf16(path).c_str());
    if (status != StatusSuccess) {
        const bool created = ReadWavInfo(path).has_value();
        SoundRecorderStop();
        if (!created) {
            std::fprintf(stderr, "wavfx: cannot create %s\n", path.c_str());
        } else {
            std::remove(path.c_str());
            std::fprintf(stderr, "wavfx: no recording: %s (%d) - ALSA's \"default\" capture device%s\n",
                         DescribeStatus(status), status,
                         status == StatusOpenFailed ? " did not open (is there a capture device?)" : "");
        }
        return 1;
    }
    if (!quiet)
        std::fprintf(stderr, "wavfx: recording %s: 8000 Hz, mono, 16-bit PCM%s\n", path.c_str(),
                     seconds > 0 ? "" : " (Ctrl-C to stop)");

    const auto begin = std::chrono::steady_clock::now();
    for (;;) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (signals > 0 || (seconds > 0 && elapsed >= static_cast<double>(seconds))) break;
        if (live) {
            const long blocks = BlocksSoFar(path);
            std::fprintf(stderr, "\r  %7.1f s   %ld block(s)   peak %-12s", elapsed, blocks,
                         FormatDbfs(LastBlockPeak(path, blocks)).c_str());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const int32_t blocks = SoundRecorderStop();
    if (live) std::fputc('\n', stderr);
    if (!quiet)
        std::fprintf(stderr, "wavfx: %s: %d block(s), %d s of audio, %lld bytes\n", path.c_str(), blocks, blocks,
                     44LL + 16000LL * blocks);
    return 0;
}

int RunRecord(const Args& args) {
    if (WantsHelp(args)) {
        std::puts(
            "usage: wavfx record OUT [--seconds N] [--quiet]\n\n"
            "Records 8000 Hz mono 16-bit audio from ALSA's \"default\" capture device into OUT in\n"
            "whole one-second blocks, for N seconds or until Ctrl-C/SIGTERM (a second signal exits\n"
            "at once). On a terminal a line shows elapsed time, blocks and the last second's peak.");
        return 0;
    }
    std::string path;
    long long seconds = 0;
    bool quiet = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--quiet") {
            quiet = true;
        } else if (args[i] == "--seconds" && i + 1 < args.size() && ParseInt(args[i + 1], seconds) && seconds > 0) {
            ++i;
        } else if (path.empty() && args[i].rfind("--", 0) != 0) {
            path = args[i];
        } else {
            path.clear();
            break;
        }
    }
    if (path.empty()) {
        std::fputs("usage: wavfx record OUT [--seconds N] [--quiet]\n", stderr);
        return 2;
    }
    return Record(path, seconds, quiet);
}

}  // namespace wavfx
