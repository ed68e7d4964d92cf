#include "Pass.h"

#include <algorithm>
#include <future>
#include <thread>
#include <vector>

#include "ClipSample.h"
#include "Samples.h"
#include "System.h"
#include "Text.h"
#include "VelorikWAVDistortion.h"
#include "WAVHeader.h"

namespace wavfx {

namespace {

constexpr std::size_t RunBytes = 1 << 16;
constexpr uint64_t HeaderBytes = velorik::WAVHeaderSize;

// Where the samples are, and how they reach the library and leave it.
struct Plan {
    bool raw = false;
    uint64_t dataOffset = 0;               // of the samples, in the input and the output alike
    std::optional<uint64_t> sampleBytes;   // how many (even); nullopt: to the end of the input
    bool direct = false;                   // the library reads the input file by name
    bool patch = false;                    // the library writes the output's temporary itself

    // RIFF chunks start at even offsets, so over a whole file the library's
    // byte pairs are the data chunk's samples; fed through a pipe, the
    // samples follow a header block of its own.
    uint64_t LibraryStart() const { return raw ? 0 : direct ? dataOffset : HeaderBytes; }
    uint64_t End(uint64_t size) const { return sampleBytes ? dataOffset + *sampleBytes : size; }
};

Plan MakePlan(const Source& input, const velorik::WavLayout* layout, const Output& output) {
    Plan plan;
    plan.raw = layout == nullptr;
    if (!plan.raw) {
        plan.dataOffset = layout->dataOffset;
        if (layout->sized || !layout->dataToEnd) plan.sampleBytes = layout->dataSize - layout->dataSize % 2;
    }
    plan.direct = input.IsFile() && (plan.raw || plan.dataOffset >= HeaderBytes) && sys::LibraryCanOpen(input.Path());
    plan.patch = plan.direct && output.IsFile() && sys::LibraryCanOpen(output.Temporary());
    return plan;
}

// Copies `size` bytes of the input from `offset` (all that is left, without a
// size) to `to`; names what failed.
bool CopyInput(Source& input, uint64_t offset, std::optional<uint64_t> size, std::FILE* to, PassResult& result,
               const std::string& outName) {
    std::vector<unsigned char> run(RunBytes);
    for (uint64_t left = size.value_or(UINT64_MAX); left > 0;) {
        const long long got = input.ReadAt(offset, run.data(), static_cast<std::size_t>(std::min<uint64_t>(left, RunBytes)));
        if (got < 0) {
            result = {std::nullopt, 0, true, input.Name(), "reading failed: " + input.Error()};
            return false;
        }
        if (got == 0) return true;
        if (std::fwrite(run.data(), 1, static_cast<std::size_t>(got), to) != static_cast<std::size_t>(got)) {
            result = {std::nullopt, 0, true, outName, "writing the output failed: " + sys::LastError()};
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
    std::string error;
};

// Hands the library its input through `pipe`: a header block, then the
// samples as they are read, counting what the clip will change.
void Feed(Source& input, const Plan& plan, const velorik::WavLayout* layout, std::FILE* to, int16_t t, Fed& fed) {
    sys::WritesToClosedPipesFail();
    input.StopKeeping();
    if (!plan.raw) {
        // The library copies this block unread, and the splice passes over it.
        const auto header = WavHeader(0, layout->sampleRate, layout->channels);
        if (std::fwrite(header.data(), 1, header.size(), to) != header.size()) return;
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
        fed.changed += CountChanged(run.data() + skip / 2, (n - skip) / 2, t);
        if (std::fwrite(bytes, 1, n, to) != n) break;  // the library stopped reading
        fed.bytes += n;
        at += n;
        left -= plan.sampleBytes ? n : 0;
        if (n % 2 == 1 && !plan.raw) fed.oddByte = bytes[n - 1];
    }
}

// Moves the samples of what the library writes into the output, and reads
// the rest of it to its end so that the library never waits on a full pipe.
void Splice(std::FILE* from, std::FILE* to, uint64_t skip, std::optional<uint64_t> take, std::string& error) {
    std::vector<char> run(RunBytes);
    const uint64_t end = take ? skip + *take : UINT64_MAX;
    for (uint64_t at = 0;;) {
        const std::size_t got = std::fread(run.data(), 1, run.size(), from);
        if (got == 0) return;
        const uint64_t low = std::max(at, skip), high = std::min(at + got, end);
        if (error.empty() && low < high &&
            std::fwrite(run.data() + (low - at), 1, static_cast<std::size_t>(high - low), to) != high - low)
            error = sys::LastError();
        at += got;
    }
}

std::string Why(int32_t status) { return std::to_string(status) + ": " + DescribeStatus(status); }

// The library wrote the temporary over the whole input: only the bytes
// between its header block and the samples, and after them, are put back.
PassResult Patched(Source& input, const Plan& plan, Output& output, int32_t threshold) {
    PassResult result;
    const uint64_t size = *input.Size(), end = plan.End(size);
    const uint64_t countFrom = plan.raw ? HeaderBytes : plan.dataOffset;
    // The clip report counts from the input while the pass runs.
    auto count = std::async(std::launch::async, [&] {
        File file = OpenFile(input.Path(), "rb");
        return file && end > countFrom ? CountClipped(file.get(), countFrom, end - countFrom, threshold) : std::optional<uint64_t>(0);
    });
    const int32_t status =
        WAVDistortion(ToUtf16(input.Path()).c_str(), ToUtf16(output.Temporary()).c_str(), threshold);
    result.changed = count.get();
    result.samples = end > countFrom ? (end - countFrom) / 2 : 0;
    if (status != StatusSuccess) {
        const std::string why = status == StatusIOFailed ? sys::WhyAppendFails(output.Temporary()) : "";
        return {std::nullopt, 0, true, why.empty() ? input.Name() : output.Name(),
                why.empty() ? "distortion failed (" + Why(status) + ")" : "writing the output failed: " + why};
    }
    if (plan.raw) return result;
    File file = OpenFile(output.Temporary(), "r+b");
    if (!file) return {std::nullopt, 0, true, output.Name(), "cannot be written: " + sys::LastError()};
    if (!(sys::Seek(file.get(), HeaderBytes) &&
          CopyInput(input, HeaderBytes, plan.dataOffset - HeaderBytes, file.get(), result, output.Name()) &&
          sys::Seek(file.get(), end) && CopyInput(input, end, size - end, file.get(), result, output.Name())))
        return result;
    if (std::fclose(file.release()) != 0) return {std::nullopt, 0, true, output.Name(), "writing the output failed: " + sys::LastError()};
    return result;
}

// The library reads the input file or a pipe fed from it, and writes a pipe
// that is spliced into the output.
PassResult Piped(Source& input, const Plan& plan, const velorik::WavLayout* layout, Output& output, int32_t threshold) {
    PassResult result;
    File file{nullptr, std::fclose};
    std::FILE* sink = output.Stream();
    if (output.IsFile()) {
        file = OpenFile(output.Temporary(), "wb");
        if (!file) return {std::nullopt, 0, true, output.Name(), "cannot be written: " + sys::LastError()};
        sink = file.get();
    }
    // What comes before the samples, as it was.
    if (!plan.raw) {
        const auto& kept = input.Kept();
        const bool ok = input.IsFile() ? CopyInput(input, 0, plan.dataOffset, sink, result, output.Name())
                                       : std::fwrite(kept.data(), 1, kept.size(), sink) == kept.size();
        if (!ok) return result.failed ? result : PassResult{std::nullopt, 0, true, output.Name(), "writing the output failed: " + sys::LastError()};
    }
    std::string error;
    sys::LibraryPipe in, out;
    if ((!plan.direct && !in.Create(true, error)) || !out.Create(false, error))
        return {std::nullopt, 0, true, output.Name(), "cannot make a pipe for the library: " + error};

    const int16_t t = velorik::ThresholdFromArgument(threshold);
    Fed fed;
    std::thread feeder;
    if (!plan.direct) feeder = std::thread([&] {
        Feed(input, plan, layout, in.Ours(), t, fed);
        in.CloseOurs();
    });
    std::string spliceError;
    std::thread splicer([&] { Splice(out.Ours(), sink, plan.LibraryStart(), plan.direct ? plan.sampleBytes : std::nullopt, spliceError); });
    std::future<std::optional<uint64_t>> count;
    const uint64_t countFrom = plan.raw ? HeaderBytes : plan.dataOffset;
    const uint64_t end = plan.direct ? plan.End(*input.Size()) : 0;
    if (plan.direct)
        count = std::async(std::launch::async, [&] {
            File counted = OpenFile(input.Path(), "rb");
            return counted && end > countFrom ? CountClipped(counted.get(), countFrom, end - countFrom, threshold) : std::optional<uint64_t>(0);
        });
    const int32_t status = WAVDistortion(ToUtf16(plan.direct ? input.Path() : in.Name()).c_str(),
                                         ToUtf16(out.Name()).c_str(), threshold);
    in.LibraryDone();
    out.LibraryDone();
    if (feeder.joinable()) feeder.join();
    splicer.join();
    result.changed = plan.direct ? count.get() : std::optional<uint64_t>(fed.changed);
    result.samples = plan.direct ? (end > countFrom ? (end - countFrom) / 2 : 0) : (fed.bytes - (plan.raw ? std::min<uint64_t>(fed.bytes, HeaderBytes) : 0)) / 2;
    if (!spliceError.empty()) return {std::nullopt, 0, true, output.Name(), "writing the output failed: " + spliceError};
    if (!fed.error.empty()) return {std::nullopt, 0, true, input.Name(), "reading failed: " + fed.error};
    if (status != StatusSuccess) return {std::nullopt, 0, true, input.Name(), "distortion failed (" + Why(status) + ")"};
    if (plan.raw) return result;
    // What comes after the samples, as it was.
    if (fed.oddByte >= 0 && std::fputc(fed.oddByte, sink) == EOF)
        return {std::nullopt, 0, true, output.Name(), "writing the output failed: " + sys::LastError()};
    if (input.IsFile() || plan.sampleBytes) {
        const uint64_t after = input.IsFile() ? plan.End(*input.Size()) : input.Position();
        if (!CopyInput(input, after, input.IsFile() ? std::optional<uint64_t>(*input.Size() - after) : std::nullopt, sink,
                       result, output.Name()))
            return result;
    }
    if (file && std::fclose(file.release()) != 0)
        return {std::nullopt, 0, true, output.Name(), "writing the output failed: " + sys::LastError()};
    return result;
}

}  // namespace

PassResult RunPass(Source& input, const velorik::WavLayout* layout, Output& output, int32_t threshold,
                   Progress* progress) {
    const Plan plan = MakePlan(input, layout, output);
    if (progress != nullptr && output.IsFile()) progress->Watch(output.Temporary());
    return plan.patch ? Patched(input, plan, output, threshold) : Piped(input, plan, layout, output, threshold);
}

}  // namespace wavfx
