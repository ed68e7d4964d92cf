// wavfx: the command-line host of the VelorikWAVDistortion library.
#include <cstdio>
#include <cstring>

#include "Commands.h"

namespace {

const char* const Usage =
    "usage: wavfx COMMAND [ARGS]\n"
    "\n"
    "  distort IN OUT THRESHOLD   hard-clip the 16-bit samples of IN at +-THRESHOLD into OUT\n"
    "  record OUT [--seconds N] [--quiet]\n"
    "                             record 8000 Hz mono 16-bit audio from the default capture device\n"
    "  info FILE                  show a WAV file's header, duration and peak level\n"
    "  demo                       distort a built-in test signal and record two seconds\n"
    "\n"
    "'wavfx COMMAND --help' describes one command.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(Usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const wavfx::Args args(argv + 2, argv + argc);
    const char* command = argv[1];
    if (std::strcmp(command, "distort") == 0) return wavfx::RunDistort(args);
    if (std::strcmp(command, "record") == 0) return wavfx::RunRecord(args);
    if (std::strcmp(command, "info") == 0) return wavfx::RunInfo(args);
    if (std::strcmp(command, "demo") == 0) return wavfx::RunDemo(args);
    std::fprintf(stderr, "wavfx: unknown command '%s'\n\n%s", command, Usage);
    return 2;
}
