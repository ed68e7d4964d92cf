#include "work/Pass.h"

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

#include "dsp/HardClip.h"
#include "format/Oversampling.h"
#include "format/Samples.h"
#include "system/System.h"
#include "system/Threads.h"
#include "riff/PcmHeader.h"
#include "work/Library.h"

namespace wavfx {

namespace {

constexpr std::size_t RunBytes = 1 << 16;
// wavfx's own pass reads and writes in larger runs: fewer calls, as a plain copy makes.
constexpr std::size_t OwnRunBytes = 256 << 10;
constexpr uint64_t HeaderBytes = velorik::PcmHeaderBytes;
// Reads of a pipe that keep failing are given up on after this many.
constexpr uint64_t MaxPipeFailures = 100;

PassPlan MakePlan(const Source& input, const velorik::WavLayout* layout, const Output& output) {
    return PlanPass(layout, input.IsFile(), sys::LibraryCanOpen(input.Name()), output.IsFile(),
                    output.IsFile() && sys::LibraryCanOpen(output.Temporary()));
}

PassResult Failed(const Failure& failure) { return {std::nullopt, 0, failure}; }

PassResult WriteFailed(const Output& output) { return Failed(output.Failed("writing the output failed")); }

// Where the clip report counts from: the samples, or in the literal pass all after the header block.
uint64_t CountFrom(const PassPlan& plan) { return plan.raw ? HeaderBytes : plan.dataOffset; }

// The clip report for an input the library reads by name, counted from that
// file on a thread of its own while the pass runs.
struct Counted {
    std::optional<uint64_t> changed;  // nullopt: the count failed, for `error`
    std::string error;
};

Status CountBeside(const Source& input, const PassPlan& plan, int32_t threshold, std::thread& counter, Counted& counted) {
    const uint64_t from = CountFrom(plan), end = plan.End(*input.Size());
    const bool started = sys::StartThread(counter, [&counted, path = input.Name(), from, end, threshold] {
        File file = OpenFile(path, "rb");
        if (!file) {
            counted = Counted{std::nullopt, sys::LastError()};
        } else {
            const auto changed = end > from ? CountClipped(file.get(), from, end - from, threshold) : 0;
            counted = Counted{changed, changed ? "" : sys::LastError()};
        }
    });
    return started ? Status() : SystemFailure(Role::Other, input.Name(), "cannot start a thread");
}

// A report counted beside the pass is part of its result: a count that failed fails the pass.
bool TakeCount(std::thread& counter, const Counted& counted, const Source& input, PassResult& result) {
    counter.join();
    result.changed = counted.changed;
    if (counted.changed) return true;
    result = Failed({Role::Input, input.Name(), "reading failed", counted.error});
    return false;
}

// A failed pass of the library that read the input by name and wrote only wavfx's
// pipe: the input is the one file it touched, so the failure is the input's.
PassResult LibraryFailedOnInput(const Source& input, const library::Result& status) {
    if (status.error.empty()) return Failed({Role::Input, input.Name(), "distortion failed (" + status.Why() + ")", ""});
    return Failed({Role::Input, input.Name(), status.OpenFailed() ? "cannot be read" : "reading failed", status.error});
}

// A failed pass of the library that read and wrote only wavfx's pipes: wavfx's own
// reads and writes went well, so it is the library's.
PassResult LibraryFailed(const Source& input, const library::Result& status) {
    return Failed({Role::Other, input.Name(), "distortion failed (" + status.Why() + ")", status.error});
}

uint64_t SamplesBetween(uint64_t from, uint64_t end) { return end > from ? (end - from) / 2 : 0; }

// Copies `size` bytes of the input from `offset` (all that is left, without a
// size) to `to`; names what failed.
bool CopyInput(Source& input, uint64_t offset, std::optional<uint64_t> size, std::FILE* to, PassResult& result,
               const Output& output) {
    std::vector<unsigned char> run(RunBytes);
    for (uint64_t left = size.value_or(UINT64_MAX); left > 0;) {
        const long long got = input.ReadAt(offset, run.data(), static_cast<std::size_t>(std::min<uint64_t>(left, RunBytes)));
        if (got < 0) {
            result = Failed(input.ReadFailed());
            return false;
        }
        if (got == 0) return true;
        if (std::fwrite(run.data(), 1, static_cast<std::size_t>(got), to) != static_cast<std::size_t>(got)) {
            result = WriteFailed(output);
            return false;
        }
        offset += static_cast<uint64_t>(got);
        left -= size ? static_cast<uint64_t>(got) : 0;
    }
    return true;
}

// What the feeding thread did.
struct Fed {
    uint64_t bytes = 0, changed = 0;
    int oddByte = -1;  // a last byte that is no whole sample, kept for the output
    std::string error;       // reading the input
    std::string writeError;  // writing the library's pipe, but for the library stopping (its status tells)

