// The commands, one file each, and their table, generated from cli/commands.toml
// beside them (CommandTable.cpp in the build tree), which dispatch reads. A command
// reads its line and hands the work to work/: commands never call one another.
#pragma once

#include <cstddef>

#include "cli/CommandSpec.h"
#include "cli/Invocation.h"

namespace wavfx {

extern const CommandSpec Commands[];
extern const std::size_t CommandCount;
// What wavfx --help prints.
extern const char* const Overview;

int RunDistort(const Invocation& call);
int RunInfo(const Invocation& call);
int RunRecord(const Invocation& call);
int RunDevices(const Invocation& call);
int RunPlot(const Invocation& call);
int RunDemo(const Invocation& call);
int RunRepair(const Invocation& call);

}  // namespace wavfx
