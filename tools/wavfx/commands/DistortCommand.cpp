#include <algorithm>
#include <cstdint>
#include <thread>

#include "cli/Values.h"
#include "commands/Commands.h"
#include "format/Oversampling.h"
#include "work/Distort.h"

namespace wavfx {

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
    if (call.Has("oversample")) {
        long long factor = 0;
        if (!ParseInt(call.Value("oversample"), factor) || !IsOversamplingFactor(factor))
            return call.Usage("--oversample takes 1, 2, 4, 8, 16 or 32, not '" + call.Value("oversample") + "'");
        if (options.raw && factor > 1) return call.Usage("--raw is the library's literal pass: it does not oversample");
        options.oversample = static_cast<unsigned>(factor);
    }
    std::string error;
    if (options.raw) {
        if (!ParseInt(threshold, options.raw32) || options.raw32 < INT32_MIN || options.raw32 > INT32_MAX)
            return call.Usage("THRESHOLD '" + threshold + "' is not a whole 32-bit number, as --raw takes it");
    } else if (!ParseThreshold(threshold, options.threshold, error)) {
        return call.Usage(error);
    }
    if (many) return DistortMany(options, inputs, call.Value("output"), jobs);
    options.in = inputs[0];
    options.out = inputs[1];
    return DistortOne(options);
}

}  // namespace wavfx
