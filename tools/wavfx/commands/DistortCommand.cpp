#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "cli/Values.h"
#include "commands/Commands.h"
#include "format/Oversampling.h"
#include "io/Files.h"
#include "report/Text.h"
#include "system/System.h"
#include "work/Distort.h"

namespace wavfx {

namespace {

// From this size on, a single file's distortion shows a progress bar.
constexpr uint64_t LargeFileBytes = 100'000'000;

int DistortOneFile(const DistortOptions& options) {
    // A long job shows its progress, driven by the growth of what the library writes.
    const uint64_t size = options.in == "-" ? 0 : FileSize(options.in);
    std::optional<Progress> progress;
    if (size > LargeFileBytes) progress.emplace(size, 1);
    // Before standard output is held back, which changes what /dev/stdout names.
    const bool toStdout = NamesStandardOutput(options.out);
    HeldBack held;
    const Distorted outcome = DistortOne(options, progress ? &*progress : nullptr, held);
    progress.reset();
    if (outcome.failure) return Report(*outcome.failure);
    if (held.failure) return Report(*held.failure);
    std::fputs(held.said.c_str(), toStdout ? stderr : sys::Out());
    if (outcome.changed) std::fprintf(stderr, "wavfx: %s\n", ClipReport(outcome, options.oversampling).c_str());
    return 0;
}

int DistortBatch(const DistortOptions& options, const std::vector<std::string>& inputs, const std::string& dir,
                 long long jobs) {
    uint64_t total = 0;
    for (const std::string& in : inputs) total += FileSize(in);
    std::optional<Progress> bar;
    bar.emplace(total, static_cast<int>(inputs.size()));
    std::size_t failed = 0, skipped = 0;
    uint64_t changed = 0, samples = 0;
    const auto done = [&](std::size_t, const std::string& out, const Distorted& outcome) {
        if (outcome.failure && outcome.failure->skipped) {
            ++skipped;
            bar->Message("wavfx: " + Printable(out) + ": exists; skipped (-n)");
        } else if (outcome.failure) {
            ++failed;
            bar->Message("wavfx: " + Printable(outcome.failure->name) + ": " + Printable(outcome.failure->Message()));
            return;
        }
        changed += outcome.changed.value_or(0);
        samples += outcome.samples;
    };
    HeldBack held;
    const Status folder = DistortMany(options, inputs, dir, jobs, *bar, done, held);
    bar.reset();
    if (folder) return Report(*folder);
    std::fputs(held.said.c_str(), sys::Out());
    std::string others;
    if (skipped) others += ", " + std::to_string(skipped) + " skipped (they exist)";
    if (failed) others += ", " + std::to_string(failed) + " failed";
    std::fprintf(stderr, "wavfx: %zu of %zu file(s) distorted into %s%s; %llu of %llu %s in them\n",
                 inputs.size() - failed - skipped, inputs.size(), Printable(dir).c_str(), others.c_str(),
                 static_cast<unsigned long long>(changed), static_cast<unsigned long long>(samples),
                 Clipped(options.oversampling).c_str());
    if (held.failure) return Report(*held.failure);
    return failed == 0 ? 0 : 1;
}

}  // namespace

int RunDistort(const Invocation& call) {
    DistortOptions options;
    options.existing = call.WhenExists();
    options.raw = call.Has("raw");
    std::vector<std::string> inputs = call.Operands();
    std::string threshold = call.Value("threshold");
    long long jobs = static_cast<long long>(std::max(1u, std::thread::hardware_concurrency()));
    if (call.Has("jobs") && (!ParseInt(call.Value("jobs"), jobs) || jobs < 1))
        return call.Usage("-j takes a whole number of files, 1 or more");
    const bool many = call.Has("output");
    if (!many && !call.Has("threshold") && inputs.size() == 3) {
        threshold = inputs.back();
        inputs.pop_back();
    }
    if (many ? inputs.empty() : inputs.size() != 2) return call.Usage(many ? "no IN to distort" : "IN and OUT expected");
    if (threshold.empty()) return call.Usage("no THRESHOLD");
    Oversampling& oversampling = options.oversampling;
    oversampling.truePeak = call.Has("true-peak");
    if (call.Has("oversample")) {
        long long factor = 0;
        if (!ParseInt(call.Value("oversample"), factor) || !IsOversamplingFactor(factor))
            return call.Usage("--oversample takes 1, 2, 4, 8, 16 or 32, not '" + call.Value("oversample") + "'");
        if (options.raw && factor > 1) return call.Usage("--raw is the library's literal pass: it does not oversample");
        if (oversampling.truePeak && factor == 1)
            return call.Usage("--true-peak holds the ceiling between the samples: it needs --oversample 2 or more");
        oversampling.factor = static_cast<unsigned>(factor);
        if (oversampling.truePeak) oversampling.factor = std::max(oversampling.factor, velorik::dsp::OversampledClip::TruePeakLeast);
    } else if (oversampling.truePeak) {
        oversampling.factor = velorik::dsp::OversampledClip::TruePeakLeast;
    }
    if (options.raw && oversampling.truePeak) return call.Usage("--raw is the library's literal pass: it holds no true peak");
    std::string error;
    if (options.raw) {
        if (!ParseInt(threshold, options.raw32) || options.raw32 < INT32_MIN || options.raw32 > INT32_MAX)
            return call.Usage("THRESHOLD '" + threshold + "' is not a whole 32-bit number, as --raw takes it");
    } else if (!ParseThreshold(threshold, options.threshold, error)) {
        return call.Usage(error);
    }
    if (many) return DistortBatch(options, inputs, call.Value("output"), jobs);
    options.in = inputs[0];
    options.out = inputs[1];
    return DistortOneFile(options);
}

}  // namespace wavfx
