#include "repair/Repair.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace wavfx::repair {

namespace {

using velorik::ByteSource;
using velorik::RiffChunk;

constexpr std::uint64_t Max32 = 0xFFFFFFFFu;
constexpr std::uint64_t Sector = 512;
// The first 16 bytes: "RIFF"/"RF64", the RIFF size, "WAVE", and the first chunk's id.
constexpr std::uint64_t HeadBytes = 16;
// Chunks after the samples are looked for in the file's last bytes only: what
// writers put there is small, and a file of gigabytes is not read through. A
// longer run of them is taken for samples, which loses nothing.
constexpr std::uint64_t TailWindow = 64ull << 20;
// Chunks that writers put after the samples; only a run of chunks that starts
// with one of them and fills the file to its end is taken for what follows the data.
const char* const TailIds[] = {"LIST", "id3 ", "ID3 ", "cue ", "bext", "iXML", "JUNK", "junk", "PAD ", "FLLR",
                               "smpl", "inst", "acid", "fact", "axml", "umid", "cart", "_PMX", "DISP", "labl",
                               "note", "ltxt", "plst", "afsp", "SyLp", "minf", "elm1", "regn", "ovwf", "bxml"};

std::uint64_t Read(ByteSource& source, std::uint64_t offset, unsigned width, bool& ok) {
    unsigned char b[8] = {};
    if (source.ReadAt(offset, b, width) != static_cast<long long>(width)) ok = false;
    std::uint64_t value = 0;
    for (unsigned i = width; i-- > 0;) value = value << 8 | b[i];
    return value;
}

bool IsTailId(const unsigned char* id) {
    // The first byte rules out nearly every offset of a file's samples at once.
    static const auto starts = [] {
        std::array<bool, 256> table{};
        for (const char* known : TailIds) table[static_cast<unsigned char>(known[0])] = true;
        return table;
    }();
    if (!starts[id[0]]) return false;
    for (const char* known : TailIds)
        if (std::memcmp(id, known, 4) == 0) return true;
    return false;
}

bool Printable(const unsigned char* id) {
    return std::all_of(id, id + 4, [](unsigned char c) { return c >= 0x20 && c <= 0x7E; });
}

// Chunks from `at` fill the file to its end exactly (the last one's pad byte may be missing).
bool Tiles(ByteSource& source, std::uint64_t at, std::uint64_t fileSize) {
    for (int chunks = 0; at < fileSize; ++chunks) {
        unsigned char h[8];
        if (chunks > 100000 || at + 8 > fileSize || source.ReadAt(at, h, 8) != 8 || !Printable(h)) return false;
        const std::uint64_t size = h[4] | h[5] << 8 | h[6] << 16 | static_cast<std::uint64_t>(h[7]) << 24;
        if (at + 8 + size > fileSize) return false;
        at += 8 + size + (size & 1);
        if (at == fileSize + 1) return true;
    }
    return at == fileSize;
}

// The samples' end as the data size says it, if what follows it is chunks to
// the end of the file, or less than one frame.
bool ClaimHolds(ByteSource& source, std::uint64_t start, std::uint64_t claimed, std::uint64_t fileSize,
                std::uint64_t frame) {
    if (claimed > fileSize - start) return false;
    const std::uint64_t end = start + claimed;
    return fileSize - end < frame || Tiles(source, end + (claimed & 1), fileSize);
}

// The sample bytes up to where well-formed chunks after them begin, found by
// their ids; without such chunks, every whole frame to the end of the file.
std::uint64_t SamplesBeforeTail(ByteSource& source, std::uint64_t start, std::uint64_t fileSize, std::uint64_t frame,
                                bool& ok) {
    const std::uint64_t toEnd = (fileSize - start) - (fileSize - start) % frame;
    std::uint64_t first = std::max(start, fileSize > TailWindow ? fileSize - TailWindow : 0);
    first += (first - start) & 1;  // chunks start an even distance after the samples do
    // Blocks overlap by 8 bytes and step by an even count; no larger than what is left.
    const std::uint64_t left = fileSize - std::min(first, fileSize) + 9;
    std::vector<unsigned char> block(static_cast<std::size_t>(std::min<std::uint64_t>(1 << 20, left - left % 2)));
    for (std::uint64_t at = first; at + 8 <= fileSize; at += block.size() - 8) {
        const long long got = source.ReadAt(at, block.data(), block.size());
        if (got < 0) {
            ok = false;
            return toEnd;
        }
        for (std::size_t i = 0; i + 8 <= static_cast<std::size_t>(got); i += 2) {
            if (!IsTailId(block.data() + i)) continue;
            const std::uint64_t tail = at + i, samples = tail - start;
            // The samples are whole frames, and a pad byte after an odd count of them.
            const std::uint64_t whole = samples - (samples % frame);
            if (whole + (whole & 1) == samples && Tiles(source, tail, fileSize)) return whole;
        }
        if (static_cast<std::size_t>(got) < block.size()) break;
    }
    return toEnd;
}

Plan Refuse(const std::string& reason) {
    Plan plan;
    plan.reason = reason;
    return plan;
}

void Want(Plan& plan, ByteSource& source, const char* field, std::uint64_t offset, unsigned width, std::uint64_t value,
          bool& ok, bool isId = false) {
    const std::uint64_t now = Read(source, offset, width, ok);
    if (now != value) plan.changes.push_back(Change{field, offset, width, isId, now, value});
}

std::uint64_t Id(const char* text) {
    return static_cast<unsigned char>(text[0]) | static_cast<unsigned char>(text[1]) << 8 |
           static_cast<unsigned char>(text[2]) << 16 | static_cast<std::uint64_t>(static_cast<unsigned char>(text[3])) << 24;
}

}  // namespace

