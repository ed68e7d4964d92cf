// The commands, one file each; the command table (cli/CommandTable.h) calls
// them. A command reads its line and hands the work to work/: commands never
// call one another.
#pragma once

#include "cli/Invocation.h"

namespace wavfx {

int RunDistort(const Invocation& call);
int RunInfo(const Invocation& call);
int RunRecord(const Invocation& call);
int RunDevices(const Invocation& call);
int RunPlot(const Invocation& call);
int RunDemo(const Invocation& call);
int RunRepair(const Invocation& call);

}  // namespace wavfx
