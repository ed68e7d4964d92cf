#include "commands/Dispatch.h"

#include <cstdio>

#include "commands/Commands.h"
#include "report/Text.h"
#include "system/Cleanup.h"
#include "system/System.h"

#ifndef WAVFX_VERSION
#define WAVFX_VERSION "unknown"
#endif

namespace wavfx {

namespace {

const CommandSpec* Find(const std::string& name) {
    for (std::size_t i = 0; i < CommandCount; ++i)
        if (name == Commands[i].name) return &Commands[i];
    return nullptr;
}

// -h or --help anywhere before "--" asks for help, whatever else the line holds.
bool WantsHelp(const Args& args) {
    for (const auto& arg : args) {
        if (arg == "--") return false;
        if (arg == "--help" || arg == "-h") return true;
    }
    return false;
}

int Run(const std::vector<std::string>& all);

}  // namespace

int RunCommandLine(const std::vector<std::string>& all) {
    int status = Run(all);
    // What could not be written to standard output is a failure of any command.
    for (std::FILE* out : {sys::Out(), stdout})
        if ((std::fflush(out) != 0 || std::ferror(out) != 0) && status == 0) status = Fail("standard output", sys::LastError());
    for (const auto& [path, reason] : cleanup::TakeLeftBehind()) status = Fail(path, "left behind: " + reason);
    return status;
}

namespace {

int Run(const std::vector<std::string>& all) {
    if (all.size() < 2 || all[1] == "--help" || all[1] == "-h") {
        std::fputs(Overview, all.size() < 2 ? stderr : sys::Out());
        return all.size() < 2 ? 2 : 0;
    }
    if (all[1] == "--version") {
        std::fprintf(sys::Out(), "wavfx %s (VelorikWAVDistortion %s)\n", WAVFX_VERSION, WAVFX_VERSION);
        return 0;
    }
    const CommandSpec* command = Find(all[1]);
    if (command == nullptr) {
        std::fprintf(stderr, "wavfx: unknown command '%s'\n\n%s", Printable(all[1]).c_str(), Overview);
        return 2;
    }
    const Args args(all.begin() + 2, all.end());
    if (WantsHelp(args)) {
        std::fputs(command->help, sys::Out());
        return 0;
    }
    Invocation call{*command, {}};
    std::string error;
    if (!ParseArgs(command->options, command->optionCount, args, call.args, error)) return call.Usage(error);
    if (call.Has("overwrite") && call.Has("no-clobber")) return call.Usage("-y and -n contradict each other");
    // wavfx is the host: one clear message of its own instead of ALSA's lines.
    sys::QuietAudioErrors();
    return command->run(call);
}

}  // namespace

}  // namespace wavfx
