#include "report/Plot.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <vector>

#include "dsp/Spectrum.h"
#include "format/SampleFormat.h"
#include "io/Source.h"
#include "report/Text.h"
#include "system/System.h"
#include "riff/RiffReader.h"

namespace wavfx {

namespace {

constexpr int Width = 1000, Height = 430, Left = 80, Top = 70, PlotWidth = 890, PlotHeight = 320;
constexpr uint64_t ChunkFrames = 1 << 16;
const char* const InColour = "#4c78a8";
const char* const OutColour = "#f58518";
const char* const LineColour = "#d62728";

// One file's waveform: per pixel column the lowest and highest sample of all
// its channels, or for a short file one column per frame (its first channel),
// in units of 1/32768 of full scale whatever the format.
struct Trace {
    std::string name;
    Source source;
    velorik::WavLayout layout;
    SampleFormat format{Coding::S16, 2, 1};
    uint64_t next = 0;  // the byte the next frames are read from
    std::vector<float> low, high;
    std::vector<unsigned char> raw;  // the samples as they lie in the file
    std::vector<ChannelRange> ranges;
    float peak = 0;
};

Status Open(const std::string& name, Trace& trace) {
    trace.name = name;
    if (Status failure = trace.source.Open(name)) return failure;
    const auto layout = velorik::ReadWavLayout(trace.source);
    if (!layout) return trace.source.ReadFailed();
    std::string why;
    const auto format = SampleFormatOf(*layout, why);
    if (!format) return Failure{Role::Input, name, why, ""};
    if (!layout->sized && layout->dataToEnd)
        return Failure{Role::Input, name, "its length is not in its header, and a stream is read only once; plot it from a file", ""};
    trace.format = *format;
    trace.layout = *layout;
    trace.next = layout->dataOffset;
    trace.source.StopKeeping();
    return std::nullopt;
}

// The next `frames` frames into the trace's chunk; how many there were.
uint64_t Read(Trace& trace, uint64_t frames) {
    const std::size_t frame = trace.layout.blockAlign;
    trace.raw.resize(static_cast<std::size_t>(frames) * frame);
    const long long got = trace.source.ReadAt(trace.next, trace.raw.data(), trace.raw.size());
    if (got <= 0) return 0;
    trace.next += static_cast<uint64_t>(got);
    return static_cast<uint64_t>(got) / frame;
}

// Frames [from, to) of the chunk into one column: one frame's first channel
// for a short file, else every channel's range, folded in the file's own units.
void Take(Trace& trace, uint64_t from, uint64_t to, std::size_t column, bool firstChannelOnly) {
    const unsigned char* bytes = trace.raw.data() + static_cast<std::size_t>(from) * trace.layout.blockAlign;
    float low = trace.low[column], high = trace.high[column];
    if (firstChannelOnly) {
        float level = 0;
        DecodeSamples(trace.format.coding, bytes, 1, &level);
        level *= 32768.0f;
        low = level < low ? level : low;
        high = level > high ? level : high;
    } else {
        trace.ranges.assign(trace.format.channels, ChannelRange{});
        FoldRanges(trace.format.coding, bytes, static_cast<std::size_t>(to - from), trace.ranges);
        const double scale = 32768.0 / FullScale(trace.format.coding);
        for (const ChannelRange& range : trace.ranges) {
            low = std::min(low, static_cast<float>(range.low * scale));
            high = std::max(high, static_cast<float>(range.high * scale));
        }
    }
    trace.low[column] = low;
    trace.high[column] = high;
    trace.peak = std::max({trace.peak, high, -low});
}

std::string Xml(const std::string& text) {
    std::string out;
    for (char c : Printable(text)) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// Floats may go past full scale, to infinity: the plot shows up to twice full scale.
double Y(double level) {
    return Top + PlotHeight / 2.0 - std::clamp(level, -65536.0, 65536.0) * (PlotHeight / 2.0) / 32768.0;
}

void DrawTrace(std::FILE* svg, const Trace& trace, std::size_t columns, bool samples, const char* colour) {
    auto x = [&](std::size_t column) { return Left + (column + 0.5) * PlotWidth / columns; };
    if (samples) {
        std::fprintf(svg, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"1.5\" points=\"", colour);
        for (std::size_t c = 0; c < columns; ++c)
            if (trace.low[c] <= trace.high[c]) std::fprintf(svg, "%.1f,%.1f ", x(c), Y(trace.high[c]));
        std::fprintf(svg, "\"/>\n");
        return;
    }
    std::fprintf(svg, "<polygon fill=\"%s\" stroke=\"%s\" stroke-width=\"0.6\" points=\"", colour, colour);
    for (std::size_t c = 0; c < columns; ++c)
        if (trace.low[c] <= trace.high[c]) std::fprintf(svg, "%.1f,%.1f ", x(c), Y(trace.high[c] + 0.5));
    for (std::size_t c = columns; c-- > 0;)
        if (trace.low[c] <= trace.high[c]) std::fprintf(svg, "%.1f,%.1f ", x(c), Y(trace.low[c] - 0.5));
    std::fprintf(svg, "\"/>\n");
}

// 1, 2 or 5 times a power of ten, near a tenth of `span`.
double Step(double span) {
    const double rough = span / 8, power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= rough) return m * power;
    return 10 * power;
}

void DrawAxes(std::FILE* svg, double seconds) {
    std::fprintf(svg, "<g font-family=\"sans-serif\" font-size=\"12\" fill=\"#333\">\n");
    // A linear level axis, marked in dBFS on both sides of silence.
    for (double db : {0.0, -3.0, -6.0, -12.0, -1000.0}) {
        for (int sign : {1, -1}) {
            const double y = Y(sign * 32768 * std::pow(10.0, db / 20));
            std::fprintf(svg, "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#ddd\"/>\n", Left, y,
                         Left + PlotWidth, y);
            if (db < -100)
                std::fprintf(svg, "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">-inf dBFS</text>\n", Left - 6, y + 4);
            else
                std::fprintf(svg, "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">%g dBFS</text>\n", Left - 6, y + 4, db);
            if (db < -100) break;
        }
    }
    const double step = seconds > 0 ? Step(seconds) : 1;
    for (double t = 0; seconds > 0 && t <= seconds * 1.0001; t += step) {
        const double x = Left + t / seconds * PlotWidth;
        std::fprintf(svg, "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#ddd\"/>\n", x, Top, x,
                     Top + PlotHeight);
        std::fprintf(svg, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%g s</text>\n", x, Top + PlotHeight + 18, t);
    }
    std::fprintf(svg, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"#999\"/>\n", Left, Top,
                 PlotWidth, PlotHeight);
    std::fprintf(svg, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">time</text>\n</g>\n", Left + PlotWidth / 2,
                 Top + PlotHeight + 36);
}

Status Finished(std::FILE* svg, const std::string& svgName) {
    return std::ferror(svg) ? SystemFailure(Role::Output, svgName, "") : Status();
}

void Legend(std::FILE* svg, int row, const char* colour, const std::string& text, bool line = false) {
    const int y = 18 + 18 * row;
    if (line)
        std::fprintf(svg, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\" stroke-width=\"2\" "
                          "stroke-dasharray=\"6 3\"/>\n", Left, y - 4, Left + 14, y - 4, colour);
    else
        std::fprintf(svg, "<rect x=\"%d\" y=\"%d\" width=\"14\" height=\"10\" fill=\"%s\"/>\n", Left, y - 9, colour);
    std::fprintf(svg, "<text x=\"%d\" y=\"%d\" font-family=\"sans-serif\" font-size=\"13\">%s</text>\n", Left + 20, y,
                 Xml(text).c_str());
}

// The spectrum's frame: near 1 Hz apart at 8000 Hz, 6 Hz at 48000 Hz.
constexpr std::size_t SpectrumSize = 8192;

// A file's averaged spectrum, its samples read once.
Status SpectrumOf(Trace& trace, std::vector<double>& levels) {
    velorik::dsp::Spectrum spectrum(SpectrumSize, trace.format.channels);
    std::vector<float> samples;
    for (uint64_t at = 0, frames = trace.layout.Frames(); at < frames;) {
        const uint64_t got = Read(trace, std::min(ChunkFrames, frames - at));
        if (got == 0) break;
        samples.resize(static_cast<std::size_t>(got) * trace.format.channels);
        DecodeSamples(trace.format.coding, trace.raw.data(), samples.size(), samples.data());
        for (float& v : samples) v = std::isfinite(v) ? v : 0.0f;  // a NaN or infinity would blank every bin
        spectrum.Add(samples.data(), static_cast<std::size_t>(got));
        at += got;
    }
    if (!trace.source.Error().empty()) return trace.source.ReadFailed();
    levels = spectrum.Levels();
    return std::nullopt;
}

// Per pixel column of a logarithmic axis from `low` to `high` Hz, the loudest
// bin in it, or the nearest where bins are sparser than columns.
std::vector<double> Columns(const std::vector<double>& levels, double rate, double low, double high) {
    std::vector<double> columns(PlotWidth);
    const double hz = rate / SpectrumSize, last = static_cast<double>(levels.size() - 1);
    for (int c = 0; c < PlotWidth; ++c) {
        auto at = [&](double x) { return low * std::pow(high / low, x / PlotWidth) / hz; };
        const double from = std::ceil(at(c)), to = std::min(std::floor(at(c + 1)), last);
        double level = levels[static_cast<std::size_t>(std::min(std::round(at(c + 0.5)), last))];
        for (double k = from; k <= to; ++k) level = std::max(level, levels[static_cast<std::size_t>(k)]);
        columns[static_cast<std::size_t>(c)] = level;
    }
    return columns;
}

void DrawSpectrumAxes(std::FILE* svg, double low, double high, double bottom) {
    auto x = [&](double f) { return Left + std::log(f / low) / std::log(high / low) * PlotWidth; };
    auto y = [&](double db) { return Top + db / bottom * PlotHeight; };
    std::fprintf(svg, "<g font-family=\"sans-serif\" font-size=\"12\" fill=\"#333\">\n");
    for (double db = 0; db >= bottom; db -= 20) {
        std::fprintf(svg, "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#ddd\"/>\n", Left, y(db),
                     Left + PlotWidth, y(db));
        std::fprintf(svg, "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">%g dBFS</text>\n", Left - 6, y(db) + 4, db);
    }
    for (double decade = 10; decade <= high; decade *= 10)
        for (double m : {1.0, 2.0, 5.0}) {
            const double f = m * decade;
            if (f < low || f > high) continue;
            const std::string label = f >= 1000 ? std::to_string(static_cast<int>(f / 1000)) + " kHz"
                                                : std::to_string(static_cast<int>(f)) + " Hz";
            std::fprintf(svg, "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#ddd\"/>\n", x(f), Top, x(f),
                         Top + PlotHeight);
            std::fprintf(svg, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%s</text>\n", x(f), Top + PlotHeight + 18,
                         label.c_str());
        }
    std::fprintf(svg, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"#999\"/>\n", Left, Top,
                 PlotWidth, PlotHeight);
    std::fprintf(svg, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">frequency</text>\n</g>\n", Left + PlotWidth / 2,
                 Top + PlotHeight + 36);
}

void DrawSpectrum(std::FILE* svg, const std::vector<double>& columns, double bottom, const char* colour) {
    std::fprintf(svg, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"1.2\" points=\"", colour);
    for (std::size_t c = 0; c < columns.size(); ++c)
        std::fprintf(svg, "%.1f,%.1f ", Left + c + 0.5, Top + std::clamp(columns[c], bottom, 0.0) / bottom * PlotHeight);
    std::fprintf(svg, "\"/>\n");
}

Status WriteSpectra(const PlotRequest& request, Trace& in, Trace& out, std::FILE* svg) {
    std::vector<double> inLevels, outLevels;
    const bool withOut = !request.out.empty();
    if (Status failure = SpectrumOf(in, inLevels)) return failure;
    if (withOut)
        if (Status failure = SpectrumOf(out, outLevels)) return failure;
    // From 20 Hz, or for a rate too low for that, two decades under half of it.
    const double rate = in.layout.sampleRate > 0 ? in.layout.sampleRate : 8000.0, high = rate / 2;
    const double low = std::min(20.0, high / 100);
    // Down to the quietest column, in 20 dB steps, from 60 to 200 dB below full scale.
    std::vector<double> inColumns = Columns(inLevels, rate, low, high), outColumns;
    double quietest = *std::min_element(inColumns.begin(), inColumns.end());
    if (withOut) {
        outColumns = Columns(outLevels, out.layout.sampleRate > 0 ? out.layout.sampleRate : rate, low, high);
        quietest = std::min(quietest, *std::min_element(outColumns.begin(), outColumns.end()));
    }
    const double bottom = std::clamp(std::floor(quietest / 20) * 20, -200.0, -60.0);
    std::fprintf(svg,
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">\n"
                 "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
                 Width, Height, Width, Height);
    DrawSpectrumAxes(svg, low, high, bottom);
    DrawSpectrum(svg, inColumns, bottom, InColour);
    if (withOut) DrawSpectrum(svg, outColumns, bottom, OutColour);
    Legend(svg, 0, InColour, request.in + " (" + in.layout.FormatName() + ", averaged spectrum)");
    if (withOut) Legend(svg, 1, OutColour, request.out + " (" + out.layout.FormatName() + ", averaged spectrum)");
    std::fprintf(svg, "</svg>\n");
    return std::nullopt;
}

}  // namespace

Status WritePlot(const PlotRequest& request, std::FILE* svg, const std::string& svgName) {
    Trace in, out;
    const bool withOut = !request.out.empty();
    if (Status failure = Open(request.in, in)) return failure;
    if (withOut)
        if (Status failure = Open(request.out, out)) return failure;
    if (request.spectrum) {
        if (Status failure = WriteSpectra(request, in, out, svg)) return failure;
        return Finished(svg, svgName);
    }
    const uint64_t frames = in.layout.Frames(), outFrames = withOut ? out.layout.Frames() : 0;
    const bool samples = frames <= PlotWidth;
    const std::size_t columns = samples ? static_cast<std::size_t>(std::max<uint64_t>(frames, 1)) : PlotWidth;
    for (Trace* trace : {&in, &out}) trace->low.assign(columns, HUGE_VALF), trace->high.assign(columns, -HUGE_VALF);

    // One pass over each file, side by side; a sample changed is a sample clipped.
    const bool comparable = withOut && out.layout.blockAlign == in.layout.blockAlign &&
                            out.format.coding == in.format.coding;
    uint64_t clipped = 0, compared = 0;
    for (uint64_t at = 0; at < frames;) {
        const uint64_t got = Read(in, std::min(ChunkFrames, frames - at));
        const uint64_t other = at < outFrames ? Read(out, std::min(got, outFrames - at)) : 0;
        if (got == 0) break;
        // Column by column: the frames of one column lie side by side.
        for (uint64_t f = 0; f < got;) {
            const auto column = static_cast<std::size_t>(samples ? at + f : (at + f) * PlotWidth / frames);
            const uint64_t next = samples ? at + f + 1 : ((column + 1) * frames + PlotWidth - 1) / PlotWidth;
            const uint64_t end = std::min(got, next - at);
            Take(in, f, end, column, samples);
            if (f < other) Take(out, f, std::min(end, other), column, samples);
            f = end;
        }
        // A sample changed is a sample clipped, byte for byte (a NaN stays a NaN).
        const std::size_t width = in.format.bytes;
        if (comparable)
            for (std::size_t i = 0; i < other * in.format.channels; ++i)
                clipped += std::memcmp(&in.raw[i * width], &out.raw[i * width], width) != 0;
        compared += comparable ? other * in.format.channels : 0;
        at += got;
    }
    const double threshold = request.level ? *request.level * 32768.0 : out.peak;

    std::fprintf(svg,
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">\n"
                 "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
                 Width, Height, Width, Height);
    DrawAxes(svg, in.layout.sampleRate > 0 ? static_cast<double>(frames) / in.layout.sampleRate : 0);
    DrawTrace(svg, in, columns, samples, InColour);
    if (withOut) DrawTrace(svg, out, columns, samples, OutColour);
    if (withOut || request.level)
        for (int sign : {1, -1})
            std::fprintf(svg, "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"1.5\" shape-rendering=\"crispEdges\" "
                              "stroke-dasharray=\"6 3\"/>\n", Left, Y(sign * threshold), Left + PlotWidth,
                         Y(sign * threshold), LineColour);
    Legend(svg, 0, InColour, request.in + " (" + in.layout.FormatName() + ", " + FormatDbfs(in.peak / 32768.0) + " peak)");
    if (withOut)
        Legend(svg, 1, OutColour, request.out + ": " + std::to_string(clipped) + " of " + std::to_string(compared) +
                                      " samples clipped");
    if (withOut || request.level)
        Legend(svg, withOut ? 2 : 1, LineColour,
               "threshold \u00B1" + (request.level ? request.levelText : FormatDbfs(threshold / 32768.0)) + " (" +
                   (request.level ? FormatDbfs(*request.level) : "the output's peak") + ")",
               true);
    std::fprintf(svg, "</svg>\n");
    return Finished(svg, svgName);
}

}  // namespace wavfx
