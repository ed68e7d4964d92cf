#include "cli/Values.h"
#include "commands/Commands.h"
#include "report/Text.h"
#include "work/PlotFile.h"

namespace wavfx {

int RunPlot(const Invocation& call) {
    PlotRequest request;
    const auto& files = call.Operands();
    if (files.empty() || files.size() > 2) return call.Usage("IN, and at most one OUT, expected");
    if (!call.Has("output")) return call.Usage("no -o FILE.svg");
    request.spectrum = call.Has("spectrum");
    if (request.spectrum && call.Has("threshold")) return call.Usage("-t draws a level on the waveform; a spectrum has none");
    if (call.Has("threshold")) {
        Threshold threshold;
        std::string error;
        if (!ParseThreshold(call.Value("threshold"), threshold, error)) return call.Usage(error);
        request.level = threshold.fraction;
        request.levelText = call.Value("threshold");
    }
    request.in = files[0];
    if (files.size() == 2) request.out = files[1];
    const Status failure = WritePlotFile(request, call.Value("output"), call.WhenExists());
    return failure ? Report(*failure) : 0;
}

}  // namespace wavfx