    // After a write to the library failed.
    void WriteFailed() {
        if (errno != EPIPE && writeError.empty()) writeError = sys::LastError();
    }
};

// Hands the library its input through `pipe`: a header block, then the
// samples as they are read, counting what the clip will change.
void Feed(Source& input, const PassPlan& plan, const velorik::WavLayout* layout, std::FILE* to, int16_t t, Fed& fed) {
    sys::WritesToClosedPipesFail();
    input.StopKeeping();
    if (!plan.raw) {
        // The library copies this block unread, and the splice passes over it.
        const auto header = velorik::PcmHeader(0, layout->sampleRate, layout->channels);
        if (std::fwrite(header.data(), 1, header.size(), to) != header.size()) return fed.WriteFailed();
    }
    std::vector<int16_t> run(RunBytes / 2);
    auto* bytes = reinterpret_cast<unsigned char*>(run.data());
    uint64_t at = plan.raw ? 0 : plan.dataOffset;
    for (uint64_t left = plan.sampleBytes.value_or(UINT64_MAX); left > 0;) {
        const long long got = input.ReadAt(at, bytes, static_cast<std::size_t>(std::min<uint64_t>(left, RunBytes)));
        if (got < 0) fed.error = input.Error();
        if (got <= 0) break;
        const auto n = static_cast<std::size_t>(got);
        // In the literal pass the first 44 bytes are no samples.
        const std::size_t skip = plan.raw && at < HeaderBytes ? static_cast<std::size_t>(std::min<uint64_t>(HeaderBytes - at, n)) : 0;
        fed.changed += velorik::CountClipChanges(run.data() + skip / 2, (n - skip) / 2, t);
        if (std::fwrite(bytes, 1, n, to) != n) return fed.WriteFailed();
        fed.bytes += n;
        at += n;
        left -= plan.sampleBytes ? n : 0;
        if (n % 2 == 1 && !plan.raw) fed.oddByte = bytes[n - 1];
    }
}

// Moves the samples of what the library writes into the output, and reads
// the rest of it to its end so that the library never waits on a full pipe.
void Splice(std::FILE* from, std::FILE* to, uint64_t skip, std::optional<uint64_t> take, const Output& output,
            Status& failure) {
    std::vector<char> run(RunBytes);
    const uint64_t end = take ? skip + *take : UINT64_MAX;
    // A read that fails loses bytes: the pass has failed, but the rest is still
    // taken, or the library would wait on a full pipe for ever.
    for (uint64_t at = 0, failures = 0; failures < MaxPipeFailures;) {
        const std::size_t got = std::fread(run.data(), 1, run.size(), from);
        const uint64_t low = std::max(at, skip), high = std::min(at + got, end);
        if (!failure && low < high &&
            std::fwrite(run.data() + (low - at), 1, static_cast<std::size_t>(high - low), to) != high - low)
            failure = output.Failed("writing the output failed");
        at += got;
        if (std::ferror(from)) {
            if (!failure) failure = output.Failed("reading what the library wrote failed");
            std::clearerr(from);
            ++failures;
        } else if (got == 0) {
            return;
        }
    }
}

// The library wrote the temporary over the whole input: only the bytes
// between its header block and the samples, and after them, are put back.
// The library touched two of the user's files, so a failure of its own says
// nothing of which: the caller runs the pass again with them apart.
PassResult Patched(Source& input, const PassPlan& plan, Output& output, int32_t threshold, bool& libraryFailed) {
    PassResult result;
    const uint64_t size = *input.Size(), end = plan.End(size);
    std::thread counter;
    Counted counted;
    if (const Status failure = CountBeside(input, plan, threshold, counter, counted)) return Failed(*failure);
    // Held open across the pass: what the library may open it by, and what is written after.
    File file = OpenFile(output.Temporary(), "r+b");
    const Failure notOpened = output.Failed("cannot be written");
    const library::Result status =
        file ? library::Distort(input.LibraryName(), sys::LibraryName(output.Temporary(), file.get()), threshold)
             : library::Result{};
    if (!TakeCount(counter, counted, input, result)) return result;
    if (!file) return Failed(notOpened);
    result.samples = SamplesBetween(CountFrom(plan), end);
    libraryFailed = !status.Ok();
    if (libraryFailed) return result;
    if (plan.raw) return result;
    // The library read to the end of the file as it found it: what was appended
    // after wavfx looked is no part of the input, clipped or not.
    if (!(sys::Seek(file.get(), HeaderBytes) &&
          CopyInput(input, HeaderBytes, plan.dataOffset - HeaderBytes, file.get(), result, output) &&
          sys::Seek(file.get(), end) && CopyInput(input, end, size - end, file.get(), result, output) &&
          sys::Cut(file.get(), size)))
        return result.failure ? result : WriteFailed(output);
    if (std::fclose(file.release()) != 0) return WriteFailed(output);
    return result;
}

// What comes before the samples, as it was (kept as read, for a stream).
bool WriteBefore(Source& input, const PassPlan& plan, std::FILE* sink, const Output& output, PassResult& result) {
    if (plan.raw) return true;
    if (input.IsFile()) return CopyInput(input, 0, plan.dataOffset, sink, result, output);
    const auto& kept = input.Kept();
    if (std::fwrite(kept.data(), 1, kept.size(), sink) == kept.size()) return true;
    result = WriteFailed(output);
    return false;
}

// What comes after the samples, as it was: a last odd byte the library left,
// then the rest of the file, or of the stream once its samples are read.
bool WriteAfter(Source& input, const PassPlan& plan, const Fed& fed, std::FILE* sink, const Output& output,
                PassResult& result) {
    if (plan.raw) return true;
    if (fed.oddByte >= 0 && std::fputc(fed.oddByte, sink) == EOF) {
        result = WriteFailed(output);
        return false;
    }
    if (input.IsFile()) {
        const uint64_t size = *input.Size(), after = plan.End(size);
        return CopyInput(input, after, size - after, sink, result, output);
    }
    return !plan.sampleBytes || CopyInput(input, input.Position(), std::nullopt, sink, result, output);
}

// Where the output's bytes go: its temporary (held open in `file`), or what is written through.
std::FILE* Sink(const Output& output, File& file) {
    if (!output.IsFile()) return output.Stream();
    file = OpenFile(output.Temporary(), "wb");
    return file.get();
}

// The library reads the input file or a pipe fed from it, and writes a pipe
// that is spliced into the output.
PassResult Piped(Source& input, const PassPlan& plan, const velorik::WavLayout* layout, Output& output, int32_t threshold) {
    PassResult result;
    File file{nullptr, std::fclose};
    std::FILE* sink = Sink(output, file);
    if (sink == nullptr) return Failed(output.Failed("cannot be written"));
    if (!WriteBefore(input, plan, sink, output, result)) return result;
    sys::LibraryPipe in, out;
    if ((!plan.direct && !in.Create(true)) || !out.Create(false))
        return Failed(output.Failed("cannot make a pipe for the library"));

    Fed fed;
    std::thread feeder, splicer, counter;
    Counted counted;
    Status spliceFailure, notStarted;
    const bool started =
        (plan.direct || sys::StartThread(feeder, [&] {
            Feed(input, plan, layout, in.Ours(), velorik::ThresholdFromArgument(threshold), fed);
            if (!fed.writeError.empty()) in.Abandon();
            if (!in.CloseOurs()) fed.WriteFailed();
        })) &&
        sys::StartThread(splicer, [&] {
            Splice(out.Ours(), sink, plan.LibraryStart(), plan.direct ? plan.sampleBytes : std::nullopt, output,
                   spliceFailure);
        }) &&
        (!plan.direct || !(notStarted = CountBeside(input, plan, threshold, counter, counted)));
    if (!started) {
        if (!notStarted) notStarted = SystemFailure(Role::Other, input.Name(), "cannot start a thread");
        // What did start sees the pipes' ends and finishes.
        in.LibraryDone();
        out.LibraryDone();
        for (std::thread* thread : {&feeder, &splicer, &counter})
            if (thread->joinable()) thread->join();
        return Failed(*notStarted);
    }
    const library::Result status = library::Distort(plan.direct ? input.LibraryName() : in.Name(), out.Name(), threshold);
    in.LibraryDone();
    out.LibraryDone();
    if (feeder.joinable()) feeder.join();
    splicer.join();
    if (plan.direct) {
        if (!TakeCount(counter, counted, input, result)) return result;
        result.samples = SamplesBetween(CountFrom(plan), plan.End(*input.Size()));
    } else {
        result.changed = fed.changed;
        result.samples = SamplesBetween(plan.raw ? std::min(fed.bytes, HeaderBytes) : 0, fed.bytes);
    }
    if (spliceFailure) return Failed(*spliceFailure);
    if (!fed.error.empty()) return Failed({Role::Input, input.Name(), "reading failed", fed.error});
    if (!fed.writeError.empty())
        return Failed({Role::Other, input.Name(), "handing the samples to the library failed", fed.writeError});
    if (!status.Ok()) return plan.direct ? LibraryFailedOnInput(input, status) : LibraryFailed(input, status);
    if (!WriteAfter(input, plan, fed, sink, output, result)) return result;
    if (file && std::fclose(file.release()) != 0) return WriteFailed(output);
    return result;
}

// The input's samples through `sink`, clipped on the way as `oversampling` says;
// a last partial sample as it is.
bool ClipThrough(Source& input, const PassPlan& plan, const SampleFormat& format, const Ceiling& ceiling,
                 const Oversampling& oversampling, std::FILE* sink, const Output& output, PassResult& result) {
    std::vector<unsigned char> run(OwnRunBytes - OwnRunBytes % format.bytes), ready;
    std::optional<OversampledClipper> clipper;
    if (oversampling.factor > 1) clipper.emplace(format, ceiling, oversampling);
    // What the clipper hands back, a block behind what it was given.
    auto put = [&](const unsigned char* bytes, std::size_t n) {
        if (n == 0 || std::fwrite(bytes, 1, n, sink) == n) return true;  // nothing ready may be no buffer at all
        result = WriteFailed(output);
        return false;
    };
    uint64_t at = plan.dataOffset;
    result.changed = 0;
    for (uint64_t left = plan.sampleBytes.value_or(UINT64_MAX); left > 0;) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, run.size()));
        const long long got = input.ReadAt(at, run.data(), want);
        if (got < 0) {
            result = Failed(input.ReadFailed());
            return false;
        }
        if (got == 0) break;
        const auto n = static_cast<std::size_t>(got);
        result.samples += n / format.bytes;
        if (clipper) {
            clipper->Push(run.data(), n, ready);
            if (!put(ready.data(), ready.size())) return false;
            ready.clear();
        } else {
            *result.changed += ClipSamples(format.coding, run.data(), n / format.bytes, ceiling);
            if (!put(run.data(), n)) return false;
        }
        at += n;
        left -= plan.sampleBytes ? n : 0;
    }
    if (!clipper) return true;
    clipper->Finish(ready);
    result.changed = clipper->Changed();
    return put(ready.data(), ready.size());
}

}  // namespace

