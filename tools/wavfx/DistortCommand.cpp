#include <cstdio>

#include "Commands.h"
#include "Text.h"
#include "VelorikWAVDistortion.h"
#include "WavFile.h"

namespace wavfx {

bool WantsHelp(const Args& args) {
    for (const auto& arg : args)
        if (arg == "--help" || arg == "-h") return true;
    return false;
}

int RunDistort(const Args& args) {
    if (WantsHelp(args)) {
        std::puts(
            "usage: wavfx distort IN OUT THRESHOLD\n\n"
            "Copies IN's 44-byte header to OUT and clips every 16-bit sample after it into\n"
            "[-THRESHOLD, THRESHOLD]. The low 16 bits of THRESHOLD are used as a signed value.\n"
            "IN and OUT must be different files.");
        return 0;
    }
    long long threshold = 0;
    if (args.size() != 3 || !ParseInt(args[2], threshold) || threshold < INT32_MIN || threshold > INT32_MAX) {
        std::fputs("usage: wavfx distort IN OUT THRESHOLD (a whole number)\n", stderr);
        return 2;
    }
    const std::string& in = args[0];
    const std::string& out = args[1];
    if (auto info = ReadWavInfo(in); info && !info->IsPcm16())
        std::fprintf(stderr, "wavfx: warning: %s is not a 16-bit PCM WAV file; its bytes are clipped as 16-bit samples anyway\n",
                     in.c_str());

    const int32_t status = WAVDistortion(ToUtf16(in).c_str(), ToUtf16(out).c_str(), static_cast<int32_t>(threshold));
    std::fflush(stdout);
    if (status != StatusSuccess) {
        std::fprintf(stderr, "wavfx: distort %s -> %s failed (%d: %s)\n", in.c_str(), out.c_str(), status,
                     status == StatusOpenFailed
                         ? "the input or the output did not open, or they are the same file"
                         : DescribeStatus(status));
        return 1;
    }
    uint64_t total = 0;
    if (const auto clipped = CountChangedSamples(in, out, total))
        std::fprintf(stderr, "wavfx: %llu of %llu samples clipped\n", static_cast<unsigned long long>(*clipped),
                     static_cast<unsigned long long>(total));
    return 0;
}

}  // namespace wavfx
