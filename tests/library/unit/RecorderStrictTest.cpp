// The recorder against the strict wave input at (accelerated) real-time pace:
// every sample in order with none lost and no wave call from the callback,
// twice in one process and across a 2 s write stall; and what a power cut at
// any moment leaves of a recording. Built for POSIX and for Windows (there the
// double is winmm.dll, loaded in place of Wine's).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "recorder/SoundRecorder.h"
#include "support/StrictWaveIn.h"

#ifdef _WIN32
// The double's own calls, from the winmm.dll this process loaded.
#define DOUBLE(name) \
    reinterpret_cast<decltype(&name)>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"winmm.dll"), #name)))
#else
#define DOUBLE(name) (&name)
#endif

namespace velorik {
namespace {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

constexpr uint32_t MsPerAudioSecond = 200;

StrictCounts Counts() {
    StrictCounts counts{};
    DOUBLE(StrictGetCounts)(&counts);
    return counts;
}

uint32_t U32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The recorder's header for some whole number of blocks, or -1.
long BlocksInHeader(const Bytes& file) {
    static const unsigned char fixed[] = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                                          0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a'};
    if (file.size() < 44 || !std::equal(fixed, fixed + sizeof fixed, file.begin() + 8) ||
        !std::equal(file.begin(), file.begin() + 4, "RIFF"))
        return -1;
    const uint32_t data = U32(file, 40);
    return U32(file, 4) == data + 36 && data % 16000 == 0 ? static_cast<long>(data / 16000) : -1;
}

// The ramp's samples from 0 as they lie in a file, `samples` of them.
Bytes Ramp(uint64_t samples) {
    Bytes bytes;
    for (uint64_t n = 0; n < samples; ++n) {
        const auto s = static_cast<uint16_t>(DOUBLE(StrictRamp)(n));
        bytes.push_back(static_cast<unsigned char>(s & 0xFF));
        bytes.push_back(static_cast<unsigned char>(s >> 8));
    }
    return bytes;
}

std::basic_string<VwdChar16> Name(const fs::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return path.u16string();
#endif
}

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The real files, but one block's write may stall like slow flash.
constexpr uint64_t NoStall = ~0ull;
std::atomic<uint64_t> stallOffset{NoStall};
bool StallingWriteAt(platform::FileHandle file, uint64_t offset, const void* bytes, std::size_t size) noexcept {
    if (offset == stallOffset.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2 * MsPerAudioSecond));
    return platform::SystemFiles.writeAt(file, offset, bytes, size);
}
const platform::FileOps StallingFiles = {platform::SystemFiles.create, StallingWriteAt, platform::SystemFiles.sync,
                                         platform::SystemFiles.cut, platform::SystemFiles.close};

TEST(RecorderAtPace, KeepsEverySampleInOrderTwiceAndAcrossAWriteStall) {
    const fs::path path = fs::temp_directory_path() / "vwd-strict-pace.wav";
    struct Case {
        const char* what;
        uint64_t stallOffset;
    } cases[] = {{"first recording", NoStall}, {"second recording", NoStall}, {"2 s stall writing block 1", 44 + 16000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StrictScript script{};
        script.pacedMsPerSecond = MsPerAudioSecond;
        DOUBLE(StrictReset)(&script);
        stallOffset = c.stallOffset;
        RecorderSeams stalling;
        stalling.files = &StallingFiles;
        const RecorderSeamsScope scope(stalling);
        ASSERT_EQ(SoundRecorderStart(Name(path).c_str()), StatusSuccess);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (Counts().samplesDelivered < 5 * 8000 + 4000 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int32_t blocks = SoundRecorderStop();

        const StrictCounts counts = Counts();
        EXPECT_EQ(counts.samplesDropped, 0u) << "samples arrived while no buffer was queued";
        EXPECT_EQ(counts.callsFromCallback, 0) << "wave calls from inside the callback";
        EXPECT_EQ(counts.lastUnprepare, MMSYSERR_NOERROR);
        EXPECT_EQ(counts.lastClose, MMSYSERR_NOERROR);
        ASSERT_GE(blocks, 6);
        const Bytes file = ReadAll(path);
        ASSERT_EQ(file.size(), 44u + 16000u * blocks);
        EXPECT_EQ(BlocksInHeader(file), blocks);
        // Gapless: every delivered sample in order, then silence to the block's end.
        Bytes expected = Ramp(counts.samplesDelivered);
        expected.resize(16000u * blocks, 0);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.begin() + 44));
    }
    fs::remove(path);
}

// A disk that keeps a journal of what the recorder asked of it.
struct Op {
    enum Kind { Write, Sync, Cut } kind;
    uint64_t offset;  // the size, for a cut
    Bytes bytes;
};
std::vector<Op> journal;

// A torn write keeps its first half. One within a sector (the header) lands
// whole or not at all, as sectors do.
void Apply(Bytes& image, const Op& op, bool torn = false) {
    if (op.kind == Op::Cut) {
        image.resize(op.offset);
    } else if (op.kind == Op::Write) {
        const std::size_t size = torn && op.bytes.size() > 512 ? op.bytes.size() / 2 : op.bytes.size();
        if (image.size() < op.offset + size) image.resize(op.offset + size);
        std::copy(op.bytes.begin(), op.bytes.begin() + static_cast<std::ptrdiff_t>(size), image.begin() + op.offset);
    }
}

platform::FileHandle JournalCreate(const VwdChar16*) noexcept {
    journal.clear();
    return 3;
}
bool JournalWrite(platform::FileHandle, uint64_t offset, const void* bytes, std::size_t size) noexcept {
    const auto* at = static_cast<const unsigned char*>(bytes);
    journal.push_back({Op::Write, offset, Bytes(at, at + size)});
    return true;
}
bool JournalSync(platform::FileHandle) noexcept {
    journal.push_back({Op::Sync, 0, {}});
    return true;
}
bool JournalCut(platform::FileHandle, uint64_t size) noexcept {
    journal.push_back({Op::Cut, size, {}});
    return true;
}
bool JournalClose(platform::FileHandle) noexcept { return true; }
const platform::FileOps JournalFiles = {JournalCreate, JournalWrite, JournalSync, JournalCut, JournalClose};

TEST(RecorderPowerCut, EveryMomentLeavesAValidWavOfDurableBlocksOnly) {
    StrictScript script{};
    script.partialAtStop = 3000;
    DOUBLE(StrictReset)(&script);
    RecorderSeams journaled;
    journaled.files = &JournalFiles;
    const RecorderSeamsScope scope(journaled);
    ASSERT_EQ(SoundRecorderStart(Name("journal.wav").c_str()), StatusSuccess);
    for (int b = 0; b < 3; ++b) ASSERT_TRUE(DOUBLE(StrictDeliver)(16000, 1, 2000));
    ASSERT_EQ(SoundRecorderStop(), 4);

    Bytes recorded = Ramp(3 * 8000 + 1500);
    recorded.resize(4 * 16000, 0);
    // The file is new: nothing of it is durable before its first sync.
    std::size_t synced = 0;
    while (synced < journal.size() && journal[synced].kind != Op::Sync) ++synced;
    ASSERT_LT(synced, journal.size());
    Bytes durable;
    for (std::size_t i = 0; i <= synced; ++i) Apply(durable, journal[i]);
    int images = 0;
    for (std::size_t cut = synced + 1; cut <= journal.size(); ++cut) {
        if (journal[cut - 1].kind == Op::Sync) {
            for (std::size_t i = synced + 1; i < cut; ++i) Apply(durable, journal[i]);
            synced = cut - 1;
        }
        // Each write since the last sync may be lost, torn in half or whole.
        const std::size_t pending = cut - 1 - synced;
        int combinations = 1;
        for (std::size_t i = 0; i < pending; ++i) combinations *= 3;
        for (int choice = 0; choice < combinations; ++choice) {
            Bytes image = durable;
            for (std::size_t i = 0, c = static_cast<std::size_t>(choice); i < pending; ++i, c /= 3)
                if (c % 3 != 0) Apply(image, journal[synced + 1 + i], c % 3 == 1);
            const long blocks = BlocksInHeader(image);
            ++images;
            ASSERT_GE(blocks, 0) << "not a valid WAV after operation " << cut;
            ASSERT_GE(durable.size(), 44u + 16000u * blocks) << "counts a block not on disk, at " << cut;
            ASSERT_TRUE(std::equal(recorded.begin(), recorded.begin() + 16000 * blocks, durable.begin() + 44))
                << "counts a block that is not durable, at " << cut;
        }
    }
    EXPECT_GT(images, 12);
    EXPECT_EQ(BlocksInHeader(durable), 4) << "the finished recording";
}

}  // namespace
}  // namespace velorik
