#include "work/Distort.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "io/Files.h"
#include "io/Output.h"
#include "io/Source.h"
#include "report/Progress.h"
#include "report/Text.h"
#include "system/System.h"
#include "system/Threads.h"
#include "riff/RiffReader.h"
#include "work/Pass.h"

namespace wavfx {

namespace {

// From this size on, a single file's distortion shows a progress bar.
constexpr uint64_t LargeFileBytes = 100'000'000;


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
std::optional<Failure> DistortFile(const std::string& inName, Output& output, const DistortOptions& options, Progress* progress,
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
    std::optional<SampleFormat> format;
    if (!options.raw) {
        layout = velorik::ReadWavLayout(input);
        if (!layout) return Failure{inName, "reading failed: " + input.Error()};
        std::string why;
        format = SampleFormatOf(*layout, why);
        if (!format) return Failure{inName, why + "; --raw clips its bytes as 16-bit samples anyway"};
    }
    outcome.literal = options.raw || layout->IsLibraryLayout();
    if (!output.Begin(error)) return Failure{outName, "cannot be written: " + error};
    if (output.IsFile()) done.path = output.Temporary();
    // The library clips 16-bit samples plainly; wavfx clips the other formats, and oversamples.
    const Ceiling ceiling = CeilingFor(options.threshold, format ? format->coding : Coding::S16);
    const PassResult pass =
        format && (format->coding != Coding::S16 || options.oversample > 1)
            ? RunOwnPass(input, *layout, *format, ceiling, options.oversample, output, progress)
            : RunPass(input, layout ? &*layout : nullptr, output,
                      static_cast<int32_t>(options.raw ? options.raw32 : ceiling.limit), progress);
    if (pass.failed) return Failure{pass.failedName, pass.reason};
    outcome.changed = pass.changed;
    outcome.samples = pass.samples;
    if (!output.Commit(error))
        return Failure{outName, output.Appeared() ? error : "writing the output failed: " + error};
    return std::nullopt;
}

// An oversampled clip moves the samples around each clip a little too: they count as changed.
std::string Clipped(unsigned oversample) {
    return oversample > 1 ? "samples changed by the clip at " + std::to_string(oversample) + " x the rate" : "samples clipped";
}

std::string ClipReport(const Outcome& outcome, unsigned oversample) {
    if (!outcome.changed) return {};
    return std::to_string(*outcome.changed) + " of " + std::to_string(outcome.samples) + " " + Clipped(oversample) +
           (outcome.literal ? "" : " (the data chunk's; every other chunk kept as it was)");
}

}  // namespace

int DistortOne(const DistortOptions& options) {
    // A long job shows its progress, driven by the growth of what the library writes.
    const uint64_t size = options.in == "-" ? 0 : FileSize(options.in);
    std::optional<Progress> progress;
    if (size > LargeFileBytes) progress.emplace(size, 1);
    Outcome outcome;
    // Before standard output is held back, which changes what /dev/stdout names.
    const bool toStdout = NamesStandardOutput(options.out);
    Output output;
    std::string error;
    if (!output.Open(options.out, options.existing, IdsOf({options.in}), error))
        return output.Skipped() ? Skipped(options.out) : Fail(options.out, error);
    sys::StdoutCapture capture;  // the library's line, shown once all is done
    const auto failure = DistortFile(options.in, output, options, progress ? &*progress : nullptr, outcome);
    const std::string said = capture.Release();
    progress.reset();
    if (failure) return output.Skipped() ? Skipped(options.out) : Fail(failure->name, failure->reason);
    std::fputs(said.c_str(), toStdout ? stderr : stdout);
    if (outcome.changed) std::fprintf(stderr, "wavfx: %s\n", ClipReport(outcome, options.oversample).c_str());
    return 0;
}

// Every input into `dir` under its own name, `jobs` at a time; one failure
// does not stop the others.
int DistortMany(const DistortOptions& options, const std::vector<std::string>& inputs, const std::string& dir, long long jobs) {
    std::error_code error;
    const auto folder = std::filesystem::u8path(dir);
    std::filesystem::create_directories(folder, error);
    std::string why;
    const Kind kind = KindOf(dir, why);
    if (kind != Kind::Directory)
        return Fail(dir, error ? error.message() : kind == Kind::Unknown ? why : "is not a folder");
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
    std::size_t failed = 0, skipped = 0;
    uint64_t changed = 0, samples = 0;
    auto work = [&] {
        for (std::size_t i; (i = next++) < inputs.size();) {
            Outcome outcome;
            Output output;
            std::string error;
            std::optional<Failure> failure;
            // Its own failure, before an output named after it is looked at.
            if (KindOf(inputs[i], error) == Kind::Directory)
                failure = Failure{inputs[i], "is a directory"};
            else if (outputs[i].empty())
                failure = Failure{inputs[i], "another input has the same name"};
            else if (!output.Open(outputs[i], options.existing, ids, error))
                failure = Failure{outputs[i], error};
            else
                failure = DistortFile(inputs[i], output, options, &progress, outcome);
            std::lock_guard<std::mutex> held(lock);
            if (output.Skipped()) {
                ++skipped;
                progress.Message("wavfx: " + Printable(outputs[i]) + ": exists; skipped (-n)");
            } else if (failure) {
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
        // Fewer workers where no more threads can start; this one, where none can.
        std::vector<std::thread> workers(static_cast<std::size_t>(std::min<long long>(jobs, static_cast<long long>(inputs.size()))));
        std::size_t running = 0;
        for (std::string error; running < workers.size() && sys::StartThread(workers[running], work, error);) ++running;
        if (running == 0) work();
        for (std::size_t j = 0; j < running; ++j) workers[j].join();
    }
    const std::string said = capture.Release();
    bar.reset();
    std::fputs(said.c_str(), stdout);
    std::string others;
    if (skipped) others += ", " + std::to_string(skipped) + " skipped (they exist)";
    if (failed) others += ", " + std::to_string(failed) + " failed";
    std::fprintf(stderr, "wavfx: %zu of %zu file(s) distorted into %s%s; %llu of %llu %s in them\n",
                 inputs.size() - failed - skipped, inputs.size(), Printable(dir).c_str(), others.c_str(),
                 static_cast<unsigned long long>(changed), static_cast<unsigned long long>(samples),
                 Clipped(options.oversample).c_str());
    return failed == 0 ? 0 : 1;
}

}  // namespace wavfx
