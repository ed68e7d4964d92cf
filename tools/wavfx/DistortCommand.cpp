#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "Commands.h"
#include "Files.h"
#include "Output.h"
#include "Pass.h"
#include "Progress.h"
#include "RiffReader.h"
#include "Source.h"
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

// What went wrong with one file, naming the file it concerns.
struct Failure {
    std::string name, reason;
};

struct Outcome {
    std::optional<uint64_t> changed;
    uint64_t samples = 0;
    bool literal = true;
};

// Into an output the caller opened by the output rule.
std::optional<Failure> DistortFile(const std::string& inName, Output& output, const Options& options, Progress* progress,
                                   Outcome& outcome) {
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
    Source input;
    if (!input.Open(inName, error)) return Failure{inName, error};
    const std::string& outName = output.Name();
    std::optional<velorik::WavLayout> layout;
    if (!options.raw) {
        layout = velorik::ReadWavLayout(input);
        if (!layout) return Failure{inName, "reading failed: " + input.Error()};
        const std::string why = layout->WhyNotPcm16();
        if (!why.empty()) return Failure{inName, why + "; --raw clips its bytes as 16-bit samples anyway"};
    }
    outcome.literal = options.raw || layout->IsLibraryLayout();
    if (!output.Begin(error)) return Failure{outName, "cannot be written: " + error};
    if (output.IsFile()) done.path = output.Temporary();
    const PassResult pass =
        RunPass(input, layout ? &*layout : nullptr, output, static_cast<int32_t>(options.threshold), progress);
    if (pass.failed) return Failure{pass.failedName, pass.reason};
    outcome.changed = pass.changed;
    outcome.samples = pass.samples;
    if (!output.Commit(error)) return Failure{outName, "writing the output failed: " + error};
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
    // Before standard output is held back, which changes what /dev/stdout names.
    const bool toStdout = NamesStandardOutput(options.out);
    Output output;
    std::string error;
    if (!output.Open(options.out, options.replace, IdsOf({options.in}), error)) return Fail(options.out, error);
    sys::StdoutCapture capture;  // the library's line, shown once all is done
    const auto failure = DistortFile(options.in, output, options, progress ? &*progress : nullptr, outcome);
    const std::string said = capture.Release();
    progress.reset();
    if (failure) return Fail(failure->name, failure->reason);
    std::fputs(said.c_str(), toStdout ? stderr : stdout);
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
    const auto ids = IdsOf(inputs);

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
            Output output;
            std::string error;
            std::optional<Failure> failure;
            if (outputs[i].empty())
                failure = Failure{inputs[i], "another input has the same name"};
            else if (!output.Open(outputs[i], options.replace, ids, error))
                failure = Failure{outputs[i], error};
            else
                failure = DistortFile(inputs[i], output, options, &progress, outcome);
            std::lock_guard<std::mutex> held(lock);
            if (failure) {
                ++failed;
                progress.Message("wavfx: " + Printable(failure->name) + ": " + Printable(failure->reason));
                continue;
            }
            changed += outcome.changed.value_or(0);
            samples += outcome.samples;
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
    std::fprintf(stderr, "wavfx: %zu of %zu file(s) distorted into %s%s; %llu of %llu samples clipped in them\n",
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
