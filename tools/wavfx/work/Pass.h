// One pass of the library over an input's 16-bit samples into an output,
// every other byte of the input kept as it was, with no copy of the samples
// on disk. The library reads the input file itself, or a pipe wavfx feeds
// from a stream; it writes the output's temporary itself, or a pipe wavfx
// splices into the output. Which, is decided once, here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "format/Oversampling.h"
#include "format/SampleFormat.h"
#include "io/Output.h"
#include "io/Source.h"
#include "report/Progress.h"
#include "system/Failure.h"
#include "riff/RiffReader.h"
#include "riff/PcmHeader.h"

namespace wavfx {

// Where the samples are, and how they reach the library and leave it.
struct PassPlan {
    bool raw = false;
    std::uint64_t dataOffset = 0;              // of the samples, in the input and the output alike
    std::optional<std::uint64_t> sampleBytes;  // how many (even); nullopt: to the end of the input
    bool direct = false;                       // the library reads the input file by name
    bool patch = false;                        // the library writes the output's temporary itself

    // RIFF chunks start at even offsets, so over a whole file the library's
    // byte pairs are the data chunk's samples; fed through a pipe, the
    // samples follow a header block of its own.
    std::uint64_t LibraryStart() const { return raw ? 0 : direct ? dataOffset : velorik::PcmHeaderBytes; }
    std::uint64_t End(std::uint64_t size) const { return sampleBytes ? dataOffset + *sampleBytes : size; }
};
// `layout` null: the literal pass (--raw). The library reads the input by name
// when it is a file it can open whose samples leave room for its header block,
// and then writes the output's temporary itself when it can open that too.
PassPlan PlanPass(const velorik::WavLayout* layout, bool inputIsFile, bool libraryOpensInput, bool outputIsFile,
                  bool libraryOpensTemporary);

struct PassResult {
    std::optional<std::uint64_t> changed;  // samples the clip changed; nullopt: not counted
    std::uint64_t samples = 0;
    Status failure;
};

// `layout` null: the library's literal pass over all of the input (--raw).
// `output` has begun; committing it is the caller's.
PassResult RunPass(Source& input, const velorik::WavLayout* layout, Output& output, std::int32_t threshold,
                   Progress* progress);
// The same for samples of another format, or of any oversampled, clipped by wavfx
// at their own resolution as they stream through, in runs; every other byte kept.
PassResult RunOwnPass(Source& input, const velorik::WavLayout& layout, const SampleFormat& format,
                      const Ceiling& ceiling, const Oversampling& oversampling, Output& output, Progress* progress);

}  // namespace wavfx
