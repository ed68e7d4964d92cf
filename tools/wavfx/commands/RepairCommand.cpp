#include <cstdio>

#include "commands/Commands.h"
#include "io/Files.h"
#include "io/Source.h"
#include "repair/Repair.h"
#include "report/Json.h"
#include "report/Text.h"
#include "system/System.h"

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
    std::string error;
    switch (KindOf(name, error)) {
        case Kind::Unknown: return Refused(name, error);
        case Kind::Missing: return Refused(name, "No such file or directory");
        case Kind::Directory: return Refused(name, "is a directory");
        case Kind::Other: return Refused(name, "is not a regular file (a device, a FIFO)");
        case Kind::Regular: break;
    }
    // Held while repairing, so that no recording starts into the file meanwhile.
    sys::FileLock lock;
    bool busy = false;
    if (!lock.Acquire(name, busy, error) && (busy || !dryRun))
        return Refused(name, busy ? "a running wavfx record holds it" : "cannot be written: " + error);
    Source source;
    if (!source.Open(name, error)) return Refused(name, error);
    const repair::Plan plan = repair::PlanRepair(source);
    // A read that failed is the system's reason, not the file's.
    if (plan.verdict == repair::Verdict::Refused)
        return Refused(name, source.Error().empty() ? plan.reason : "reading failed: " + source.Error());
    if (plan.verdict == repair::Verdict::Valid) return Outcome{name, "valid", "", {}};
    if (dryRun) return Outcome{name, "would-repair", "", plan.changes};
    File file = OpenFile(name, "r+b");
    FilePatch target(file.get());
    if (!file || !repair::ApplyRepair(plan, source, target) || std::fclose(file.release()) != 0)
        return Outcome{name, "failed", "writing failed: " + sys::LastError(), plan.changes};
    return Outcome{name, "repaired", "", plan.changes};
}

// A change's values: numbers, or the four characters of an id as a string.
void JsonValue(JsonWriter& json, const Change& change, bool after) {
    const std::string shown = repair::Shown(change, after);
    change.isId ? json.String(shown) : json.Raw(shown);
}

void PrintJson(const std::vector<Outcome>& outcomes) {
    JsonWriter json(stdout);
    json.BeginArray();
    for (const Outcome& o : outcomes) {
        json.BeginObject().Key("file").String(o.file).Key("status").String(o.status).Key("reason");
        o.reason.empty() ? json.Null() : json.String(o.reason);
        json.Key("changes").BeginArray();
        for (const Change& change : o.changes) {
            json.BeginObject().Key("field").String(change.field).Key("offset").Unsigned(change.offset).Key("old");
            JsonValue(json, change, false);
            json.Key("new");
            JsonValue(json, change, true);
            json.EndObject();
        }
        json.EndArray().EndObject().Wrap();
    }
    json.EndArray();
    std::printf("\n");
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
