// Inputs as the RIFF reader sees them: a file read anywhere, a stream read once
// from its start, its bytes before the samples kept for the output.
#include <sys/stat.h>

#include <thread>

#include <gtest/gtest.h>

#include "support/TestFiles.h"
#include "io/Source.h"

namespace {

using testing_support::TempDir;

TEST(Source, AFileIsReadAnywhereAndAStreamOnceWithWhatItKept) {
    TempDir dir;
    testing_support::Bytes bytes(10000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
    testing_support::WriteFile(dir.Path("in.bin"), bytes);
    ASSERT_EQ(mkfifo(dir.Path("in.fifo").c_str(), 0600), 0);
    std::thread writer([&] { testing_support::WriteFile(dir.Path("in.fifo"), bytes); });
    for (const char* name : {"in.bin", "in.fifo"}) {
        SCOPED_TRACE(name);
        const bool file = std::string(name) == "in.bin";
        wavfx::Source source;
        ASSERT_FALSE(source.Open(dir.Path(name)));
        EXPECT_EQ(source.IsFile(), file);
        EXPECT_EQ(source.Size().has_value(), file);
        unsigned char got[100];
        // Ahead, back into what a stream kept, then on past it.
        const struct {
            std::uint64_t at;
            long long want;
        } reads[] = {{200, 100}, {20, 100}, {9950, 50}};
        for (const auto& read : reads) {
            ASSERT_EQ(source.ReadAt(read.at, got, static_cast<std::size_t>(read.want)), read.want) << source.Error();
            EXPECT_EQ(testing_support::Bytes(got, got + read.want),
                      testing_support::Bytes(bytes.begin() + read.at, bytes.begin() + read.at + read.want));
        }
        EXPECT_EQ(source.ReadAt(10000, got, 10), 0) << "the end is no error";
        if (!file) {
            EXPECT_EQ(source.Kept().size(), bytes.size());
            source.StopKeeping();
            EXPECT_EQ(source.ReadAt(0, got, 100), 100) << "what was kept is read again";
        }
    }
    writer.join();
    wavfx::Source folder;
    const wavfx::Status failure = folder.Open(dir.Root());
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Message(), "is a directory");
    EXPECT_EQ(failure->role, wavfx::Role::Input);
}

}  // namespace
