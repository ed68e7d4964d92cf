#include "work/Distort.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "io/Files.h"
#include "io/Output.h"
#include "io/Source.h"
#include "riff/RiffReader.h"
#include "system/System.h"
#include "system/Threads.h"
#include "work/Pass.h"

namespace wavfx {

namespace {

// Into an output the caller opened by the output rule.
Status DistortFile(const std::string& inName, Output& output, const DistortOptions& options, Progress* progress,
                   Distorted& outcome) {
    // However it ends, the file counts as done for the progress bar.
    struct Done {
        Progress* progress;
        std::string path;  // the output being written, once there is one
        uint64_t bytes;
        ~Done() {
            if (progress != nullptr) progress->Finished(path, bytes);
        }
    } done{progress, "", inName == "-" ? 0 : FileSize(inName)};
    Source input;
    if (Status failure = input.Open(inName)) return failure;
    std::optional<velorik::WavLayout> layout;
    std::optional<SampleFormat> format;
    if (!options.raw) {
        layout = velorik::ReadWavLayout(input);
        if (!layout) return input.ReadFailed();
        std::string why;
        format = SampleFormatOf(*layout, why);
        if (!format) return Failure{Role::Input, inName, why + "; --raw clips its bytes as 16-bit samples anyway", ""};
    }
    outcome.literal = options.raw || layout->IsLibraryLayout();
    if (Status failure = output.Begin()) return failure;
    if (output.IsFile()) done.path = output.Temporary();
    // The library clips 16-bit samples plainly; wavfx clips the other formats, and oversamples.
    const Ceiling ceiling = CeilingFor(options.threshold, format ? format->coding : Coding::S16);
    PassResult pass =
        format && (format->coding != Coding::S16 || options.oversampling.factor > 1)
            ? RunOwnPass(input, *layout, *format, ceiling, options.oversampling, output, progress)
            : RunPass(input, layout ? &*layout : nullptr, output,
                      static_cast<int32_t>(options.raw ? options.raw32 : ceiling.limit), progress);
    if (pass.failure) return pass.failure;
    outcome.changed = pass.changed;
    outcome.samples = pass.samples;
    return output.Commit();
}

// Holds the library's lines back while `work` runs.
template <typename Work>
void HoldingBack(HeldBack& held, Work&& work) {
    sys::StdoutCapture capture;
    if (!capture.Holding()) {
        held.failure = SystemFailure(Role::Other, "standard output", "cannot hold back the library's line");
        return;
    }
    work();
    if (!capture.Release(held.said))
        held.failure = SystemFailure(Role::Other, "standard output", "the library's line was lost");
}

}  // namespace

std::string Clipped(const Oversampling& oversampling) {
    if (oversampling.factor == 1) return "samples clipped";
    return "samples changed by the clip at " + std::to_string(oversampling.factor) + " x the rate" +
           (oversampling.truePeak ? ", the true peak held" : "");
}

std::string ClipReport(const Distorted& outcome, const Oversampling& oversampling) {
    if (!outcome.changed) return {};
    return std::to_string(*outcome.changed) + " of " + std::to_string(outcome.samples) + " " + Clipped(oversampling) +
           (outcome.literal ? "" : " (the data chunk's; every other chunk kept as it was)");
}

Distorted DistortOne(const DistortOptions& options, Progress* progress, HeldBack& held) {
    Distorted outcome;
    Output output;
    if ((outcome.failure = output.Open(options.out, options.existing, IdsOf({options.in})))) return outcome;
    HoldingBack(held, [&] { outcome.failure = DistortFile(options.in, output, options, progress, outcome); });
    return outcome;
}

std::vector<std::string> BatchOutputs(const std::vector<std::string>& inputs, const std::string& dir) {
    const auto folder = std::filesystem::u8path(dir);
    std::vector<std::string> outputs;
    std::set<std::string> taken;
    for (const std::string& in : inputs) {
        const std::string name = std::filesystem::u8path(in).filename().u8string();
        outputs.push_back(taken.insert(name).second ? (folder / std::filesystem::u8path(name)).u8string() : "");
    }
    return outputs;
}

Status DistortMany(const DistortOptions& options, const std::vector<std::string>& inputs, const std::string& dir,
                   long long jobs, Progress& progress,
                   const std::function<void(std::size_t input, const std::string& out, const Distorted&)>& done,
                   HeldBack& held) {
    const bool made = sys::MakeFolders(dir);
    const Failure notMade = SystemFailure(Role::Output, dir, "");
    const Kind kind = KindOf(dir);
    if (kind != Kind::Directory) {
        if (!made) return notMade;
        return kind == Kind::Unknown ? SystemFailure(Role::Output, dir, "") : Failure{Role::Output, dir, "is not a folder", ""};
    }
    const std::vector<std::string> outputs = BatchOutputs(inputs, dir);
    const auto ids = IdsOf(inputs);
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    auto work = [&] {
        for (std::size_t i; (i = next++) < inputs.size();) {
            Distorted outcome;
            Output output;
            // Its own failure, before an output named after it is looked at.
            if (KindOf(inputs[i]) == Kind::Directory)
                outcome.failure = Failure{Role::Input, inputs[i], "is a directory", ""};
            else if (outputs[i].empty())
                outcome.failure = Failure{Role::Input, inputs[i], "another input has the same name", ""};
            else if (!(outcome.failure = output.Open(outputs[i], options.existing, ids)))
                outcome.failure = DistortFile(inputs[i], output, options, &progress, outcome);
            std::lock_guard<std::mutex> held(lock);
            done(i, outputs[i], outcome);
        }
    };
    HoldingBack(held, [&] {
        // Fewer workers where no more threads can start; this one, where none can.
        std::vector<std::thread> workers(static_cast<std::size_t>(std::min<long long>(jobs, static_cast<long long>(inputs.size()))));
        std::size_t running = 0;
        while (running < workers.size() && sys::StartThread(workers[running], work)) ++running;
        if (running == 0) work();
        for (std::size_t j = 0; j < running; ++j) workers[j].join();
    });
    return std::nullopt;
}

}  // namespace wavfx
