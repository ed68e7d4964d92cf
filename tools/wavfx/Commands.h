#pragma once

#include <string>
#include <vector>

namespace wavfx {

using Args = std::vector<std::string>;

int RunDistort(const Args& args);
int RunInfo(const Args& args);
int RunRecord(const Args& args);
int RunDemo(const Args& args);

// Records `seconds` seconds (0: until a signal) to `path`; shared by record and demo.
// Returns the process exit status.
int Record(const std::string& path, long long seconds, bool quiet);

bool WantsHelp(const Args& args);

}  // namespace wavfx
