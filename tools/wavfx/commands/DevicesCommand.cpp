#include "commands/Commands.h"
#include "system/System.h"

namespace wavfx {

int RunDevices(const Invocation& call) {
    if (!call.Operands().empty()) return call.Usage("no operands");
    return sys::ListCaptureDevices();
}

}  // namespace wavfx
