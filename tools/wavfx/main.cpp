// wavfx: the command-line host of the VelorikWAVDistortion library.
#include <cstdio>

#include "commands/Dispatch.h"
#include "system/Cleanup.h"
#include "system/System.h"

namespace wavfx {

namespace {

// A close that fails is a failure of any command too: some file systems say only then.
int CloseStandardOutput(int status) {
    for (std::FILE* out : {sys::Out(), stdout == sys::Out() ? nullptr : stdout})
        if (out != nullptr && std::fclose(out) != 0 && status == 0) {
            std::fprintf(stderr, "wavfx: standard output: %s\n", sys::LastError().c_str());
            status = 1;
        }
    return status;
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
    return CloseStandardOutput(RunCommandLine(all));
}
