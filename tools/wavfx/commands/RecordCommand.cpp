#include "cli/Values.h"
#include "commands/Commands.h"
#include "report/Text.h"
#include "system/System.h"
#include "work/Recording.h"

namespace wavfx {

int RunRecord(const Invocation& call) {
    RecordOptions options;
    options.existing = call.WhenExists();
    options.quiet = call.Has("quiet");
    if (call.Has("duration") && (!ParseInt(call.Value("duration"), options.seconds) || options.seconds < 1))
        return call.Usage("-d takes a whole number of seconds, 1 or more");
    if (call.Operands().size() != 1) return call.Usage(call.Operands().empty() ? "no OUT" : "one OUT only");
    const std::string device = call.Value("device");
    if (call.Has("device") && device.empty()) return call.Usage("-D needs a device name");
    std::string error;
    if (!device.empty() && !sys::UseCaptureDevice(device, error)) return Fail(device, error);
    return Record(call.Operands()[0], options);
}

}  // namespace wavfx
