// One option parser for every command, driven by the command's table of options.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace wavfx {

struct OptionSpec {
    const char* name;   // the long form, without "--"; the name the command asks for
    const char* alias;  // another long form, or nullptr
    char shortName;     // or 0
    const char* value;  // the value's name; nullptr for a flag
};

struct ParsedArgs {
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> given;  // (option name, value) in order

    bool Has(const std::string& name) const;
    // The last value given for `name`; "" when it was not given.
    std::string Value(const std::string& name) const;
};

// getopt's conventions, and GNU's: options anywhere among the operands,
// --name value, --name=value, -x value, -xvalue, clustered flags (-yq), "--"
// ends the options, "-" alone is an operand, and so is an argument that
// starts with "-" and a digit or "." (a number). A value is the next argument
// whatever it starts with. False with `error` naming the offending argument.
bool ParseArgs(const OptionSpec* options, std::size_t count, const std::vector<std::string>& args, ParsedArgs& out,
               std::string& error);

}  // namespace wavfx
