// How the samples reach the library and leave it, decided once per pass.
#include <gtest/gtest.h>

#include "work/Pass.h"

namespace {

velorik::WavLayout Layout(std::uint64_t dataOffset, std::uint64_t dataSize, bool sized = true, bool toEnd = false) {
    velorik::WavLayout layout;
    layout.dataOffset = dataOffset;
    layout.dataSize = dataSize;
    layout.sized = sized;
    layout.dataToEnd = toEnd;
    return layout;
}

TEST(PassPlan, WhereTheSamplesAreAndWhoOpensWhat) {
    const velorik::WavLayout library = Layout(44, 1001), ffmpeg = Layout(78, 100), dataFirst = Layout(20, 60),
                             streamed = Layout(44, 0, false, true);
    const struct Row {
        const char* what;
        const velorik::WavLayout* layout;
        bool inputIsFile, opensInput, outputIsFile, opensTemporary;
        bool direct, patch;
        std::uint64_t libraryStart;
        std::optional<std::uint64_t> sampleBytes;
    } rows[] = {
        {"file to file", &library, true, true, true, true, true, true, 44, 1000},
        {"LIST before data", &ffmpeg, true, true, true, true, true, true, 78, 100},
        {"to a pipe", &ffmpeg, true, true, false, false, true, false, 78, 100},
        {"a temporary the library cannot name", &ffmpeg, true, true, true, false, true, false, 78, 100},
        {"data inside the header block", &dataFirst, true, true, true, true, false, false, 44, 60},
        {"an input the library cannot name", &library, true, false, true, true, false, false, 44, 1000},
        {"a stream", &library, false, false, true, true, false, false, 44, 1000},
        {"streamed sizes", &streamed, false, false, true, true, false, false, 44, std::nullopt},
        {"--raw", nullptr, true, true, true, true, true, true, 0, std::nullopt},
        {"--raw from a stream", nullptr, false, false, true, true, false, false, 0, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const wavfx::PassPlan plan =
            wavfx::PlanPass(row.layout, row.inputIsFile, row.opensInput, row.outputIsFile, row.opensTemporary);
        EXPECT_EQ(plan.direct, row.direct);
        EXPECT_EQ(plan.patch, row.patch);
        EXPECT_EQ(plan.LibraryStart(), row.libraryStart);
        EXPECT_EQ(plan.sampleBytes, row.sampleBytes) << "whole samples only";
    }
}

}  // namespace
