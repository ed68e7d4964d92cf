#include <cstdio>

#include "Commands.h"
#include "Files.h"
#include "Repair.h"
#include "Source.h"
#include "System.h"
#include "Text.h"

namespace wavfx {

namespace {

using repair::Change;

struct Outcome {
    std::string file, status, reason;  // status: valid, repaired, would-repair, refused, failed
    std::vector<Change> changes;
};

// Writes through a stream of its own; the plan was read through another.
class FilePatch final : public repair::PatchTarget {
public:
    explicit FilePatch(std::FILE* file) : file_(file) {}
    bool WriteAt(std::uint64_t offset, const void* bytes, std::size_t size) override {
        return sys::Seek(file_, offset) && std::fwrite(bytes, 1, size, file_) == size;
    }
    bool Sync() override { return sys::Sync(file_); }

private:
    std::FILE* file_;
};

Outcome Refused(const std::string& file, const std::string& reason) { return Outcome{file, "refused", reason, {}}; }

Outcome RepairFile(const std::string& name, bool dryRun) {
    switch (KindOf(name)) {
        case Kind::Missing: return Refused(name, "No such file or directory");
        case Kind::Directory: return Refused(name, "is a directory");
        case Kind::Other: return Refused(name, "is not a regular file (a device, a FIFO)");
        case Kind::Regular: break;
    }
    // Held while repairing, so that no recording starts into the file meanwhile.
    sys::FileLock lock;
    bool busy = false;
    std::string error;
    if (!lock.Acquire(name, busy, error) && (busy || !dryRun))
        return Refused(name, busy ? "a running wavfx record holds it" : "cannot be written: " + error);
    Source source;
    if (!source.Open(name, error)) return Refused(name, error);
    const repair::Plan plan = repair::PlanRepair(source);
    if (plan.verdict == repair::Verdict::Refused) return Refused(name, plan.reason);
    if (plan.verdict == repair::Verdict::Valid) return Outcome{name, "valid", "", {}};
    if (dryRun) return Outcome{name, "would-repair", "", plan.changes};
    File file = OpenFile(name, "r+b");
    FilePatch target(file.get());
    if (!file || !repair::ApplyRepair(plan, source, target) || std::fclose(file.release()) != 0)
        return Outcome{name, "failed", "writing failed: " + sys::LastError(), plan.changes};
    return Outcome{name, "repaired", "", plan.changes};
}

std::string JsonValue(const Change& change, bool after) {
    return change.isId ? JsonString(repair::Shown(change, after)) : repair::Shown(change, after);
}

void PrintJson(const std::vector<Outcome>& outcomes) {
    std::printf("[");
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const Outcome& o = outcomes[i];
        std::printf("%s{\"file\": %s, \"status\": \"%s\", \"reason\": %s, \"changes\": [", i ? ",\n " : "",
                    JsonString(o.file).c_str(), o.status.c_str(), o.reason.empty() ? "null" : JsonString(o.reason).c_str());
        for (std::size_t c = 0; c < o.changes.size(); ++c)
            std::printf("%s{\"field\": \"%s\", \"offset\": %llu, \"old\": %s, \"new\": %s}", c ? ", " : "",
                        o.changes[c].field.c_str(), static_cast<unsigned long long>(o.changes[c].offset),
                        JsonValue(o.changes[c], false).c_str(), JsonValue(o.changes[c], true).c_str());
        std::printf("]}");
    }
    std::printf("]\n");
}

void PrintText(const Outcome& o) {
    std::printf("%s: %s\n", Printable(o.file).c_str(), o.status == "would-repair" ? "would repair" : o.status.c_str());
    for (const Change& change : o.changes)
        std::printf("  %s at %llu: %s -> %s\n", change.field.c_str(), static_cast<unsigned long long>(change.offset),
                    Printable(repair::Shown(change, false)).c_str(), Printable(repair::Shown(change, true)).c_str());
}

}  // namespace

int RunRepair(const Invocation& call) {
    if (call.Operands().empty()) return call.Usage("no FILE");
    const bool json = call.Has("json"), dryRun = call.Has("dry-run");
    std::vector<Outcome> outcomes;
    int status = 0;
    for (const std::string& name : call.Operands()) {
        outcomes.push_back(RepairFile(name, dryRun));
        const Outcome& o = outcomes.back();
        if (o.status == "refused")
            status = Fail(name, o.reason + "; left as it was");
        else if (o.status == "failed")
            status = Fail(name, o.reason + "; wavfx repair again finishes the repair");
        else if (!json)
            PrintText(o);
    }
    if (json) PrintJson(outcomes);
    return status;
}

}  // namespace wavfx
