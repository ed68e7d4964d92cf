#pragma once

#include <string>
#include <vector>

#include "Arguments.h"
#include "Output.h"

namespace wavfx {

using Args = std::vector<std::string>;
struct CommandSpec;

// One command line of one command, parsed by that command's options.
struct Invocation {
    const CommandSpec& command;
    ParsedArgs args;

    const std::vector<std::string>& Operands() const { return args.operands; }
    bool Has(const char* option) const { return args.Has(option); }
    std::string Value(const char* option) const { return args.Value(option); }
    // What -y or -n says about an existing output (both together never reach a command).
    Existing WhenExists() const;
    // "wavfx NAME: WHY" and the command's usage on stderr; exit status 2.
    int Usage(const std::string& why) const;
};

int RunDistort(const Invocation& call);
int RunInfo(const Invocation& call);
int RunRecord(const Invocation& call);
int RunDevices(const Invocation& call);
int RunPlot(const Invocation& call);
int RunDemo(const Invocation& call);
int RunRepair(const Invocation& call);

struct RecordOptions {
    long long seconds = 0;  // blocks to record; 0: until a signal
    bool quiet = false;
    Existing existing = Existing::Refuse;
};
// Records to `path`; shared by record and demo. Returns the process exit status.
int Record(const std::string& path, const RecordOptions& options);

struct PlotRequest;
// Writes a plot where `path` says (- for standard output), by the output rule; returns the exit status.
int WritePlotFile(const PlotRequest& request, const std::string& path, Existing existing);

// "wavfx: NAME: REASON" on stderr; exit status 1.
int Fail(const std::string& name, const std::string& reason);
// "wavfx: NAME: exists; skipped (-n)" on stderr; exit status 0.
int Skipped(const std::string& name);

}  // namespace wavfx
