// Distorting files: one input into one output by the output rule, or a batch
// of inputs into a folder by a pool of workers, one failure not stopping the rest.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "format/Oversampling.h"
#include "format/SampleFormat.h"
#include "io/Output.h"
#include "report/Progress.h"
#include "system/Failure.h"

namespace wavfx {

struct DistortOptions {
    std::string in, out;
    long long raw32 = 0;  // --raw: any 32-bit number, as the library takes it
    Threshold threshold;
    Existing existing = Existing::Refuse;
    bool raw = false;
    Oversampling oversampling;  // factor 1: the plain clip
};

// What became of one file.
struct Distorted {
    std::optional<std::uint64_t> changed;  // samples the clip changed, when counted
    std::uint64_t samples = 0;
    bool literal = true;  // the whole file went through the clip, as the library's layout has it
    Status failure;
};

// What the library printed, held back until the work was done (its success lines).
struct HeldBack {
    std::string said;
    Status failure;  // standard output could not be held back or given back
};

// `options.in` into `options.out`, the library's line held back meanwhile.
Distorted DistortOne(const DistortOptions& options, Progress* progress, HeldBack& held);

// Every input into `dir` under its own name, `jobs` at a time; `done` hears of
// each file as it ends, one at a time. A failure of the folder itself is returned.
Status DistortMany(const DistortOptions& options, const std::vector<std::string>& inputs, const std::string& dir,
                   long long jobs, Progress& progress,
                   const std::function<void(std::size_t input, const std::string& out, const Distorted&)>& done,
                   HeldBack& held);
// The outputs a batch writes, one per input ("" for a name another input took first).
std::vector<std::string> BatchOutputs(const std::vector<std::string>& inputs, const std::string& dir);

// The words of the clip report: "N of M samples clipped...".
std::string ClipReport(const Distorted& outcome, const Oversampling& oversampling);
// What the report counts: "samples clipped", or changed at N x the rate.
std::string Clipped(const Oversampling& oversampling);

}  // namespace wavfx
