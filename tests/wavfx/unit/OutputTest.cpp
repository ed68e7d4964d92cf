// The output rule, over real files: what each kind of existing name and each of
// -y, -n and neither make of it, and that a commit replaces in one step.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/TestFiles.h"
#include "io/Output.h"

namespace {

using testing_support::TempDir;

TEST(OutputRule, EachKindOfNameAndEachChoice) {
    struct Row {
        const char* name;  // in the test's folder; "in" is the command's input
        wavfx::Existing existing;
        bool needsFile, opens, skipped, isFile;
        const char* error;
    } rows[] = {
        {"new.wav", wavfx::Existing::Refuse, false, true, false, true, ""},
        {"old.wav", wavfx::Existing::Refuse, false, false, false, false, "exists; -y replaces it, -n skips it"},
        {"old.wav", wavfx::Existing::Skip, false, false, true, false, "exists; skipped (-n)"},
        {"old.wav", wavfx::Existing::Replace, false, true, false, true, ""},
        {"in", wavfx::Existing::Replace, false, false, false, false, "is an input too"},
        {"link", wavfx::Existing::Replace, false, false, false, false, "is an input too"},
        {"folder", wavfx::Existing::Replace, false, false, false, false, "is a directory"},
        {"fifo", wavfx::Existing::Refuse, false, true, false, false, ""},
        {"fifo", wavfx::Existing::Refuse, true, false, false, false, "is not a regular file"},
    };
    TempDir dir;
    testing_support::WriteFile(dir.Path("old.wav"), {1, 2});
    testing_support::WriteFile(dir.Path("in"), {3});
    ASSERT_EQ(symlink(dir.Path("in").c_str(), dir.Path("link").c_str()), 0);
    ASSERT_EQ(mkdir(dir.Path("folder").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(dir.Path("fifo").c_str(), 0600), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " existing=" + std::to_string(static_cast<int>(row.existing)));
        wavfx::Output output;
        const wavfx::Status failure = output.Open(dir.Path(row.name), row.existing, wavfx::IdsOf({dir.Path("in")}), row.needsFile);
        EXPECT_EQ(!failure, row.opens);
        if (row.opens) {
            EXPECT_EQ(output.IsFile(), row.isFile);
            continue;
        }
        EXPECT_EQ(failure->skipped, row.skipped);
        EXPECT_EQ(failure->role, wavfx::Role::Output);
        EXPECT_NE(failure->Message().find(row.error), std::string::npos) << failure->Message();
    }
    EXPECT_EQ(testing_support::ReadFile(dir.Path("old.wav")), testing_support::Bytes({1, 2}));
}

TEST(OutputRule, CommitReplacesThroughTheTemporaryAndFollowsALink) {
    TempDir dir;
    testing_support::WriteFile(dir.Path("real.wav"), {1});
    ASSERT_EQ(symlink(dir.Path("real.wav").c_str(), dir.Path("named.wav").c_str()), 0);
    wavfx::Output output;
    ASSERT_FALSE(output.Open(dir.Path("named.wav"), wavfx::Existing::Replace, {}));
    ASSERT_FALSE(output.Begin());
    EXPECT_EQ(output.Temporary().rfind(dir.Root() + "/.wavfx-", 0), 0u) << "beside what it replaces";
    testing_support::WriteFile(output.Temporary(), {9, 9});
    EXPECT_EQ(testing_support::ReadFile(dir.Path("real.wav")), testing_support::Bytes({1}));
    ASSERT_FALSE(output.Commit());
    EXPECT_EQ(testing_support::ReadFile(dir.Path("real.wav")), testing_support::Bytes({9, 9}));
    struct stat info;
    ASSERT_EQ(lstat(dir.Path("named.wav").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "a link stays a link";
}

}  // namespace
