#include <cstdio>
#include <future>
#include <memory>
#include <optional>

#include "Commands.h"
#include "Files.h"
#include "Riff.h"
#include "Samples.h"
#include "System.h"
#include "Text.h"
#include "VelorikWAVDistortion.h"

namespace wavfx {

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File OpenFile(const std::string& path, const char* mode) { return File(sys::Open(path, mode), std::fclose); }

struct Options {
    std::string in, out;
    long long threshold = 0;
    bool replace = false, raw = false;
};

// Where the samples the library clips lie in the file it reads.
struct Samples {
    std::string path;
    uint64_t offset = 0, bytes = 0;
};

// A copy of the data chunk behind a 44-byte header: the library's layout, so
// that its pass clips the samples and nothing else.
bool CopyDataChunk(std::FILE* in, const WavLayout& layout, uint64_t bytes, Temporary& copy, std::string& error) {
    if (!copy.Create(InTemporaryFolder(), error)) return false;
    File out = OpenFile(copy.Path(), "wb");
    const auto header = WavHeader(static_cast<uint32_t>(bytes), layout.sampleRate, layout.channels);
    bool ok = out && std::fwrite(header.data(), 1, header.size(), out.get()) == header.size() &&
              CopyRange(in, layout.dataOffset, bytes, out.get());
    ok = std::fclose(out.release()) == 0 && ok;
    if (!ok) error = sys::LastError();
    return ok;
}

// The input with its data chunk's samples taken from the library's output:
// every other byte as it was.
bool Reassemble(std::FILE* in, const WavLayout& layout, uint64_t bytes, const std::string& clipped,
                const std::string& path, std::string& error) {
    File out = OpenFile(path, "wb"), samples = OpenFile(clipped, "rb");
    const uint64_t after = layout.dataOffset + bytes;
    bool ok = out && samples && CopyRange(in, 0, layout.dataOffset, out.get()) &&
              CopyRange(samples.get(), 44, bytes, out.get()) &&
              CopyRange(in, after, layout.fileSize - after, out.get());
    ok = out && std::fclose(out.release()) == 0 && ok;
    if (!ok) error = sys::LastError();
    return ok;
}

bool Stream(const std::string& from, const Options& options, bool toStdout, std::string& error) {
    File in = OpenFile(from, "rb");
    std::FILE* out = toStdout ? stdout : sys::Open(options.out, "wb");
    if (toStdout) sys::SetBinary(stdout);
    bool ok = in && out != nullptr && CopyAll(in.get(), out) && std::fflush(out) == 0;
    if (!ok) error = sys::LastError();
    if (out != nullptr && !toStdout && std::fclose(out) != 0 && ok) {
        error = sys::LastError();
        ok = false;
    }
    return ok;
}

int Distort(const Options& options) {
    std::string error;
    Input input;
    if (!OpenInput(options.in, input, error)) return Fail(options.in, error);
    const bool toStdout = sys::IsStandardOutput(options.out);
    const Kind outKind = toStdout ? Kind::Other : KindOf(options.out);
    if (outKind == Kind::Directory) return Fail(options.out, "is a directory");
    if (outKind == Kind::Regular && SameFile(input.path, options.out))
        return Fail(options.out, "is the input too; choose another output");
    if (outKind == Kind::Regular && !options.replace) return Fail(options.out, "exists; -y replaces it");

    File in = OpenFile(input.path, "rb");
    if (!in) return Fail(options.in, sys::LastError());
    const auto layout = ReadLayout(in.get(), FileSize(input.path));
    if (!layout) return Fail(options.in, "reading failed: " + sys::LastError());
    const uint64_t even = layout->dataSize - layout->dataSize % 2;
    const bool literal = options.raw || layout->IsLibraryLayout();
    if (!options.raw && !layout->isWave)
        return Fail(options.in, "not a WAV file; --raw clips its bytes as 16-bit samples anyway");
    if (!options.raw && !layout->IsPcm16())
        return Fail(options.in, layout->FormatName() + ", not 16-bit PCM; --raw clips its bytes as 16-bit samples anyway");

    Samples samples{input.path, 44, layout->fileSize > 44 ? layout->fileSize - 44 : 0};
    Temporary dataCopy;
    if (!literal) {
        if (!CopyDataChunk(in.get(), *layout, even, dataCopy, error)) return Fail(options.in, "cannot copy its samples: " + error);
        samples = {dataCopy.Path(), 44, even};
    }

    // The result reaches OUT only once it is whole: a file is replaced in one
    // step, anything else (standard output, a FIFO, a device) is written once.
    const bool replaceFile = outKind == Kind::Regular || outKind == Kind::Missing;
    const std::string target = outKind == Kind::Regular ? Resolved(options.out) : options.out;
    Temporary clipped;
    if (!clipped.Create(replaceFile ? target : InTemporaryFolder(), error))
        return Fail(options.out, "cannot be written: " + error);

    // The clip report counts from the input alone, while the pass runs.
    auto count = std::async(std::launch::async, [&samples, &options] {
        File file = OpenFile(samples.path, "rb");
        return file ? CountClipped(file.get(), samples.offset, samples.bytes, static_cast<int32_t>(options.threshold))
                    : std::nullopt;
    });
    sys::StdoutCapture capture;
    const int32_t status = WAVDistortion(ToUtf16(samples.path).c_str(), ToUtf16(clipped.Path()).c_str(),
                                         static_cast<int32_t>(options.threshold));
    const std::string said = capture.Release();
    const std::optional<uint64_t> changed = count.get();
    if (status != StatusSuccess)
        return Fail(options.in, "distortion into " + options.out + " failed (" + std::to_string(status) + ": " +
                                    DescribeStatus(status) + ")");

    Temporary whole;
    std::string result = clipped.Path();
    if (!literal) {
        if (!whole.Create(replaceFile ? target : InTemporaryFolder(), error) ||
            !Reassemble(in.get(), *layout, even, clipped.Path(), whole.Path(), error))
            return Fail(options.out, "cannot be written: " + error);
        result = whole.Path();
    }
    if (replaceFile) {
        if (!sys::ReplaceWith(result, target, error)) return Fail(options.out, "cannot be written: " + error);
        (literal ? clipped : whole).Keep();
    } else if (!Stream(result, options, toStdout, error)) {
        return Fail(options.out, "writing the output failed: " + error);
    }

    std::fputs(said.c_str(), toStdout ? stderr : stdout);
    std::fflush(stdout);
    if (changed)
        std::fprintf(stderr, "wavfx: %llu of %llu samples clipped%s\n", static_cast<unsigned long long>(*changed),
                     static_cast<unsigned long long>(samples.bytes / 2),
                     literal ? "" : " (the data chunk's; every other chunk kept as it was)");
    return 0;
}

}  // namespace

