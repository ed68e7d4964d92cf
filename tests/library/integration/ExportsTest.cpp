// The library's boundary as a host sees it: what it exports and what loading it does.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>

#include "support/Library.h"
#include "support/TestFiles.h"

namespace {

using namespace testing_support;

std::set<std::string> DynamicSymbols() {
    const std::string command = std::string(VWD_NM) + " -D --defined-only " + VWD_LIBRARY_PATH;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) names.insert(name);
    }
    pclose(pipe);
    return names;
}

TEST(Exports, OnlyTheThreeFunctions) {
    EXPECT_EQ(DynamicSymbols(), (std::set<std::string>{"SoundRecorderStart", "SoundRecorderStop", "WAVDistortion"}));
}

TEST(Exports, LoadAndUnloadWithoutACallLeaveNothingBehind) {
    TempDir dir;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.Root().c_str()), 0);
    {
        Library lib;
        EXPECT_NE(lib.Symbol("WAVDistortion"), nullptr);
        EXPECT_EQ(lib.Symbol("ClipSample"), nullptr);
        EXPECT_TRUE(lib.Close());
    }
    {
        Library again;  // a second load in the same process starts afresh
        EXPECT_EQ(again.SoundRecorderStop(), 0);
    }
    ASSERT_EQ(chdir(previous), 0);
    DIR* listing = opendir(dir.Root().c_str());
    ASSERT_NE(listing, nullptr);
    int entries = 0;
    while (dirent* entry = readdir(listing))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") ++entries;
    closedir(listing);
    EXPECT_EQ(entries, 0);
}

}  // namespace
