#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "riff/WavFormat.h"
#include "support/RiffBytes.h"

using namespace velorik;
using namespace riffbytes;

namespace {

const std::string Samples(10, 'x');

// A pipe: its size unknown, read once, front to back.
class OnceThrough final : public ByteSource {
public:
    explicit OnceThrough(const std::string& bytes) : bytes_(bytes) {}
    long long ReadAt(uint64_t offset, void* out, std::size_t size) override {
        EXPECT_GE(offset, position_) << "a stream cannot go back";
        if (offset >= bytes_.size()) return 0;
        const std::size_t n = std::min<std::size_t>(size, bytes_.size() - offset);
        std::memcpy(out, bytes_.data() + offset, n);
        position_ = offset + n;
        return static_cast<long long>(n);
    }
    std::optional<uint64_t> Size() const override { return std::nullopt; }

private:
    std::string bytes_;
    uint64_t position_ = 0;
};

struct Case {
    const char* name;
    std::string bytes;
    uint64_t dataOffset, dataSize;
    bool toEnd;
    std::vector<std::string> ids;
    const char* refusal;  // what SampleFormatOf says, "" for a format it takes
    bool sizesMatch;
};

}  // namespace

TEST(RiffReader, ReadsTheLayoutsRealFilesHave) {
    const std::string list = Chunk("LIST", "INFOISFT" + Le(13, 4) + std::string("Lavf60.3.100", 13));  // odd: padded
    const std::vector<Case> cases = {
        {"the library's layout", Wave(Fmt() + Chunk("data", Samples)), 44, 10, false, {"fmt ", "data"}, "", true},
        {"ffmpeg's: LIST before data, a chunk after", Wave(Fmt() + list + Chunk("data", Samples) + Chunk("id3 ", "abc")),
         44 + list.size(), 10, false, {"fmt ", "LIST", "data", "id3 "}, "", true},
        {"data before fmt", Wave(Chunk("data", Samples) + Fmt()), 20, 10, false, {"data", "fmt "}, "", true},
        {"streamed: data size 0xFFFFFFFF", Wave(Fmt() + Chunk("data", Samples, 0xFFFFFFFF)), 44, 10, true,
         {"fmt ", "data"}, "", true},
        {"streamed: data size 0 before samples", Wave(Fmt() + Chunk("data", Samples, 0)), 44, 10, true, {"fmt ", "data"},
         "", true},
        {"an empty data chunk, then LIST", Wave(Fmt() + Chunk("data", "") + list), 44, 0, false, {"fmt ", "data", "LIST"},
         "", true},
        {"RF64 with its sizes in ds64", Wave(Ds64(74, 10) + Fmt() + Chunk("data", Samples, 0xFFFFFFFF), "RF64"), 80, 10,
         false, {"ds64", "fmt ", "data"}, "", false},
        {"RF64 streamed: ds64 sizes 0", Wave(Ds64(0, 0) + Fmt() + Chunk("data", Samples, 0xFFFFFFFF), "RF64"), 80, 10, true,
         {"ds64", "fmt ", "data"}, "", false},
        {"cut short: data says more", Wave(Fmt() + Chunk("data", Samples, 1000)), 44, 10, false, {"fmt ", "data"}, "", false},
        {"0 channels", Wave(Fmt(0) + Chunk("data", Samples)), 44, 10, false, {"fmt ", "data"}, "0 channels", true},
        {"block align 0", Wave(Fmt(1, 0) + Chunk("data", Samples)), 44, 10, false, {"fmt ", "data"}, "block align 0", true},
        {"24-bit", Wave(Fmt(1, 3, 24) + Chunk("data", Samples)), 44, 10, false, {"fmt ", "data"}, "", true},
        {"no data chunk", Wave(Fmt()), 0, 0, false, {"fmt "}, "no data chunk", false},
        {"fmt too short", Wave(Chunk("fmt ", "abcd") + Chunk("data", Samples)), 32, 10, false, {"fmt ", "data"},
         "the fmt chunk is too short", false},
        {"not a WAV", "OggS and then some bytes", 0, 0, false, {}, "not a WAV file", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySource source(c.bytes.data(), c.bytes.size());
        const auto layout = ReadWavLayout(source);
        ASSERT_TRUE(layout);
        std::string why;
        const bool read = SampleFormatOf(*layout, why).has_value();
        if (*c.refusal != 0)
            EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
        else
            EXPECT_TRUE(read) << why;
        if (!layout->isWave) continue;
        EXPECT_EQ(layout->dataOffset, c.dataOffset);
        EXPECT_EQ(layout->dataSize, c.dataSize);
        EXPECT_EQ(layout->dataToEnd, c.toEnd);
        std::vector<std::string> ids;
        for (const auto& chunk : layout->chunks) ids.push_back(chunk.id);
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(layout->problems.empty(), c.sizesMatch) << (layout->problems.empty() ? "" : layout->problems[0]);
    }
}

TEST(RiffReader, ReadsAStreamOnceUpToItsSamplesThenWhatFollows) {
    const std::string list = Chunk("LIST", "INFOx");
    struct StreamCase {
        std::string bytes;
        bool toEnd;
        std::vector<std::string> ids;  // once the samples have been read
    };
    const std::vector<StreamCase> cases = {
        {Wave(Fmt() + list + Chunk("data", Samples) + Chunk("id3 ", "tag")), false, {"fmt ", "LIST", "data", "id3 "}},
        {Wave(Fmt() + Chunk("data", Samples, 0xFFFFFFFF)), true, {"fmt ", "data"}},
        {Wave(Ds64(0, 0) + Fmt() + Chunk("data", Samples, 0xFFFFFFFF), "RF64"), true, {"ds64", "fmt ", "data"}},
    };
    for (const StreamCase& c : cases) {
        OnceThrough source(c.bytes);
        auto layout = ReadWavLayout(source);
        ASSERT_TRUE(layout);
        ASSERT_TRUE(IsPcm16(*layout));
        EXPECT_EQ(layout->dataToEnd, c.toEnd);
        EXPECT_EQ(layout->chunks.back().id, "data") << "stops where the samples start";
        // The caller reads the samples, then asks for the rest.
        char samples[64];
        const long long got = source.ReadAt(layout->dataOffset, samples, c.toEnd ? sizeof samples : Samples.size());
        ASSERT_EQ(got, static_cast<long long>(Samples.size()));
        layout->dataSize = static_cast<uint64_t>(got);
        ASSERT_TRUE(ReadChunksAfterData(source, *layout));
        std::vector<std::string> ids;
        for (const auto& chunk : layout->chunks) ids.push_back(chunk.id);
        EXPECT_EQ(ids, c.ids);
    }
    // A stream whose fmt comes after its samples cannot be read once.
    OnceThrough late(Wave(Chunk("data", Samples) + Fmt()));
    const auto layout = ReadWavLayout(late);
    ASSERT_TRUE(layout);
    std::string why;
    EXPECT_FALSE(SampleFormatOf(*layout, why));
    EXPECT_EQ(why, "no fmt chunk before the samples");
}

TEST(RiffReader, ReadsFilesPastFourGiBWhole) {
    const uint64_t size = 5ull << 30;
    Sparse streamed(Wave(Fmt() + Chunk("data", "", 0xFFFFFFFF)), size);
    Sparse rf64(Wave(Ds64(size - 8, size - 80) + Fmt() + Chunk("data", "", 0xFFFFFFFF), "RF64"), size);
    for (ByteSource* source : {static_cast<ByteSource*>(&streamed), static_cast<ByteSource*>(&rf64)}) {
        const auto layout = ReadWavLayout(*source);
        ASSERT_TRUE(layout);
        EXPECT_EQ(layout->dataOffset + layout->dataSize, size);
    }
}
