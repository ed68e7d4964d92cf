#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "commands/Commands.h"
#include "format/Loudness.h"
#include "format/Samples.h"
#include "io/Source.h"
#include "repair/Repair.h"
#include "report/Record.h"
#include "report/Text.h"
#include "system/System.h"
#include "riff/RiffReader.h"

namespace wavfx {

namespace {

using velorik::RiffChunk;
using velorik::WavLayout;

using Peaks = std::optional<std::vector<ChannelPeak>>;

// A peak in the file's own units: a whole number, or a float's value.
std::string PeakValue(const WavLayout& layout, double value) {
    char text[32];
    std::snprintf(text, sizeof text, layout.Encoding() == velorik::WaveFormatFloat ? "%g" : "%.0f", value);
    return text;
}

// What info says of a file, once, for both its text and its JSON.
// A level in dB, as JSON takes it (null for silence's -infinity).
Value Decibels(double db) { return Value(db, "%.6f"); }

Record Describe(const std::string& name, const WavLayout& layout, const Peaks& peaks, bool repairable,
                const std::optional<Loudness>& loudness) {
    Record info;
    info.Lines({"file", "format", "byte rate", "duration", "peak", "loudness", "true peak", "chunks", "layout", "data", "sizes",
                "repair"});
    info.Add("file", name).Show("file", Printable(name));
    info.Add("bytes", layout.fileSize).Show("file", " (" + std::to_string(layout.fileSize) + " bytes)");
    info.Add("form", layout.form).Add("format", layout.FormatName()).Show("format", layout.FormatName());
    info.Add("formatTag", unsigned{layout.formatTag}).Add("encoding", layout.Encoding()).Wrap();
    info.Add("channels", unsigned{layout.channels}).Show("format", ", " + std::to_string(layout.channels) + " channel(s)");
    info.Add("sampleRate", layout.sampleRate).Show("format", ", " + std::to_string(layout.sampleRate) + " Hz");
    info.Add("bitsPerSample", unsigned{layout.bitsPerSample}).Add("blockAlign", unsigned{layout.blockAlign});
    info.Add("byteRate", layout.byteRate).Wrap();
    info.Show("byte rate", std::to_string(layout.byteRate) + " bytes/s, block align " + std::to_string(layout.blockAlign));
    const double seconds = layout.sampleRate > 0 ? static_cast<double>(layout.Frames()) / layout.sampleRate : 0.0;
    info.Add("frames", layout.Frames()).Add("seconds", Value(seconds, "%.6f"));
    if (layout.sampleRate > 0 && layout.blockAlign > 0) {
        char duration[64];
        std::snprintf(duration, sizeof duration, "%.3f s (%llu frames)", seconds,
                      static_cast<unsigned long long>(layout.Frames()));
        info.Show("duration", duration);
    }
    info.Add("dataOffset", layout.dataOffset).Add("dataBytes", layout.dataSize).Wrap();
    std::vector<Value> fractions, values;
    std::string peakLine;
    for (std::size_t c = 0; peaks && c < peaks->size(); ++c) {
        const ChannelPeak& peak = (*peaks)[c];
        fractions.emplace_back(peak.fraction, "%.6f");
        values.emplace_back(peak.value, "%.17g");
        peakLine += (peaks->size() > 1 ? (c > 0 ? ", ch" : "ch") + std::to_string(c + 1) + " " : "") +
                    FormatDbfs(peak.fraction) + " (" + PeakValue(layout, peak.value) + ")";
    }
    info.Add("peak", peaks ? Value(fractions) : Value()).Show("peak", peakLine);
    info.Add("peakValue", peaks ? Value(values) : Value());
    if (loudness) {
        char lufs[64] = "nothing to measure (silence, or under 400 ms)";
        if (loudness->lufs) std::snprintf(lufs, sizeof lufs, "%.1f LUFS (integrated, EBU R128)", *loudness->lufs);
        info.Add("loudnessLufs", loudness->lufs ? Decibels(*loudness->lufs) : Value()).Show("loudness", lufs);
        std::vector<Value> truePeaks;
        std::string truePeakLine;
        const std::size_t channels = loudness->truePeakDbtp.size();
        for (std::size_t c = 0; c < channels; ++c) {
            const double dbtp = loudness->truePeakDbtp[c];
            char level[32] = "-inf dBTP";
            if (std::isfinite(dbtp)) std::snprintf(level, sizeof level, "%.2f dBTP", dbtp);
            truePeaks.push_back(Decibels(dbtp));
            truePeakLine += (channels > 1 ? (c > 0 ? ", ch" : "ch") + std::to_string(c + 1) + " " : "") + level;
        }
        info.Add("truePeakDbtp", Value(truePeaks)).Show("true peak", truePeakLine).Wrap();
    }
    info.Add("libraryLayout", layout.IsLibraryLayout())
        .Show("layout", layout.IsLibraryLayout() ? "the library's 44-byte layout"
                                                 : "another layout (wavfx distort clips the data chunk only and keeps the rest)");
    info.Add("streamed", layout.dataToEnd);
    if (layout.dataToEnd) info.Show("data", "its size says \"to the end of the file\" (a streamed WAV)");
    std::string problems;
    std::vector<Value> problemList;
    for (const std::string& problem : layout.problems) {
        problems += "; " + problem;
        problemList.emplace_back(problem);
    }
    info.Add("sizesMatch", layout.problems.empty()).Show("sizes", problems.empty() ? "match the file" : "DO NOT match the file" + problems);
    info.Add("repairable", repairable).Wrap();
    if (repairable) info.Show("repair", "wavfx repair " + Printable(name) + " fixes this");
    std::vector<Value> chunks;
    for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
        const RiffChunk& chunk = layout.chunks[i];
        chunks.emplace_back(Record().Add("id", chunk.id).Add("offset", chunk.offset).Add("bytes", chunk.size));
        info.Text("chunks", (i == 0 ? "'" : "\n'") + Printable(chunk.id) + "' at " + std::to_string(chunk.offset) + ", " +
                                std::to_string(chunk.size) + " bytes");
    }
    info.Add("chunks", Value(chunks)).Wrap().Add("problems", Value(problemList));
    return info;
}

// Shows one file, unless it cannot be read.
// `before` goes out first: what separates it from the file shown before it.
Status ShowFile(const std::string& name, bool json, bool loudness, const char* before) {
    Source source;
    if (Status failure = source.Open(name)) return failure;
    auto layout = velorik::ReadWavLayout(source);
    if (!layout) return source.ReadFailed();
    if (!layout->isWave)
        return Failure{Role::Input, name,
                       "not a WAV file (it starts with '" + Printable(layout->form) + "'" +
                           (layout->sized ? ", " + std::to_string(layout->fileSize) + " bytes)" : ")"),
                       ""};
    source.StopKeeping();
    bool readFailed = false;
    std::string why;
    const auto format = SampleFormatOf(*layout, why);
    std::unique_ptr<LoudnessMeter> meter;
    if (loudness && format) meter = std::make_unique<LoudnessMeter>(*format, layout->sampleRate, layout->channelMask);
    const auto peaks = ChannelPeaks(source, *layout, readFailed, meter.get());
    if (readFailed) return source.ReadFailed();
    // A stream is read once: what follows its samples is known only now.
    if (!layout->sized && peaks && !velorik::ReadChunksAfterData(source, *layout)) return source.ReadFailed();
    // What wavfx repair would do about sizes that do not match (a file only: it repairs in place).
    const bool repairable = layout->sized && (!layout->problems.empty() || layout->dataToEnd) &&
                            repair::PlanRepair(source).verdict == repair::Verdict::Repairable;
    const Record info = Describe(name, *layout, peaks, repairable,
                                 meter ? std::optional<Loudness>(meter->Result()) : std::nullopt);
    std::fputs(before, sys::Out());
    json ? WriteJson(sys::Out(), info) : WriteText(sys::Out(), info);
    return std::nullopt;
}

}  // namespace

int RunInfo(const Invocation& call) {
    const auto& files = call.Operands();
    if (files.empty()) return call.Usage("no FILE");
    const bool json = call.Has("json"), array = json && files.size() > 1, loudness = call.Has("loudness");
    if (loudness && !LoudnessMeter::Unavailable().empty()) return Fail("--loudness", LoudnessMeter::Unavailable());
    int status = 0;
    std::size_t shown = 0;  // text blocks are a blank line apart, an array's objects a comma
    if (array) std::fputs("[", sys::Out());
    for (const std::string& name : files) {
        const char* before = shown == 0 ? "" : array ? ",\n " : "\n";
        const Status failure = ShowFile(name, json, loudness, before);
        if (!failure) {
            ++shown;
            continue;
        }
        status = Report(*failure);
        if (!array) continue;
        std::fputs(before, sys::Out());
        WriteJson(sys::Out(), Record().Add("file", name).Add("error", failure->Message()));
        ++shown;
    }
    if (json && shown > 0) std::fputs(array ? "]\n" : "\n", sys::Out());
    return status;
}

}  // namespace wavfx