bool WantsHelp(const Args& args) {
    for (const auto& arg : args)
        if (arg == "--help" || arg == "-h") return true;
    return false;
}

int RunDistort(const Args& args) {
    const char* synopsis = "distort IN OUT THRESHOLD [-y] [--raw]";
    if (WantsHelp(args)) {
        std::puts(
            "usage: wavfx distort IN OUT THRESHOLD [-y] [--raw]\n\n"
            "Hard-clips the 16-bit PCM samples of IN into [-THRESHOLD, THRESHOLD] (0..32767) and writes\n"
            "OUT. Only the data chunk's samples change; every other byte of IN is kept, whatever its\n"
            "chunk layout. IN or OUT may be - (standard input or output); pipes and FIFOs work too.\n\n"
            "  -y      replace OUT if it exists (without -y an existing file is never touched)\n"
            "  --raw   the library's literal pass: copy IN's first 44 bytes and clip every byte pair\n"
            "          after them, whatever the file holds; THRESHOLD's low 16 bits are taken as a\n"
            "          signed value, so any 32-bit number is accepted");
        return 0;
    }
    Options options;
    std::vector<std::string> positional;
    for (const std::string& arg : args) {
        if (arg == "-y")
            options.replace = true;
        else if (arg == "--raw")
            options.raw = true;
        else if (arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9'))
            return Usage(synopsis);
        else
            positional.push_back(arg);
    }
    if (positional.size() != 3 || !ParseInt(positional[2], options.threshold) || options.threshold < INT32_MIN ||
        options.threshold > INT32_MAX)
        return Usage(std::string(synopsis) + " (THRESHOLD a whole number)");
    if (!options.raw && (options.threshold < 0 || options.threshold > 32767)) {
        std::fprintf(stderr, "wavfx: THRESHOLD %lld is outside 0..32767; --raw hands any value to the library as it is\n",
                     options.threshold);
        return 2;
    }
    options.in = positional[0];
    options.out = positional[1];
    return Distort(options);
}

}  // namespace wavfx
