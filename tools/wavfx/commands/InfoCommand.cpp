#include <cstdio>

#include "commands/Commands.h"
#include "format/Samples.h"
#include "io/Source.h"
#include "repair/Repair.h"
#include "report/Json.h"
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

void PrintText(const std::string& name, const WavLayout& layout, const Peaks& peaks,
               bool repairable) {
    std::printf("file:      %s (%llu bytes)\n", Printable(name).c_str(), static_cast<unsigned long long>(layout.fileSize));
    std::printf("format:    %s, %u channel(s), %u Hz\n", layout.FormatName().c_str(), layout.channels, layout.sampleRate);
    std::printf("byte rate: %u bytes/s, block align %u\n", layout.byteRate, layout.blockAlign);
    if (layout.sampleRate > 0 && layout.blockAlign > 0)
        std::printf("duration:  %.3f s (%llu frames)\n", static_cast<double>(layout.Frames()) / layout.sampleRate,
                    static_cast<unsigned long long>(layout.Frames()));
    if (peaks) {
        std::string line;
        for (std::size_t c = 0; c < peaks->size(); ++c)
            line += (peaks->size() > 1 ? (c > 0 ? ", ch" : "ch") + std::to_string(c + 1) + " " : "") +
                    FormatDbfs((*peaks)[c].fraction) + " (" + PeakValue(layout, (*peaks)[c].value) + ")";
        std::printf("peak:      %s\n", line.c_str());
    }
    for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
        const RiffChunk& chunk = layout.chunks[i];
        std::printf("%s'%s' at %llu, %llu bytes\n", i == 0 ? "chunks:    " : "           ", Printable(chunk.id).c_str(),
                    static_cast<unsigned long long>(chunk.offset), static_cast<unsigned long long>(chunk.size));
    }
    std::printf("layout:    %s\n", layout.IsLibraryLayout()
                                       ? "the library's 44-byte layout"
                                       : "another layout (wavfx distort clips the data chunk only and keeps the rest)");
    if (layout.dataToEnd) std::printf("data:      its size says \"to the end of the file\" (a streamed WAV)\n");
    std::string problems;
    for (const std::string& problem : layout.problems) problems += "; " + problem;
    std::printf("sizes:     %s\n", problems.empty() ? "match the file" : ("DO NOT match the file" + problems).c_str());
    if (repairable) std::printf("repair:    wavfx repair %s fixes this\n", Printable(name).c_str());
}

void PrintJson(const std::string& name, const WavLayout& layout, const Peaks& peaks, bool repairable) {
    JsonWriter json(stdout);
    json.BeginObject().Key("file").String(name).Key("bytes").Unsigned(layout.fileSize);
    json.Key("form").String(layout.form).Key("format").String(layout.FormatName());
    json.Key("formatTag").Unsigned(layout.formatTag).Key("encoding").Unsigned(layout.Encoding()).Wrap();
    json.Key("channels").Unsigned(layout.channels).Key("sampleRate").Unsigned(layout.sampleRate);
    json.Key("bitsPerSample").Unsigned(layout.bitsPerSample).Key("blockAlign").Unsigned(layout.blockAlign);
    json.Key("byteRate").Unsigned(layout.byteRate).Wrap();
    const double seconds = layout.sampleRate > 0 ? static_cast<double>(layout.Frames()) / layout.sampleRate : 0.0;
    json.Key("frames").Unsigned(layout.Frames()).Key("seconds").Number(seconds, "%.6f");
    json.Key("dataOffset").Unsigned(layout.dataOffset).Key("dataBytes").Unsigned(layout.dataSize).Wrap();
    for (const bool values : {false, true}) {
        json.Key(values ? "peakValue" : "peak");
        if (!peaks) {
            json.Null();
            continue;
        }
        json.BeginArray();
        for (const ChannelPeak& peak : *peaks)
            values ? json.Number(peak.value, "%.17g") : json.Number(peak.fraction, "%.6f");
        json.EndArray();
    }
    json.Key("libraryLayout").Bool(layout.IsLibraryLayout()).Key("streamed").Bool(layout.dataToEnd);
    json.Key("sizesMatch").Bool(layout.problems.empty()).Key("repairable").Bool(repairable).Wrap();
    json.Key("chunks").BeginArray();
    for (const RiffChunk& chunk : layout.chunks)
        json.BeginObject().Key("id").String(chunk.id).Key("offset").Unsigned(chunk.offset).Key("bytes").Unsigned(chunk.size).EndObject();
    json.EndArray().Wrap().Key("problems").BeginArray();
    for (const std::string& problem : layout.problems) json.String(problem);
    json.EndArray().EndObject();
}

// Shows one file; false (said on stderr) when it cannot be read.
// `before` goes out first: what separates it from the file shown before it.
bool ShowFile(const std::string& name, bool json, const char* before, std::string& error) {
    Source source;
    if (!source.Open(name, error)) return false;
    auto layout = velorik::ReadWavLayout(source);
    if (!layout) {
        error = "reading failed: " + source.Error();
        return false;
    }
    if (!layout->isWave) {
        error = "not a WAV file (it starts with '" + Printable(layout->form) + "'" +
                (layout->sized ? ", " + std::to_string(layout->fileSize) + " bytes)" : ")");
        return false;
    }
    source.StopKeeping();
    bool readFailed = false;
    const auto peaks = ChannelPeaks(source, *layout, readFailed);
    if (readFailed) {
        error = "reading failed: " + source.Error();
        return false;
    }
    // A stream is read once: what follows its samples is known only now.
    if (!layout->sized && peaks && !velorik::ReadChunksAfterData(source, *layout)) {
        error = "reading failed: " + source.Error();
        return false;
    }
    // What wavfx repair would do about sizes that do not match (a file only: it repairs in place).
    const bool repairable = layout->sized && (!layout->problems.empty() || layout->dataToEnd) &&
                            repair::PlanRepair(source).verdict == repair::Verdict::Repairable;
    std::fputs(before, stdout);
    if (json)
        PrintJson(name, *layout, peaks, repairable);
    else
        PrintText(name, *layout, peaks, repairable);
    return true;
}

}  // namespace

int RunInfo(const Invocation& call) {
    const auto& files = call.Operands();
    if (files.empty()) return call.Usage("no FILE");
    const bool json = call.Has("json"), array = json && files.size() > 1;
    int status = 0;
    std::size_t shown = 0;  // text blocks are a blank line apart, an array's objects a comma
    if (array) std::fputs("[", stdout);
    for (const std::string& name : files) {
        const char* before = shown == 0 ? "" : array ? ",\n " : "\n";
        std::string error;
        if (ShowFile(name, json, before, error)) {
            ++shown;
            continue;
        }
        status = Fail(name, error);
        if (!array) continue;
        std::fputs(before, stdout);
        JsonWriter(stdout).BeginObject().Key("file").String(name).Key("error").String(error).EndObject();
        ++shown;
    }
    if (json && shown > 0) std::fputs(array ? "]\n" : "\n", stdout);
    return status;
}

}  // namespace wavfx
