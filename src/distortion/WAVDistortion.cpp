#include "distortion/WAVDistortion.h"

#include <cerrno>
#include <cstdio>

#include "distortion/ClipSample.h"
#include "platform/Files.h"
#include "wav/WAVHeader.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "samples are clipped in place as they lie in the file");

namespace velorik {

namespace {

// 32 KiB per run: large enough that stdio passes it straight to the OS, small
// enough to keep a call's stack well under 64 KiB with both name buffers.
constexpr std::size_t RunSamples = 16384;

// Copies the header block and the clipped samples; false on any read or write error.
bool CopyClipped(platform::FileHandle input, platform::FileHandle output, int16_t threshold) noexcept {
    unsigned char header[WAVHeaderSize] = {};
    if (platform::ReadSome(input, header, sizeof header) < 0) return false;
    if (!platform::WriteAll(output, header, sizeof header)) return false;

    int16_t run[RunSamples];
    for (;;) {
        const long long bytes = platform::ReadSome(input, run, sizeof run);
        if (bytes < 0) return false;
        const std::size_t samples = static_cast<std::size_t>(bytes) / 2;  // an odd last byte is no sample
        ClipRun(run, samples, threshold);
        if (!platform::WriteAll(output, run, samples * 2)) return false;
        if (static_cast<std::size_t>(bytes) < sizeof run) return true;
    }
}

// Closes both files, keeping errno as the failure before set it.
bool CloseBoth(platform::FileHandle input, platform::FileHandle output, bool ok) noexcept {
    const int why = errno;
    platform::CloseFile(input);
    if (!platform::CloseFile(output) && ok) return false;
    if (!ok) errno = why;
    return ok;
}

}  // namespace

int32_t WAVDistortion(const VwdChar16* inputPath, const VwdChar16* outputPath,
                      int32_t threshold) noexcept {
    if (inputPath == nullptr || outputPath == nullptr) return errno = EINVAL, StatusOpenFailed;

    char inputName[platform::NarrowNameCapacity];
    if (!platform::Utf16ToNarrow(inputPath, inputName, sizeof inputName)) return errno = EILSEQ, StatusOpenFailed;
    const platform::FileHandle input = platform::OpenForReading(inputName);
    if (input == platform::NoFile) return StatusOpenFailed;

    char outputName[platform::NarrowNameCapacity];
    const bool named = platform::Utf16ToNarrow(outputPath, outputName, sizeof outputName);
    // Opening the output empties it, so it must not be the input under another name.
    const bool same = named && platform::IsSameFile(input, outputName);
    const platform::FileHandle output = !named || same ? platform::NoFile : platform::OpenForWriting(outputName);
    if (output == platform::NoFile) {
        const int why = !named ? EILSEQ : same ? EINVAL : errno;
        platform::CloseFile(input);
        errno = why;
        return StatusOpenFailed;
    }

    if (!CloseBoth(input, output, CopyClipped(input, output, ThresholdFromArgument(threshold))))
        return StatusIOFailed;
    // Flushed at once: a host may end without flushing C's buffers (Go, _exit), and
    // one whose own output is interleaved sees the line where it happened.
    std::fputs(DistortionSuccessLine, stdout);
    std::fflush(stdout);
    return StatusSuccess;
}

}  // namespace velorik
