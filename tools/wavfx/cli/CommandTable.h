// wavfx's commands: the table made from cli/commands.toml drives dispatch and every help text.
#pragma once

#include <cstddef>

#include "Arguments.h"
#include "Commands.h"

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
