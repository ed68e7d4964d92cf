#include "WAVDistortion.h"

#include <cstdio>

#include "ClipSample.h"
#include "Files.h"
#include "WAVHeader.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "samples are clipped in place as they lie in the file");

namespace velorik {

namespace {

// 32 KiB per run: large enough that stdio passes it straight to the OS, small
// enough to keep a call's stack well under 64 KiB with both name buffers.
constexpr std::size_t RunSamples = 16384;

// Copies the header block and the clipped samples; false on any read or write error.
bool CopyClipped(std::FILE* input, std::FILE* output, int16_t threshold) noexcept {
    unsigned char header[WAVHeaderSize] = {};
    const std::size_t got = std::fread(header, 1, sizeof header, input);
    if (got < sizeof header && std::ferror(input)) return false;
    if (std::fwrite(header, 1, sizeof header, output) != sizeof header) return false;

    int16_t run[RunSamples];
    for (;;) {
        const std::size_t bytes = std::fread(run, 1, sizeof run, input);
        const std::size_t samples = bytes / 2;  // an odd last byte is no sample
        ClipRun(run, samples, threshold);
        if (std::fwrite(run, 2, samples, output) != samples) return false;
        if (bytes < sizeof run) return !std::ferror(input);
    }
}

}  // namespace

int32_t WAVDistortion(const VwdChar16* inputPath, const VwdChar16* outputPath,
                      int32_t threshold) noexcept {
    if (inputPath == nullptr || outputPath == nullptr) return StatusOpenFailed;

    char inputName[platform::NarrowNameCapacity];
    platform::Utf16ToNarrow(inputPath, inputName, sizeof inputName);
    std::FILE* input = platform::OpenForReading(inputName);
    if (input == nullptr) return StatusOpenFailed;

    char outputName[platform::NarrowNameCapacity];
    platform::Utf16ToNarrow(outputPath, outputName, sizeof outputName);
    // Opening the output empties it, so it must not be the input under another name.
    std::FILE* output =
        platform::IsSameFile(input, outputName) ? nullptr : platform::OpenForWriting(outputName);
    if (output == nullptr) {
        std::fclose(input);
        return StatusOpenFailed;
    }

    bool ok = CopyClipped(input, output, ThresholdFromArgument(threshold));
    std::fclose(input);
    if (std::fclose(output) != 0) ok = false;
    if (!ok) return StatusIOFailed;

    std::fputs(DistortionSuccessLine, stdout);
    return StatusSuccess;
}

}  // namespace velorik
