// Distorting files: one input into one output by the output rule, or a batch
// of inputs into a folder by a pool of workers, one failure not stopping the rest.
#pragma once

#include <string>
#include <vector>

#include "format/SampleFormat.h"
#include "io/Output.h"

namespace wavfx {

struct DistortOptions {
    std::string in, out;
    long long raw32 = 0;  // --raw: any 32-bit number, as the library takes it
    Threshold threshold;
    Existing existing = Existing::Refuse;
    bool raw = false;
    unsigned oversample = 1;  // 1: the plain clip
};

// `options.in` into `options.out`; returns the exit status.
int DistortOne(const DistortOptions& options);
// Every input into `dir` under its own name, `jobs` at a time.
int DistortMany(const DistortOptions& options, const std::vector<std::string>& inputs, const std::string& dir,
                long long jobs);

}  // namespace wavfx
