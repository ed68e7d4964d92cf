#include "repair/Repair.h"
#include "support/RiffBytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace riffbytes;
using namespace wavfx::repair;

namespace {

struct Write {
    uint64_t offset;
    std::string bytes;
};

// Writes into a Sparse file's first bytes, grouped by the syncs between them:
// the disk may have stored any of a group's writes before a power cut.
class Recorder final : public PatchTarget {
public:
    explicit Recorder(Sparse& file) : file_(file) {}
    bool WriteAt(uint64_t offset, const void* bytes, std::size_t size) override {
        if (groups.empty() || synced_) groups.emplace_back();
        synced_ = false;
        groups.back().push_back(Write{offset, std::string(static_cast<const char*>(bytes), size)});
        Put(file_, groups.back().back());
        return true;
    }
    bool Sync() override { return synced_ = true; }
    static void Put(Sparse& file, const Write& write) { file.Head().replace(write.offset, write.bytes.size(), write.bytes); }

    std::vector<std::vector<Write>> groups;

private:
    Sparse& file_;
    bool synced_ = true;
};

using Groups = std::vector<std::vector<Write>>;

// Plans and applies; the repaired file afterwards, and the writes that made it.
Sparse Repaired(Sparse file, Plan& plan, Groups* groups = nullptr) {
    plan = PlanRepair(file);
    Recorder recorder(file);
    EXPECT_TRUE(ApplyRepair(plan, file, recorder));
    if (groups) *groups = recorder.groups;
    return file;
}

const std::string Frames(2000, '\x11');  // 1000 frames of 16-bit mono
const std::string Tail = Chunk("LIST", "INFOISFT" + Le(6, 4) + "wavfx!") + Chunk("id3 ", "ID3");
const uint64_t Big = 0x100000800ull;  // past 4 GiB

std::string Broken(uint32_t riff, uint32_t data, const std::string& samples = Frames, const std::string& before = "",
                   const std::string& after = "", const std::string& fmt = Fmt(), const char* form = "RIFF") {
    return form + Le(riff, 4) + "WAVE" + before + fmt + "data" + Le(data, 4) + samples + after;
}

struct Case {
    const char* name;
    std::string bytes;
    uint64_t size;            // 0: the bytes' own
    Verdict verdict;
    uint64_t samples;         // the data size afterwards, or a word of the refusal
    const char* reason = "";
};

TEST(Repair, FixesOnlySizeFieldsAndEveryCutPointEndsTheSameWay) {
    const std::string junk = Chunk("JUNK", std::string(28, '\0'));
    const std::string rf64Zeros = Broken(0xFFFFFFFF, 0xFFFFFFFF, Frames, Ds64(0, 0), "", Fmt(), "RF64");
    const Case cases[] = {
        {"valid", Wave(Fmt() + Chunk("data", Frames) + Tail), 0, Verdict::Valid, 2000},
        {"valid, 0 samples before a chunk of its own", Wave(Fmt() + Chunk("data", "") + Chunk("abcd", "xy")), 0,
         Verdict::Valid, 0},
        {"arecord killed", Broken(0x80000024, 0x80000000, Frames + "\x07"), 0, Verdict::Repairable, 2000},
        {"ffmpeg to a pipe", Broken(0xFFFFFFFF, 0xFFFFFFFF, Frames, Chunk("LIST", "INFOISFTx")), 0, Verdict::Repairable,
         2000},
        {"sox killed", Broken(0x7FFFF024, 0x7FFFF000), 0, Verdict::Repairable, 2000},
        {"zeros, chunks after the data", Broken(0, 0, Frames, "", Tail), 0, Verdict::Repairable, 2000},
        {"size past the end, chunks after", Broken(99, 5000, Frames, "", Tail), 0, Verdict::Repairable, 2000},
        {"torn stereo frame", Broken(0, 0, Frames + "abc", "", "", Fmt(2, 4)), 0, Verdict::Repairable, 2000},
        {"torn 24-bit frame", Broken(0, 0, std::string(301, 'x'), "", "", Fmt(1, 3, 24)), 0, Verdict::Repairable, 300},
        {"8-bit, chunks after", Broken(0, 0, std::string(300, 'x'), "", Tail, Fmt(1, 1, 8)), 0, Verdict::Repairable, 300},
        {"RF64, ds64 sizes 0", rf64Zeros, 0, Verdict::Repairable, 2000},
        {"past 4 GiB with JUNK first", Broken(0xFFFFFFFF, 0xFFFFFFFF, "", junk), Big, Verdict::Repairable,
         Big - 44 - junk.size()},
        {"past 4 GiB without JUNK", Broken(0xFFFFFFFF, 0xFFFFFFFF, ""), Big, Verdict::Refused, 0, "no JUNK chunk"},
        {"not RIFF", "RIFX" + Broken(0, 0).substr(4), 0, Verdict::Refused, 0, "not a RIFF or RF64 WAVE"},
        {"no fmt", "RIFF" + Le(0, 4) + "WAVEdata" + Le(0, 4) + Frames, 0, Verdict::Refused, 0, "no fmt"},
        {"no data", Wave(Fmt() + Chunk("LIST", "INFO")), 0, Verdict::Refused, 0, "no data chunk"},
        {"block align 0", Broken(0, 0, Frames, "", "", Fmt(1, 0)), 0, Verdict::Refused, 0, "block align 0"},
        {"fmt after the samples, a chunk cut short", Wave(Chunk("data", Frames) + Fmt() + Chunk("LIST", "INFO")).substr(0, 2050),
         0, Verdict::Refused, 0, "chunks that do not fill the file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Sparse before(c.bytes, c.size ? c.size : c.bytes.size());
        Plan plan;
        Groups groups;
        const Sparse after = Repaired(before, plan, &groups);
        ASSERT_EQ(plan.verdict, c.verdict) << plan.reason;
        EXPECT_NE(plan.reason.find(c.reason), std::string::npos) << plan.reason;
        if (c.verdict == Verdict::Refused) continue;
        Sparse reread = after;
        const auto layout = velorik::ReadWavLayout(reread);
        ASSERT_TRUE(layout);
        for (const std::string& problem : layout->problems)
            EXPECT_NE(problem.find("stray byte"), std::string::npos) << "only a torn frame may stay: " << problem;
        EXPECT_EQ(layout->dataSize, c.samples);
        Plan again;
        Repaired(after, again);
        EXPECT_EQ(again.verdict, Verdict::Valid);
        // Nothing but the fields changed.
        std::string masked = Sparse(after).Head(), original = Sparse(before).Head();
        for (const Change& change : plan.changes) {
            masked.replace(change.offset, change.width, change.width, '?');
            original.replace(change.offset, change.width, change.width, '?');
        }
        EXPECT_EQ(masked, original);

        // A cut after any sync, with any of the next group's writes stored: a second repair ends where the first did.
        for (std::size_t g = 0; g < groups.size(); ++g) {
            const auto& group = groups[g];
            for (unsigned stored = 0; stored < (1u << group.size()); ++stored) {
                Sparse cut = before;
                for (std::size_t k = 0; k < g; ++k)
                    for (const Write& write : groups[k]) Recorder::Put(cut, write);
                for (std::size_t w = 0; w < group.size(); ++w)
                    if (stored >> w & 1) Recorder::Put(cut, group[w]);
                Plan second;
                EXPECT_EQ(Repaired(cut, second).Head(), Sparse(after).Head()) << "group " << g << ", writes " << stored;
            }
        }
    }
}

}  // namespace