PassPlan PlanPass(const velorik::WavLayout* layout, bool inputIsFile, bool libraryOpensInput, bool outputIsFile,
                  bool libraryOpensTemporary) {
    PassPlan plan;
    plan.raw = layout == nullptr;
    if (!plan.raw) {
        plan.dataOffset = layout->dataOffset;
        if (layout->sized || !layout->dataToEnd) plan.sampleBytes = layout->dataSize - layout->dataSize % 2;
    }
    plan.direct = inputIsFile && (plan.raw || plan.dataOffset >= HeaderBytes) && libraryOpensInput;
    plan.patch = plan.direct && outputIsFile && libraryOpensTemporary;
    return plan;
}

PassResult RunOwnPass(Source& input, const velorik::WavLayout& layout, const SampleFormat& format,
                      const Ceiling& ceiling, const Oversampling& oversampling, Output& output, Progress* progress) {
    PassPlan plan;
    plan.dataOffset = layout.dataOffset;
    if (layout.sized || !layout.dataToEnd) plan.sampleBytes = layout.dataSize;
    PassResult result;
    File file{nullptr, std::fclose};
    std::FILE* sink = Sink(output, file);
    if (sink == nullptr) return Failed(output.Failed("cannot be written"));
    if (progress != nullptr && output.IsFile()) progress->Watch(output.Temporary());
    if (!WriteBefore(input, plan, sink, output, result)) return result;
    input.StopKeeping();
    if (!ClipThrough(input, plan, format, ceiling, oversampling, sink, output, result) ||
        !WriteAfter(input, plan, Fed{}, sink, output, result))
        return result;
    if (file && std::fclose(file.release()) != 0) return WriteFailed(output);
    return result;
}

PassResult RunPass(Source& input, const velorik::WavLayout* layout, Output& output, int32_t threshold,
                   Progress* progress) {
    PassPlan plan = MakePlan(input, layout, output);
    if (progress != nullptr && output.IsFile()) progress->Watch(output.Temporary());
    if (!plan.patch) return Piped(input, plan, layout, output, threshold);
    bool libraryFailed = false;
    const PassResult patched = Patched(input, plan, output, threshold, libraryFailed);
    if (!libraryFailed) return patched;
    // Again with wavfx reading the input and writing the output itself, so that what
    // fails names its file; a fault that passed goes unnoticed, as it should.
    plan.direct = plan.patch = false;
    return Piped(input, plan, layout, output, threshold);
}

}  // namespace wavfx
