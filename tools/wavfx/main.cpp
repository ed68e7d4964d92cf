// wavfx: the command-line host of the VelorikWAVDistortion library.
#include <cstdio>

#include "Cleanup.h"
#include "Commands.h"
#include "System.h"
#include "Text.h"

#ifndef WAVFX_VERSION
#define WAVFX_VERSION "unknown"
#endif

namespace wavfx {

namespace {

const char* const Synopsis =
    "usage: wavfx COMMAND [ARGS]\n"
    "\n"
    "  distort IN OUT THRESHOLD [-y] [--raw]\n"
    "                             hard-clip IN's 16-bit samples at +-THRESHOLD into OUT\n"
    "  record OUT [--seconds N] [--device NAME] [-y] [--quiet]\n"
    "                             record 8000 Hz mono 16-bit audio from a capture device\n"
    "  distort -t THRESHOLD IN... -o DIR [-j N] [-y] [--raw]\n"
    "                             the same for many files, N at a time\n"
    "  plot IN [OUT] -o FILE.svg [-t THRESHOLD] [-y]\n"
    "                             draw IN's waveform (and OUT's over it) as SVG\n"
    "  info FILE [--json]         show a WAV file's format, chunks, duration and peak levels\n"
    "  devices                    list the capture devices\n"
    "  demo                       distort a built-in test signal and record two seconds\n"
    "\n"
    "'wavfx COMMAND --help' describes one command; 'wavfx --version' tells the version.\n"
    "Exit status: 0 success, 1 failure (the message names the file and the reason), 2 usage.\n";

}  // namespace

int Usage(const std::string& synopsis) {
    std::fprintf(stderr, "usage: wavfx %s\n", synopsis.c_str());
    return 2;
}

int Fail(const std::string& name, const std::string& reason) {
    std::fprintf(stderr, "wavfx: %s: %s\n", Printable(name).c_str(), Printable(reason).c_str());
    return 1;
}

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

int Run(const std::vector<std::string>& all) {
    if (all.size() < 2 || all[1] == "--help" || all[1] == "-h") {
        std::fputs(Synopsis, all.size() < 2 ? stderr : stdout);
        return all.size() < 2 ? 2 : 0;
    }
    if (all[1] == "--version") {
        std::printf("wavfx %s (VelorikWAVDistortion %s)\n", WAVFX_VERSION, WAVFX_VERSION);
        return 0;
    }
    // wavfx is the host: one clear message of its own instead of ALSA's lines.
    sys::QuietAudioErrors();
    const Args args(all.begin() + 2, all.end());
    const std::string& command = all[1];
    if (command == "distort") return RunDistort(args);
    if (command == "record") return RunRecord(args);
    if (command == "info") return RunInfo(args);
    if (command == "devices") return RunDevices(args);
    if (command == "plot") return RunPlot(args);
    if (command == "demo") return RunDemo(args);
    std::fprintf(stderr, "wavfx: unknown command '%s'\n\n%s", Printable(command).c_str(), Synopsis);
    return 2;
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
    return FinishStandardOutput(Run(all));
}
