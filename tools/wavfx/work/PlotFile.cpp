#include "work/PlotFile.h"

#include <cstdio>

#include "io/Files.h"
#include "system/System.h"

namespace wavfx {

Status WritePlotFile(const PlotRequest& request, const std::string& path, Existing existing) {
    Output output;
    std::vector<std::string> inputs = {request.in};
    if (!request.out.empty()) inputs.push_back(request.out);
    if (Status failure = output.Open(path, existing, IdsOf(inputs))) return failure;
    if (Status failure = output.Begin()) return failure;
    File file{nullptr, std::fclose};
    if (output.IsFile() && !(file = OpenFile(output.Temporary(), "wb"))) return output.Failed("cannot be written");
    if (Status failure = WritePlot(request, file ? file.get() : output.Stream(), path)) return failure;
    if (file && std::fclose(file.release()) != 0) return output.Failed("cannot be written");
    return output.Commit();
}

}  // namespace wavfx
