#include <cstdio>

#include "Commands.h"
#include "Files.h"
#include "Output.h"
#include "Plot.h"
#include "SampleFormat.h"
#include "System.h"
#include "Text.h"

namespace wavfx {

// Writes the plot where `path` says, by the output rule.
int WritePlotFile(const PlotRequest& request, const std::string& path, Existing existing) {
    std::string error, failedName;
    Output output;
    std::vector<std::string> inputs = {request.in};
    if (!request.out.empty()) inputs.push_back(request.out);
    if (!output.Open(path, existing, IdsOf(inputs), error)) return output.Skipped() ? Skipped(path) : Fail(path, error);
    if (!output.Begin(error)) return Fail(path, "cannot be written: " + error);
    File file{nullptr, std::fclose};
    if (output.IsFile() && !(file = OpenFile(output.Temporary(), "wb"))) return Fail(path, "cannot be written: " + sys::LastError());
    if (!WritePlot(request, file ? file.get() : output.Stream(), failedName, error))
        return Fail(failedName.empty() ? path : failedName, error);
    if (file && std::fclose(file.release()) != 0) return Fail(path, "cannot be written: " + sys::LastError());
    if (!output.Commit(error)) return Fail(path, "cannot be written: " + error);
    return 0;
}

int RunPlot(const Invocation& call) {
    PlotRequest request;
    const auto& files = call.Operands();
    if (files.empty() || files.size() > 2) return call.Usage("IN, and at most one OUT, expected");
    if (!call.Has("output")) return call.Usage("no -o FILE.svg");
    if (call.Has("threshold")) {
        Threshold threshold;
        std::string error;
        if (!ParseThreshold(call.Value("threshold"), threshold, error)) return call.Usage(error);
        request.level = threshold.fraction;
        request.levelText = call.Value("threshold");
    }
    request.in = files[0];
    if (files.size() == 2) request.out = files[1];
    return WritePlotFile(request, call.Value("output"), call.WhenExists());
}

}  // namespace wavfx
