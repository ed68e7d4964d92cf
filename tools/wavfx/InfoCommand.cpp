#include <cstdio>

#include "Commands.h"
#include "Text.h"
#include "WavFile.h"

namespace wavfx {

int RunInfo(const Args& args) {
    if (WantsHelp(args)) {
        std::puts("usage: wavfx info FILE\n\nShows the 44-byte header's fields, the duration, the peak level and\nwhether the header's sizes match the file.");
        return 0;
    }
    if (args.size() != 1) {
        std::fputs("usage: wavfx info FILE\n", stderr);
        return 2;
    }
    const auto info = ReadWavInfo(args[0]);
    if (!info) {
        std::fprintf(stderr, "wavfx: cannot read %s\n", args[0].c_str());
        return 1;
    }
    if (info->fileSize < 44) {
        std::printf("%s: %llu bytes, too short for a WAV header\n", args[0].c_str(),
                    static_cast<unsigned long long>(info->fileSize));
        return 1;
    }
    const auto peak = info->IsPcm16() ? PeakOfFile(args[0]) : std::nullopt;
    std::printf("file:            %s (%llu bytes)\n", args[0].c_str(), static_cast<unsigned long long>(info->fileSize));
    std::printf("chunks:          '%s' size %u, '%s', '%s' size %u, '%s' size %u\n", info->riffId.c_str(), info->riffSize,
                info->waveId.c_str(), info->fmtId.c_str(), info->fmtSize, info->dataId.c_str(), info->dataSize);
    std::printf("format:          %s, %u channel(s), %u Hz, %u bits\n",
                info->audioFormat == 1 ? "PCM" : "not PCM", info->channels, info->sampleRate, info->bitsPerSample);
    std::printf("byte rate:       %u bytes/s, block align %u\n", info->byteRate, info->blockAlign);
    if (info->byteRate > 0)
        std::printf("duration:        %.3f s\n", static_cast<double>(info->dataSize) / info->byteRate);
    if (peak) std::printf("peak:            %s\n", FormatDbfs(*peak).c_str());
    std::printf("sizes:           %s\n", info->SizesMatch() ? "match the file" : "DO NOT match the file");
    return 0;
}

}  // namespace wavfx