Plan PlanRepair(ByteSource& source) {
    const auto layout = velorik::ReadWavLayout(source);
    if (!layout) return Refuse("reading failed");
    const std::uint64_t fileSize = layout->fileSize;
    if (!layout->isWave) return Refuse("not a RIFF or RF64 WAVE file");
    if (!layout->hasFormat) return Refuse("no fmt chunk");
    if (!layout->hasData) return Refuse("no data chunk");
    if (layout->blockAlign == 0) return Refuse("the fmt chunk says block align 0");
    const std::uint64_t start = layout->dataOffset, frame = layout->blockAlign, header = start - 8;
    const RiffChunk& first = layout->chunks.front();
    const bool rf64 = layout->form == "RF64";
    if (rf64 && (first.id != "ds64" || first.offset != 12 || first.size < 24))
        return Refuse("an RF64 file without a ds64 chunk first");

    bool ok = true;
    // The data size as the file says it: a size the writer never filled in says nothing.
    const std::uint64_t size32 = Read(source, header + 4, 4, ok);
    const std::uint64_t claimed = rf64 && size32 == Max32 ? Read(source, 28, 8, ok) : size32;
    const bool placeholder = !rf64 && size32 == Max32;
    std::uint64_t samples;
    if (!placeholder && ClaimHolds(source, start, claimed, fileSize, frame)) {
        samples = claimed;
    } else {
        // A size that leads to well-formed chunks (or to the fmt chunk) is what
        // its writer meant; if they do not fill the file, something else is
        // broken, and no size here can say which bytes are samples.
        for (const RiffChunk& chunk : layout->chunks)
            if (chunk.offset > header && (chunk.id == "fmt " || (chunk.offset + 8 + chunk.size <= fileSize &&
                                                                   Printable(reinterpret_cast<const unsigned char*>(
                                                                       chunk.id.data())))))
                return Refuse("the data size leads to chunks that do not fill the file ('" + chunk.id + "' at " +
                              std::to_string(chunk.offset) + "); their writer's sizes disagree");
        samples = SamplesBeforeTail(source, start, fileSize, frame, ok);
    }

    Plan plan;
    plan.verdict = Verdict::Repairable;
    const bool large = fileSize - 8 > Max32 || samples > Max32;
    if (!rf64 && large && !(first.id == "JUNK" && first.offset == 12 && first.size >= 28))
        return Refuse("its samples run past what 32-bit sizes hold, and no JUNK chunk of 28 bytes or more comes first "
                      "to become RF64's ds64");
    if (rf64 || large) {
        // RF64: the 32-bit sizes say "see ds64", which holds the true ones.
        if (!rf64) {
            Want(plan, source, "ds64 sample count", 36, 8, samples / frame, ok);
            Want(plan, source, "ds64 table length", 44, 4, 0, ok);
        }
        Want(plan, source, "ds64 RIFF size", 20, 8, fileSize - 8, ok);
        Want(plan, source, "ds64 data size", 28, 8, samples, ok);
        // A 32-bit size that already says it stays (so does 0, which Max32 and a ds64 of 0 would make "to the end").
        Want(plan, source, "data size", header + 4, 4, size32 == samples ? size32 : Max32, ok);
        Want(plan, source, "form", 0, 4, Id("RF64"), ok, true);
        Want(plan, source, "RIFF size", 4, 4, Max32, ok);
        Want(plan, source, "first chunk", 12, 4, Id("ds64"), ok, true);
    } else {
        Want(plan, source, "data size", header + 4, 4, samples, ok);
        Want(plan, source, "RIFF size", 4, 4, fileSize - 8, ok);
    }
    if (!ok) return Refuse("reading failed");
    if (plan.changes.empty()) plan.verdict = Verdict::Valid;
    return plan;
}

bool ApplyRepair(const Plan& plan, ByteSource& source, PatchTarget& target) {
    for (const bool head : {false, true}) {
        std::uint64_t from = UINT64_MAX, to = 0;
        for (const Change& change : plan.changes) {
            if ((change.offset < HeadBytes) != head) continue;
            from = std::min(from, change.offset);
            to = std::max(to, change.offset + change.width);
        }
        if (to == 0) continue;
        // One write where the fields share a sector, so that they reach the disk together;
        // what lies between them is written back as it is.
        const bool together = from / Sector == (to - 1) / Sector;
        std::vector<unsigned char> span(together ? to - from : 0);
        if (together && source.ReadAt(from, span.data(), span.size()) != static_cast<long long>(span.size()))
            return false;
        for (const Change& change : plan.changes) {
            if ((change.offset < HeadBytes) != head) continue;
            unsigned char bytes[8];
            for (unsigned i = 0; i < change.width; ++i) bytes[i] = static_cast<unsigned char>(change.after >> (8 * i));
            if (together)
                std::memcpy(span.data() + (change.offset - from), bytes, change.width);
            else if (!target.WriteAt(change.offset, bytes, change.width))
                return false;
        }
        if ((together && !target.WriteAt(from, span.data(), span.size())) || !target.Sync()) return false;
    }
    return true;
}

std::string Shown(const Change& change, bool after) {
    const std::uint64_t value = after ? change.after : change.before;
    if (!change.isId) return std::to_string(value);
    std::string id;
    for (int i = 0; i < 4; ++i) id += static_cast<char>(value >> (8 * i));
    return id;
}

}  // namespace wavfx::repair
