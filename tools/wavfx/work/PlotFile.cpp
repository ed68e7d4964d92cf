#include "work/PlotFile.h"

#include <cstdio>

#include "io/Files.h"
#include "report/Text.h"
#include "system/System.h"

namespace wavfx {

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
    if (!output.Commit(error))
        return output.Skipped() ? Skipped(path) : Fail(path, output.Appeared() ? error : "cannot be written: " + error);
    return 0;
}

}  // namespace wavfx
