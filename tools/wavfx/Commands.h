#pragma once

#include <string>
#include <vector>

namespace wavfx {

using Args = std::vector<std::string>;

int RunDistort(const Args& args);
int RunInfo(const Args& args);
int RunRecord(const Args& args);
int RunDevices(const Args& args);
int RunPlot(const Args& args);
int RunDemo(const Args& args);

struct RecordOptions {
    long long seconds = 0;  // blocks to record; 0: until a signal
    bool quiet = false;
    bool replace = false;   // -y
};
// Records to `path`; shared by record and demo. Returns the process exit status.
int Record(const std::string& path, const RecordOptions& options);

struct PlotRequest;
// Writes a plot where `path` says (- for standard output), by the output rule; returns the exit status.
int WritePlotFile(const PlotRequest& request, const std::string& path, bool replace);

bool WantsHelp(const Args& args);
// "usage: wavfx SYNOPSIS" on stderr; exit status 2.
int Usage(const std::string& synopsis);
// "wavfx: NAME: REASON" on stderr; exit status 1.
int Fail(const std::string& name, const std::string& reason);

}  // namespace wavfx
