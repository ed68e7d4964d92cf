// What a command is to the parser: its name, handler, options and help texts. The
// table of them is made from cli/commands.toml and lives with the commands.
#pragma once

#include <cstddef>

#include "cli/Arguments.h"
#include "cli/Invocation.h"

namespace wavfx {

struct CommandSpec {
    const char* name;
    int (*run)(const Invocation& call);
    const OptionSpec* options;
    std::size_t optionCount;
    const char* usage;  // "usage: wavfx NAME ..." lines
    const char* help;   // what NAME --help prints
};

}  // namespace wavfx
