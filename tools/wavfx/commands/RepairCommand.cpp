#include <cstdio>

#include "commands/Commands.h"
#include "io/Files.h"
#include "io/Source.h"
#include "repair/Repair.h"
#include "report/Record.h"
#include "report/Text.h"
#include "system/System.h"

namespace wavfx {

namespace {

using repair::Change;

enum class Verdict { Valid, Repaired, WouldRepair, Refused, Failed };
const char* const VerdictWords[] = {"valid", "repaired", "would-repair", "refused", "failed"};

struct Outcome {
    std::string file;
    Verdict verdict;
    Status failure;  // refused or failed: why
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

Outcome Refused(const Failure& failure) { return Outcome{failure.name, Verdict::Refused, failure, {}}; }

Outcome Refused(const std::string& file, const std::string& what, const std::string& reason = "") {
    return Refused(Failure{Role::Input, file, what, reason});
}

Outcome RepairFile(const std::string& name, bool dryRun) {
    switch (KindOf(name)) {
        case Kind::Unknown: return Refused(SystemFailure(Role::Input, name, ""));
        case Kind::Missing: return Refused(name, "", "No such file or directory");
        case Kind::Directory: return Refused(name, "is a directory");
        case Kind::Other: return Refused(name, "is not a regular file (a device, a FIFO)");
        case Kind::Regular: break;
    }
    // Held while repairing, so that no recording starts into the file meanwhile.
    sys::FileLock lock;
    bool busy = false;
    if (!lock.Acquire(name, busy) && (busy || !dryRun))
        return busy ? Refused(name, "a running wavfx record holds it") : Refused(SystemFailure(Role::Input, name, "cannot be written"));
    Source source;
    if (Status failure = source.Open(name)) return Refused(*failure);
    const repair::Plan plan = repair::PlanRepair(source);
    // A read that failed is the system's reason, not the file's.
    if (plan.verdict == repair::Verdict::Refused)
        return source.Error().empty() ? Refused(name, plan.reason) : Refused(source.ReadFailed());
    if (plan.verdict == repair::Verdict::Valid) return Outcome{name, Verdict::Valid, std::nullopt, {}};
    if (dryRun) return Outcome{name, Verdict::WouldRepair, std::nullopt, plan.changes};
    File file = OpenFile(name, "r+b");
    FilePatch target(file.get());
    if (!file || !repair::ApplyRepair(plan, source, target) || std::fclose(file.release()) != 0)
        return Outcome{name, Verdict::Failed, SystemFailure(Role::Input, name, "writing failed"), plan.changes};
    return Outcome{name, Verdict::Repaired, std::nullopt, plan.changes};
}

// What repair says of a file, once, for both its text and its JSON.
Record Describe(const Outcome& o) {
    Record record;
    const char* verdict = VerdictWords[static_cast<int>(o.verdict)];
    record.Add("file", o.file).Add("status", verdict);
    record.Show("", Printable(o.file) + ": " + (o.verdict == Verdict::WouldRepair ? "would repair" : verdict));
    record.Add("reason", o.failure ? Value(o.failure->Message()) : Value());
    std::vector<Value> changes;
    for (const Change& change : o.changes) {
        // A change's values: numbers, or the four characters of an id as a string.
        const auto shown = [&change](bool after) {
            return change.isId ? Value(repair::Shown(change, after)) : Value(after ? change.after : change.before);
        };
        changes.emplace_back(Record().Add("field", change.field).Add("offset", change.offset).Add("old", shown(false)).Add("new", shown(true)));
        record.Text("", "  " + change.field + " at " + std::to_string(change.offset) + ": " +
                            Printable(repair::Shown(change, false)) + " -> " + Printable(repair::Shown(change, true)));
    }
    record.Add("changes", Value(changes));
    return record;
}

}  // namespace

int RunRepair(const Invocation& call) {
    if (call.Operands().empty()) return call.Usage("no FILE");
    const bool json = call.Has("json"), dryRun = call.Has("dry-run");
    std::vector<Value> records;
    int status = 0;
    for (const std::string& name : call.Operands()) {
        const Outcome o = RepairFile(name, dryRun);
        if (o.verdict == Verdict::Refused)
            status = Fail(name, o.failure->Message() + "; left as it was");
        else if (o.verdict == Verdict::Failed)
            status = Fail(name, o.failure->Message() + "; wavfx repair again finishes the repair");
        else if (!json)
            WriteText(sys::Out(), Describe(o));
        records.emplace_back(Describe(o));
    }
    if (json) {
        WriteJson(sys::Out(), Value(records, true));
        std::fputs("\n", sys::Out());
    }
    return status;
}

}  // namespace wavfx
