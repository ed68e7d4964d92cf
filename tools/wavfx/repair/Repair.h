// Repairs the size fields of a WAV file that its writer never finished (a
// killed recorder, a stream to a pipe), in place: the file's length and every
// other byte stay as they are. Planned over a byte source, applied through a
// patch target, so that a test can cut the power after any write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "riff/RiffReader.h"

namespace wavfx::repair {

struct Change {
    std::string field;       // "RIFF size", "data size", "ds64 data size", "form"...
    std::uint64_t offset;    // of the field in the file
    unsigned width;          // bytes: 4 or 8
    bool isId;               // four characters rather than a number
    std::uint64_t before, after;
};

enum class Verdict { Valid, Repairable, Refused };

struct Plan {
    Verdict verdict = Verdict::Refused;
    std::string reason;  // for a refusal
    std::vector<Change> changes;
};

// What a repair of the file in `source` (its size known) would change; a read
// error is a refusal.
Plan PlanRepair(velorik::ByteSource& source);

class PatchTarget {
public:
    virtual ~PatchTarget() = default;
    virtual bool WriteAt(std::uint64_t offset, const void* bytes, std::size_t size) = 0;
    // Everything written so far is on the disk.
    virtual bool Sync() = 0;
};

// Writes the changes so that a power cut at any moment leaves the old file,
// the repaired one, or one that planning again repairs the same way: the
// changes after the first 16 bytes first (one write where they share a
// sector), synced, then those in the first 16 bytes (the form and RIFF size,
// which make an RF64) in one write, synced.
bool ApplyRepair(const Plan& plan, velorik::ByteSource& source, PatchTarget& target);

// A change's value as a reader shows it: a number, or the four characters of an id.
std::string Shown(const Change& change, bool after);

}  // namespace wavfx::repair
