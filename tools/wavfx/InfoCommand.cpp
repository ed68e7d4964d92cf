#include <cstdio>
#include <memory>

#include <cmath>

#include "Commands.h"
#include "RiffReader.h"
#include "Samples.h"
#include "Source.h"
#include "System.h"
#include "Text.h"

namespace wavfx {

namespace {

using velorik::RiffChunk;
using velorik::WavLayout;

// JSON has no infinity or NaN: a float file's +-Inf or NaN peak is null.
std::string Number(double value, const char* format) {
    if (!std::isfinite(value)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void PrintText(const std::string& name, const WavLayout& layout, const std::optional<std::vector<double>>& peaks) {
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
                    FormatDbfs((*peaks)[c]);
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
}

void PrintJson(const std::string& name, const WavLayout& layout, const std::optional<std::vector<double>>& peaks) {
    std::printf("{\"file\": %s, \"bytes\": %llu, \"form\": %s, \"format\": %s, \"formatTag\": %u, \"encoding\": %u,\n",
                JsonString(name).c_str(), static_cast<unsigned long long>(layout.fileSize), JsonString(layout.form).c_str(),
                JsonString(layout.FormatName()).c_str(), layout.formatTag, layout.Encoding());
    std::printf(" \"channels\": %u, \"sampleRate\": %u, \"bitsPerSample\": %u, \"blockAlign\": %u, \"byteRate\": %u,\n",
                layout.channels, layout.sampleRate, layout.bitsPerSample, layout.blockAlign, layout.byteRate);
    const double seconds = layout.sampleRate > 0 ? static_cast<double>(layout.Frames()) / layout.sampleRate : 0.0;
    std::printf(" \"frames\": %llu, \"seconds\": %s, \"dataOffset\": %llu, \"dataBytes\": %llu,\n",
                static_cast<unsigned long long>(layout.Frames()), Number(seconds, "%.6f").c_str(),
                static_cast<unsigned long long>(layout.dataOffset), static_cast<unsigned long long>(layout.dataSize));
    std::string peakList = "null";
    if (peaks) {
        peakList = "[";
        for (std::size_t c = 0; c < peaks->size(); ++c) peakList += (c ? ", " : "") + Number((*peaks)[c], "%.6f");
        peakList += "]";
    }
    std::printf(" \"peak\": %s, \"libraryLayout\": %s, \"streamed\": %s, \"sizesMatch\": %s,\n \"chunks\": [",
                peakList.c_str(), layout.IsLibraryLayout() ? "true" : "false", layout.dataToEnd ? "true" : "false",
                layout.problems.empty() ? "true" : "false");
    for (std::size_t i = 0; i < layout.chunks.size(); ++i)
        std::printf("%s{\"id\": %s, \"offset\": %llu, \"bytes\": %llu}", i ? ", " : "",
                    JsonString(layout.chunks[i].id).c_str(), static_cast<unsigned long long>(layout.chunks[i].offset),
                    static_cast<unsigned long long>(layout.chunks[i].size));
    std::printf("],\n \"problems\": [");
    for (std::size_t i = 0; i < layout.problems.size(); ++i)
        std::printf("%s%s", i ? ", " : "", JsonString(layout.problems[i]).c_str());
    std::printf("]}\n");
}

}  // namespace

int RunInfo(const Args& args) {
    if (WantsHelp(args)) {
        std::puts(
            "usage: wavfx info FILE [--json]\n\n"
            "Walks FILE's RIFF chunks and shows its format, channels, rate, duration, the peak of each\n"
            "channel, its chunks, whether it is in the library's 44-byte layout and whether its sizes\n"
            "match the file. FILE may be - (standard input). --json prints one JSON object instead.");
        return 0;
    }
    std::string name;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--json")
            json = true;
        else if (name.empty() && (arg == "-" || arg.rfind("-", 0) != 0))
            name = arg;
        else
            return Usage("info FILE [--json]");
    }
    if (name.empty()) return Usage("info FILE [--json]");

    Source source;
    std::string error;
    if (!source.Open(name, error)) return Fail(name, error);
    auto layout = velorik::ReadWavLayout(source);
    if (!layout) return Fail(name, "reading failed: " + source.Error());
    if (!layout->isWave)
        return Fail(name, "not a WAV file (it starts with '" + Printable(layout->form) + "'" +
                              (layout->sized ? ", " + std::to_string(layout->fileSize) + " bytes)" : ")"));
    source.StopKeeping();
    const auto peaks = ChannelPeaks(source, *layout);
    // A stream is read once: what follows its samples is known only now.
    if (!layout->sized && peaks && !velorik::ReadChunksAfterData(source, *layout))
        return Fail(name, "reading failed: " + source.Error());
    if (json)
        PrintJson(name, *layout, peaks);
    else
        PrintText(name, *layout, peaks);
    return 0;
}

}  // namespace wavfx
