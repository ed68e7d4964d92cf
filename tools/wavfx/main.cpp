// wavfx: the command-line host of the VelorikWAVDistortion library.
#include <cstdio>

#include "commands/Dispatch.h"
#include "system/Cleanup.h"
#include "system/System.h"

namespace wavfx {

namespace {

// What could not be written to standard output is a failure of any command.
int FinishStandardOutput(int status) {
    bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    std::string reason = sys::LastError();
    if (std::fclose(stdout) != 0 && !failed) {
        failed = true;
        reason = sys::LastError();
    }
    if (!failed) return status;
    std::fprintf(stderr, "wavfx: standard output: %s\n", reason.c_str());
    return status != 0 ? status : 1;
}

}  // namespace

}  // namespace wavfx

int main(int argc, char** argv) {
    using namespace wavfx;
    sys::InitProcess();
    cleanup::Install();
    std::vector<std::string> all;
    int bad = 0;
    if (!sys::Arguments(argc, argv, all, bad)) {
        std::fprintf(stderr, "wavfx: argument %d is not valid UTF-8 text; names are not guessed\n", bad);
        return 2;
    }
    return FinishStandardOutput(RunCommandLine(all));
}
