#include <cstdio>

#include "Commands.h"
#include "Files.h"
#include "Output.h"
#include "Plot.h"
#include "System.h"
#include "Text.h"

namespace wavfx {

// Writes the plot where `path` says, by the output rule.
int WritePlotFile(const PlotRequest& request, const std::string& path, bool replace) {
    std::string error, failedName;
    Output output;
    std::vector<std::string> inputs = {request.in};
    if (!request.out.empty()) inputs.push_back(request.out);
    if (!output.Open(path, replace, IdsOf(inputs), error)) return Fail(path, error);
    if (!output.Begin(error)) return Fail(path, "cannot be written: " + error);
    File file{nullptr, std::fclose};
    if (output.IsFile() && !(file = OpenFile(output.Temporary(), "wb"))) return Fail(path, "cannot be written: " + sys::LastError());
    if (!WritePlot(request, file ? file.get() : output.Stream(), failedName, error))
        return Fail(failedName.empty() ? path : failedName, error);
    if (file && std::fclose(file.release()) != 0) return Fail(path, "cannot be written: " + sys::LastError());
    if (!output.Commit(error)) return Fail(path, "cannot be written: " + error);
    return 0;
}

int RunPlot(const Args& args) {
    const char* synopsis = "plot IN [OUT] -o FILE.svg [-t THRESHOLD] [-y]";
    if (WantsHelp(args)) {
        std::printf(
            "usage: wavfx %s\n\n"
            "Draws IN's waveform as SVG: for a long file the lowest and highest sample of each pixel\n"
            "column, for a short one its samples. OUT (say IN distorted) is drawn over it in another\n"
            "colour, the threshold as two lines (THRESHOLD, or OUT's peak), with a time axis in\n"
            "seconds, a level axis with dBFS marks, and a legend with the names and how many samples\n"
            "were clipped. Each file is read once, in constant memory. FILE.svg may be - (standard\n"
            "output); -y replaces an existing FILE.svg.\n",
            synopsis);
        return 0;
    }
    PlotRequest request;
    std::vector<std::string> files;
    std::string output;
    bool replace = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        long long threshold = 0;
        if (args[i] == "-o" && i + 1 < args.size()) {
            output = args[++i];
        } else if (args[i] == "-t" && i + 1 < args.size() && ParseInt(args[i + 1], threshold) && threshold >= 0 &&
                   threshold <= 32767) {
            request.threshold = static_cast<int>(threshold);
            ++i;
        } else if (args[i] == "-y") {
            replace = true;
        } else if (args[i] == "-" || args[i].rfind("-", 0) != 0) {
            files.push_back(args[i]);
        } else {
            return Usage(synopsis);
        }
    }
    if (files.empty() || files.size() > 2 || output.empty()) return Usage(synopsis);
    request.in = files[0];
    if (files.size() == 2) request.out = files[1];
    return WritePlotFile(request, output, replace);
}

}  // namespace wavfx
