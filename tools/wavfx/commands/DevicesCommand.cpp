#include <cstdio>

#include "commands/Commands.h"
#include "system/System.h"

namespace wavfx {

// As arecord -L lists them: each name, its description indented under it.
int RunDevices(const Invocation& call) {
    if (!call.Operands().empty()) return call.Usage("no operands");
    const auto devices = sys::CaptureDevices();
    if (!devices) {
        std::fputs("wavfx: ALSA lists no devices\n", stderr);
        return 1;
    }
    for (const sys::CaptureDevice& device : *devices) {
        std::fprintf(sys::Out(), "%s\n", device.name.c_str());
        for (const std::string& line : device.description) std::fprintf(sys::Out(), "    %s\n", line.c_str());
    }
    if (devices->empty()) std::fputs("wavfx: no capture devices\n", stderr);
    return 0;
}

}  // namespace wavfx
