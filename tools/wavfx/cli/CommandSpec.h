// wavfx's commands: the table made from cli/commands.toml drives dispatch and every help text.
// The table itself is generated beside the commands it names (commands/Commands.h).
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

extern const CommandSpec Commands[];
extern const std::size_t CommandCount;
// What wavfx --help prints.
extern const char* const Overview;

}  // namespace wavfx
