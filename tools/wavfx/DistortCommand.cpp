#include <atomic>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "Commands.h"
#include "Files.h"
#include "Progress.h"
#include "Riff.h"
#include "Samples.h"
#include "System.h"
#include "Text.h"
#include "VelorikWAVDistortion.h"

namespace wavfx {

namespace {

// From this size on, a single file's distortion shows a progress bar.
constexpr uint64_t LargeFileBytes = 100'000'000;

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

bool Stream(const std::string& from, const std::string& outName, bool toStdout, std::string& error) {
    File in = OpenFile(from, "rb");
    std::FILE* out = toStdout ? stdout : sys::Open(outName, "wb");
    if (toStdout) sys::SetBinary(stdout);
    bool ok = in && out != nullptr && CopyAll(in.get(), out) && std::fflush(out) == 0;
    if (!ok) error = sys::LastError();
    if (out != nullptr && !toStdout && std::fclose(out) != 0 && ok) {
        error = sys::LastError();
        ok = false;
    }
    return ok;
}

// What went wrong with one file, naming the file it concerns.
struct Failure {
    std::string name, reason;
};

struct Outcome {
    std::optional<uint64_t> changed;
    uint64_t samples = 0;
    bool literal = true;
    std::string forStdout;  // for standard output: the finished result, for the caller to write out
};

// `toStdout` is known before standard output is held back, which hides what it is.
std::optional<Failure> DistortFile(const std::string& inName, const std::string& outName, bool toStdout,
                                   const Options& options, Progress* progress, Outcome& outcome) {
    // However it ends, the file counts as done for the progress bar.
    struct Done {
        Progress* progress;
        std::string path;  // the output being written, once there is one
        uint64_t bytes;
        ~Done() {
            if (progress != nullptr) progress->Finished(path, bytes);
        }
    } done{progress, "", inName == "-" ? 0 : FileSize(inName)};
    std::string error;
    Input input;
    if (!OpenInput(inName, input, error)) return Failure{inName, error};
    const Kind outKind = toStdout ? Kind::Other : KindOf(outName);
    if (outKind == Kind::Directory) return Failure{outName, "is a directory"};
    if (outKind == Kind::Regular && SameFile(input.path, outName)) return Failure{outName, "is the input too; choose another output"};
    if (outKind == Kind::Regular && !options.replace) return Failure{outName, "exists; -y replaces it"};

    File in = OpenFile(input.path, "rb");
    if (!in) return Failure{inName, sys::LastError()};
    const auto layout = ReadLayout(in.get(), FileSize(input.path));
    if (!layout) return Failure{inName, "reading failed: " + sys::LastError()};
    const uint64_t even = layout->dataSize - layout->dataSize % 2;
    const bool literal = outcome.literal = options.raw || layout->IsLibraryLayout();
    if (!options.raw && !layout->isWave) return Failure{inName, "not a WAV file; --raw clips its bytes as 16-bit samples anyway"};
    if (!options.raw && !layout->IsPcm16())
        return Failure{inName, layout->FormatName() + ", not 16-bit PCM; --raw clips its bytes as 16-bit samples anyway"};

    Samples samples{input.path, 44, layout->fileSize > 44 ? layout->fileSize - 44 : 0};
    Temporary dataCopy;
    if (!literal) {
        if (!CopyDataChunk(in.get(), *layout, even, dataCopy, error)) return Failure{inName, "cannot copy its samples: " + error};
        samples = {dataCopy.Path(), 44, even};
    }
    outcome.samples = samples.bytes / 2;

    // The result reaches OUT only once it is whole: a file is replaced in one
    // step, anything else (standard output, a FIFO, a device) is written once.
    const bool replaceFile = outKind == Kind::Regular || outKind == Kind::Missing;
    const std::string target = outKind == Kind::Regular ? Resolved(outName) : outName;
    Temporary clipped;
    if (!clipped.Create(replaceFile ? target : InTemporaryFolder(), error)) return Failure{outName, "cannot be written: " + error};
    if (progress != nullptr) progress->Watch(done.path = clipped.Path());

    // The clip report counts from the input alone, while the pass runs.
    auto count = std::async(std::launch::async, [&samples, &options] {
        File file = OpenFile(samples.path, "rb");
        return file ? CountClipped(file.get(), samples.offset, samples.bytes, static_cast<int32_t>(options.threshold))
                    : std::nullopt;
    });
    const int32_t status = WAVDistortion(ToUtf16(samples.path).c_str(), ToUtf16(clipped.Path()).c_str(),
                                         static_cast<int32_t>(options.threshold));
    outcome.changed = count.get();
    if (status != StatusSuccess)
        return Failure{inName, "distortion into " + outName + " failed (" + std::to_string(status) + ": " +
                                   DescribeStatus(status) + ")"};

    Temporary whole;
    std::string result = clipped.Path();
    if (!literal) {
        if (!whole.Create(replaceFile ? target : InTemporaryFolder(), error) ||
            !Reassemble(in.get(), *layout, even, clipped.Path(), whole.Path(), error))
            return Failure{outName, "cannot be written: " + error};
        result = whole.Path();
    }
    if (replaceFile) {
        if (!sys::ReplaceWith(result, target, error)) return Failure{outName, "cannot be written: " + error};
        (literal ? clipped : whole).Keep();
    } else if (toStdout) {
        outcome.forStdout = result;
        (literal ? clipped : whole).Keep();
    } else if (!Stream(result, outName, false, error)) {
        return Failure{outName, "writing the output failed: " + error};
    }
    return std::nullopt;
}

std::string ClipReport(const Outcome& outcome) {
    if (!outcome.changed) return {};
    return std::to_string(*outcome.changed) + " of " + std::to_string(outcome.samples) + " samples clipped" +
           (outcome.literal ? "" : " (the data chunk's; every other chunk kept as it was)");
}

int DistortOne(const Options& options) {
    // A long job shows its progress, driven by the growth of what the library writes.
    const uint64_t size = options.in == "-" ? 0 : FileSize(options.in);
    std::optional<Progress> progress;
    if (size > LargeFileBytes) progress.emplace(size, 1);
    Outcome outcome;
    const bool toStdout = sys::IsStandardOutput(options.out);
    sys::StdoutCapture capture;  // the library's line, shown once all is done
    const auto failure =
        DistortFile(options.in, options.out, toStdout, options, progress ? &*progress : nullptr, outcome);
    const std::string said = capture.Release();
    progress.reset();
    Temporary result;
    result.Adopt(outcome.forStdout);
    std::string error;
    if (!failure && toStdout && !Stream(result.Path(), options.out, true, error))
        return Fail(options.out, "writing the output failed: " + error);
    if (failure) return Fail(failure->name, failure->reason);
    std::fputs(said.c_str(), toStdout ? stderr : stdout);
    std::fflush(stdout);
    if (outcome.changed) std::fprintf(stderr, "wavfx: %s\n", ClipReport(outcome).c_str());
    return 0;
}

// Every input into `dir` under its own name, `jobs` at a time; one failure
// does not stop the others.
int DistortMany(const Options& options, const std::vector<std::string>& inputs, const std::string& dir, long long jobs) {
    std::error_code error;
    const auto folder = std::filesystem::u8path(dir);
    std::filesystem::create_directories(folder, error);
    if (KindOf(dir) != Kind::Directory) return Fail(dir, error ? error.message() : "is not a folder");
    uint64_t total = 0;
    for (const std::string& in : inputs) total += FileSize(in);
    std::vector<std::string> outputs;
    std::set<std::string> taken;
    for (const std::string& in : inputs) {
        const std::string name = std::filesystem::u8path(in).filename().u8string();
        outputs.push_back(taken.insert(name).second ? (folder / std::filesystem::u8path(name)).u8string() : "");
    }

    std::optional<Progress> bar;
    bar.emplace(total, static_cast<int>(inputs.size()));
    Progress& progress = *bar;
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::size_t failed = 0;
    uint64_t changed = 0, samples = 0;
    auto work = [&] {
        for (std::size_t i; (i = next++) < inputs.size();) {
            Outcome outcome;
            const auto failure = outputs[i].empty()
                                     ? std::optional<Failure>(Failure{inputs[i], "another input has the same name"})
                                     : DistortFile(inputs[i], outputs[i], false, options, &progress, outcome);
            std::lock_guard<std::mutex> held(lock);
            if (failure) {
                ++failed;
                progress.Message("wavfx: " + Printable(failure->name) + ": " + Printable(failure->reason));
            }
            changed += outcome.changed.value_or(0);
            samples += failure ? 0 : outcome.samples;
        }
    };
    sys::StdoutCapture capture;  // the library's lines, one per file, shown after the work
    {
        std::vector<std::thread> workers;
        for (long long j = 0; j < std::min<long long>(jobs, static_cast<long long>(inputs.size())); ++j)
            workers.emplace_back(work);
        for (auto& worker : workers) worker.join();
    }
    const std::string said = capture.Release();
    bar.reset();
    std::fputs(said.c_str(), stdout);
    std::fflush(stdout);
    std::fprintf(stderr, "wavfx: %zu of %zu file(s) distorted into %s%s; %llu of %llu samples clipped\n",
                 inputs.size() - failed, inputs.size(), Printable(dir).c_str(),
                 failed ? (", " + std::to_string(failed) + " failed").c_str() : "",
                 static_cast<unsigned long long>(changed), static_cast<unsigned long long>(samples));
    return failed == 0 ? 0 : 1;
}

}  // namespace

bool WantsHelp(const Args& args) {
    for (const auto& arg : args)
        if (arg == "--help" || arg == "-h") return true;
    return false;
}

int RunDistort(const Args& args) {
    const std::string synopsis =
        "distort IN OUT THRESHOLD [-y] [--raw]\n"
        "       wavfx distort -t THRESHOLD IN... -o DIR [-j N] [-y] [--raw]";
    if (WantsHelp(args)) {
        std::printf(
            "usage: wavfx %s\n\n"
            "Hard-clips the 16-bit PCM samples of IN into [-THRESHOLD, THRESHOLD] (0..32767) and writes\n"
            "OUT. Only the data chunk's samples change; every other byte of IN is kept, whatever its\n"
            "chunk layout. IN or OUT may be - (standard input or output); pipes and FIFOs work too.\n"
            "The second form writes every IN into DIR under its own name, N at a time (default: one per\n"
            "core); one failure does not stop the others, and the exit status is 0 only when all worked.\n"
            "Long work shows a progress bar on a terminal.\n\n"
            "  -y      replace an output that exists (without -y an existing file is never touched)\n"
            "  --raw   the library's literal pass: copy IN's first 44 bytes and clip every byte pair\n"
            "          after them, whatever the file holds; THRESHOLD's low 16 bits are taken as a\n"
            "          signed value, so any 32-bit number is accepted\n",
            synopsis.c_str());
        return 0;
    }
    Options options;
    std::vector<std::string> positional;
    std::string dir, threshold;
    long long jobs = static_cast<long long>(std::max(1u, std::thread::hardware_concurrency()));
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "-y") {
            options.replace = true;
        } else if (arg == "--raw") {
            options.raw = true;
        } else if (arg == "-o" && hasValue) {
            dir = args[++i];
        } else if (arg == "-t" && hasValue) {
            threshold = args[++i];
        } else if (arg == "-j" && hasValue) {
            if (!ParseInt(args[++i], jobs) || jobs < 1) return Usage(synopsis);
        } else if (arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9')) {
            return Usage(synopsis);
        } else {
            positional.push_back(arg);
        }
    }
    const bool many = !dir.empty();
    if (!many && threshold.empty() && positional.size() == 3) {
        threshold = positional.back();
        positional.pop_back();
    }
    if ((many ? positional.empty() || threshold.empty() : positional.size() != 2) ||
        !ParseInt(threshold, options.threshold) || options.threshold < INT32_MIN || options.threshold > INT32_MAX)
        return Usage(synopsis + " (THRESHOLD a whole number)");
    if (!options.raw && (options.threshold < 0 || options.threshold > 32767)) {
        std::fprintf(stderr, "wavfx: THRESHOLD %lld is outside 0..32767; --raw hands any value to the library as it is\n",
                     options.threshold);
        return 2;
    }
    if (many) return DistortMany(options, positional, dir, jobs);
    options.in = positional[0];
    options.out = positional[1];
    return DistortOne(options);
}

}  // namespace wavfx
