#include "cli/Arguments.h"

namespace wavfx {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// -5, -6dB, -.5: a number, not an option (no option is spelled with a digit).
bool IsNumber(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-' && (IsDigit(arg[1]) || (arg[1] == '.' && arg.size() > 2 && IsDigit(arg[2])));
}

const OptionSpec* FindLong(const OptionSpec* options, std::size_t count, const std::string& name) {
    for (std::size_t i = 0; i < count; ++i)
        if (name == options[i].name || (options[i].alias != nullptr && name == options[i].alias)) return &options[i];
    return nullptr;
}

const OptionSpec* FindShort(const OptionSpec* options, std::size_t count, char name) {
    for (std::size_t i = 0; i < count; ++i)
        if (options[i].shortName != 0 && options[i].shortName == name) return &options[i];
    return nullptr;
}

// What rm says, for an argument that looks like a file's name (a dot or a slash in it).
std::string FileHint(const std::string& arg) {
    const bool named = arg.find_first_of("./") != std::string::npos;
    return named ? "; to name a file that starts with '-', write ./" + arg + " or put -- before it" : "";
}

}  // namespace

bool ParsedArgs::Has(const std::string& name) const {
    for (const auto& option : given)
        if (option.first == name) return true;
    return false;
}

std::string ParsedArgs::Value(const std::string& name) const {
    std::string value;
    for (const auto& option : given)
        if (option.first == name) value = option.second;
    return value;
}

bool ParseArgs(const OptionSpec* options, std::size_t count, const std::vector<std::string>& args, ParsedArgs& out,
               std::string& error) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || IsNumber(arg)) {
            out.operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg[1] == '-') {
            const std::size_t equals = arg.find('=');
            const std::string spelled = arg.substr(0, equals);
            const OptionSpec* option = FindLong(options, count, spelled.substr(2));
            if (option == nullptr) {
                error = "unknown option '" + spelled + "'";
                return false;
            }
            if (option->value == nullptr && equals != std::string::npos) {
                error = "option '" + spelled + "' takes no value";
                return false;
            }
            if (option->value != nullptr && equals == std::string::npos && i + 1 == args.size()) {
                error = "option '" + spelled + "' needs a value (" + option->value + ")";
                return false;
            }
            const std::string value =
                option->value == nullptr ? "" : equals != std::string::npos ? arg.substr(equals + 1) : args[++i];
            out.given.emplace_back(option->name, value);
        } else {
            for (std::size_t at = 1; at < arg.size(); ++at) {
                const OptionSpec* option = FindShort(options, count, arg[at]);
                if (option == nullptr) {
                    error = "unknown option '-" + std::string(1, arg[at]) + "'" +
                            (arg.size() > 2 ? " in '" + arg + "'" : "") + FileHint(arg);
                    return false;
                }
                if (option->value == nullptr) {
                    out.given.emplace_back(option->name, "");
                    continue;
                }
                // The rest of the argument is the value, or else the next argument.
                if (at + 1 == arg.size() && i + 1 == args.size()) {
                    error = "option '-" + std::string(1, arg[at]) + "' needs a value (" + option->value + ")";
                    return false;
                }
                out.given.emplace_back(option->name, at + 1 < arg.size() ? arg.substr(at + 1) : args[++i]);
                break;
            }
        }
    }
    return true;
}

}  // namespace wavfx
