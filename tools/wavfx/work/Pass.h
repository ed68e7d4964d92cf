// One pass of the library over an input's 16-bit samples into an output,
// every other byte of the input kept as it was, with no copy of the samples
// on disk. The library reads the input file itself, or a pipe wavfx feeds
// from a stream; it writes the output's temporary itself, or a pipe wavfx
// splices into the output. Which, is decided once, here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Output.h"
#include "Progress.h"
#include "RiffReader.h"
#include "SampleFormat.h"
#include "Source.h"

namespace wavfx {

struct PassResult {
    std::optional<std::uint64_t> changed;  // samples the clip changed; nullopt: not counted
    std::uint64_t samples = 0;
    bool failed = false;
    std::string failedName, reason;
};

// `layout` null: the library's literal pass over all of the input (--raw).
// `output` has begun; committing it is the caller's.
PassResult RunPass(Source& input, const velorik::WavLayout* layout, Output& output, std::int32_t threshold,
                   Progress* progress);
// The same for samples of another format, clipped by wavfx at their own
// resolution as they stream through, in runs; every other byte kept.
PassResult RunOwnPass(Source& input, const velorik::WavLayout& layout, const SampleFormat& format,
                      const Ceiling& ceiling, Output& output, Progress* progress);

}  // namespace wavfx
