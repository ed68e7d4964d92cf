#include <cstdio>

#include "cli/Values.h"
#include "commands/Commands.h"
#include "report/Text.h"
#include "system/System.h"
#include "work/Recording.h"

namespace wavfx {

int RunRecord(const Invocation& call) {
    RecordOptions options;
    options.existing = call.WhenExists();
    const bool quiet = call.Has("quiet");
    if (call.Has("duration") && (!ParseInt(call.Value("duration"), options.seconds) || options.seconds < 1))
        return call.Usage("-d takes a whole number of seconds, 1 or more");
    if (call.Operands().size() != 1) return call.Usage(call.Operands().empty() ? "no OUT" : "one OUT only");
    const std::string device = call.Value("device"), path = call.Operands()[0];
    if (call.Has("device") && device.empty()) return call.Usage("-D needs a device name");
    if (!device.empty())
        if (const Status failure = sys::UseCaptureDevice(device)) return Report(*failure);
    const bool live = !quiet && sys::IsTerminal(stderr);
    if (!quiet)
        options.started = [&] {
            std::fprintf(stderr, "wavfx: recording %s: 8000 Hz, mono, 16-bit PCM%s\n", Printable(path).c_str(),
                         options.seconds > 0 ? "" : " (Ctrl-C finishes the file)");
        };
    bool shown = false;  // the live line, which the summary starts below
    if (live)
        options.tick = [&shown](double seconds, std::uint64_t blocks, int peak) {
            shown = true;
            std::fprintf(stderr, "\r  %7.1f s   %llu block(s)   peak %-12s", seconds, static_cast<unsigned long long>(blocks),
                         FormatDbfs(peak / 32768.0).c_str());
        };
    const Recorded recorded = Record(path, options);
    if (shown) std::fputc('\n', stderr);
    if (recorded.failure) return Report(*recorded.failure);
    if (!quiet)
        std::fprintf(stderr, "wavfx: %s: %llu block(s), %llu s of audio, %llu bytes\n", Printable(path).c_str(),
                     static_cast<unsigned long long>(recorded.blocks), static_cast<unsigned long long>(recorded.blocks),
                     static_cast<unsigned long long>(44 + 16000 * recorded.blocks));
    return 0;
}

}  // namespace wavfx
