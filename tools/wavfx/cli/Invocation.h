// One command line of one command, parsed by that command's options: what
// every command reads its operands, options and usage from.
#pragma once

#include <string>
#include <vector>

#include "cli/Arguments.h"
#include "io/Output.h"

namespace wavfx {

using Args = std::vector<std::string>;
struct CommandSpec;

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

}  // namespace wavfx
