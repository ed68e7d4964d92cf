// The distortion pass through the real shared library, on real files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "support/Library.h"
#include "support/TestFiles.h"

namespace {

using namespace testing_support;

const std::string SuccessLine = "Distortion effect applied successfully.\n";

class Distortion : public ::testing::Test {
protected:
    // Runs the pass and returns its result, with what it printed on stdout.
    int32_t Run(const std::string& in, const std::string& out, int32_t threshold, std::string* printed = nullptr) {
        ::testing::internal::CaptureStdout();
        const int32_t status = lib.WAVDistortion(Utf16(in).c_str(), Utf16(out).c_str(), threshold);
        std::fflush(stdout);
        const std::string text = ::testing::internal::GetCapturedStdout();
        if (printed != nullptr) *printed = text;
        if (status == StatusSuccess) {
            EXPECT_EQ(text, SuccessLine);
        } else {
            EXPECT_EQ(text, "") << "nothing is printed on failure";
        }
        return status;
    }

    Library lib;
    TempDir dir;
};

std::vector<int16_t> Clip(std::vector<int16_t> samples, int32_t threshold) {
    const int t = static_cast<int16_t>(threshold & 0xFFFF);
    for (auto& s : samples) {
        if (s > t)
            s = static_cast<int16_t>(t);
        else if (s < -t)
            s = static_cast<int16_t>((-t) & 0xFFFF);
    }
    return samples;
}

TEST_F(Distortion, CopiesTheHeaderAndClipsEverySample) {
    const std::vector<int16_t> samples = {0, 150, -150, 99, -100, 32767, -32768, 101, -101, 7};
    for (int32_t threshold : {100, 0, 32767, 32768, -100, 65636, -32768, 1}) {
        SCOPED_TRACE(threshold);
        WriteFile(dir.Path("in.wav"), MakeWav(samples));
        ASSERT_EQ(Run(dir.Path("in.wav"), dir.Path("out.wav"), threshold), StatusSuccess);
        EXPECT_EQ(ReadFile(dir.Path("out.wav")), MakeWav(Clip(samples, threshold)));
    }
    // The examples of the rule, spelled out.
    WriteFile(dir.Path("in.wav"), MakeWav({150, -150, 99, -100, 0}));
    ASSERT_EQ(Run(dir.Path("in.wav"), dir.Path("out.wav"), 100), StatusSuccess);
    EXPECT_EQ(ReadFile(dir.Path("out.wav")), MakeWav({100, -100, 99, -100, 0}));
    ASSERT_EQ(Run(dir.Path("in.wav"), dir.Path("out.wav"), -100), StatusSuccess);
    EXPECT_EQ(ReadFile(dir.Path("out.wav")), MakeWav({-100, 100, -100, 100, -100}));
}

TEST_F(Distortion, LongFileCrossingManyRunsMatchesSampleBySample) {
    std::vector<int16_t> samples(100003);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 2654435761u >> 16);
    WriteFile(dir.Path("long.wav"), MakeWav(samples));
    ASSERT_EQ(Run(dir.Path("long.wav"), dir.Path("out.wav"), 12345), StatusSuccess);
    EXPECT_EQ(ReadFile(dir.Path("out.wav")), MakeWav(Clip(samples, 12345)));
}

TEST_F(Distortion, HeaderBlockIsOpaqueAndShortOrOddInputsAreHandled) {
    struct Case {
        const char* what;
        Bytes in, out;
    };
    Bytes stereo8 = MakeWav({}); // header fields are not read: a stereo 8-bit header changes nothing
    stereo8[22] = 2;
    stereo8[34] = 8;
    Bytes stereoIn = stereo8, stereoOut = stereo8;
    for (unsigned char b : {0x10, 0x27, 0xF0, 0xD8, 0x05, 0x00}) stereoIn.push_back(b);  // 10000, -10000, 5
    for (unsigned char b : {0xE8, 0x03, 0x18, 0xFC, 0x05, 0x00}) stereoOut.push_back(b);  // 1000, -1000, 5
    Bytes odd = MakeWav({2000, -2000});
    odd.push_back(0x7F);
    const Bytes header44 = MakeWav({});
    Bytes shortIn = {'R', 'I', 'F', 'F', 1, 2, 3};
    Bytes shortOut = shortIn;
    shortOut.resize(44, 0);
    const Case cases[] = {
        {"exactly 44 bytes", header44, header44},
        {"odd byte count drops the last byte", odd, MakeWav({1000, -1000})},
        {"stereo 8-bit taken as 16-bit pairs", stereoIn, stereoOut},
        {"shorter than a header is zero-padded", shortIn, shortOut},
        {"empty input", {}, Bytes(44, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir.Path("in.wav"), c.in);
        ASSERT_EQ(Run(dir.Path("in.wav"), dir.Path("out.wav"), 1000), StatusSuccess);
        EXPECT_EQ(ReadFile(dir.Path("out.wav")), c.out);
        EXPECT_EQ(ReadFile(dir.Path("in.wav")), c.in) << "the input is never changed";
    }
}

TEST_F(Distortion, SuccessLineOncePerCall) {
    WriteFile(dir.Path("in.wav"), MakeWav({1, 2, 3}));
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 3; ++i) lib.WAVDistortion(Utf16(dir.Path("in.wav")).c_str(), Utf16(dir.Path("o.wav")).c_str(), 9);
    lib.WAVDistortion(Utf16(dir.Path("nope.wav")).c_str(), Utf16(dir.Path("o.wav")).c_str(), 9);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), SuccessLine + SuccessLine + SuccessLine);
}

// A host whose output is a pipe and that ends without flushing C's buffers (Go does,
// as _exit does) still gets the line, before what it writes itself afterwards.
TEST_F(Distortion, SuccessLineReachesAPipeAtOnce) {
    WriteFile(dir.Path("in.wav"), MakeWav({1, 2, 3}));
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        const int32_t status = lib.WAVDistortion(Utf16(dir.Path("in.wav")).c_str(), Utf16(dir.Path("o.wav")).c_str(), 9);
        (void)!write(STDOUT_FILENO, "host\n", 5);
        _exit(status == StatusSuccess ? 0 : 1);
    }
    close(pipeEnds[1]);
    std::string seen;
    char run[256];
    for (ssize_t got; (got = read(pipeEnds[0], run, sizeof run)) > 0;) seen.append(run, static_cast<std::size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(seen, SuccessLine + "host\n");
}

TEST_F(Distortion, FilesThatDoNotOpenLoseNothing) {
    const Bytes original = MakeWav({500, -500});
    WriteFile(dir.Path("in.wav"), original);
    mkdir(dir.Path("folder").c_str(), 0755);
    ASSERT_EQ(link(dir.Path("in.wav").c_str(), dir.Path("hard.wav").c_str()), 0);
    ASSERT_EQ(symlink(dir.Path("in.wav").c_str(), dir.Path("soft.wav").c_str()), 0);
    struct Case {
        const char* what;
        std::string in, out;
        const char* mustNotExist;
    } cases[] = {
        {"missing input", dir.Path("missing.wav"), dir.Path("created.wav"), "created.wav"},
        {"directory as input", dir.Path("folder"), dir.Path("created.wav"), "created.wav"},
        {"empty input name", "", dir.Path("created.wav"), "created.wav"},
        {"output in a missing directory", dir.Path("in.wav"), dir.Path("no/such/out.wav"), "no"},
        {"output is the input", dir.Path("in.wav"), dir.Path("in.wav"), nullptr},
        {"output is a hard link to the input", dir.Path("in.wav"), dir.Path("hard.wav"), nullptr},
        {"output is a symlink to the input", dir.Path("in.wav"), dir.Path("soft.wav"), nullptr},
        {"input through a symlink, output the file", dir.Path("soft.wav"), dir.Path("in.wav"), nullptr},
        {"output is a directory", dir.Path("in.wav"), dir.Path("folder"), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Run(c.in, c.out, 100), StatusOpenFailed);
        EXPECT_EQ(ReadFile(dir.Path("in.wav")), original);
        if (c.mustNotExist) {
            EXPECT_FALSE(Exists(dir.Path(c.mustNotExist)));
        }
    }
}

TEST_F(Distortion, NullPathsAreRefused) {
    WriteFile(dir.Path("in.wav"), MakeWav({1}));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(lib.WAVDistortion(nullptr, Utf16(dir.Path("o.wav")).c_str(), 5), StatusOpenFailed);
    EXPECT_EQ(lib.WAVDistortion(Utf16(dir.Path("in.wav")).c_str(), nullptr, 5), StatusOpenFailed);
    EXPECT_EQ(lib.WAVDistortion(nullptr, nullptr, 5), StatusOpenFailed);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(Exists(dir.Path("o.wav")));
}

TEST_F(Distortion, WriteFailureIsReportedNotSuccess) {
    std::vector<int16_t> samples(50000, 1234);
    WriteFile(dir.Path("in.wav"), MakeWav(samples));
    EXPECT_EQ(Run(dir.Path("in.wav"), "/dev/full", 100), StatusIOFailed);
    EXPECT_EQ(ReadFile(dir.Path("in.wav")), MakeWav(samples));
    // Even a header-only output fails when its flush at close fails.
    WriteFile(dir.Path("small.wav"), MakeWav({}));
    EXPECT_EQ(Run(dir.Path("small.wav"), "/dev/full", 100), StatusIOFailed);
}

TEST_F(Distortion, DiskFillingMidwayIsReportedAndTheInputIsKept) {
    // A file-size limit stops the output part-way, as a full disk would; in a
    // child, so the limit stays there.
    std::vector<int16_t> samples(100000, -20000);
    WriteFile(dir.Path("in.wav"), MakeWav(samples));
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 50000;
        setrlimit(RLIMIT_FSIZE, &limit);
        std::freopen(dir.Path("stdout.txt").c_str(), "w", stdout);
        const int32_t status = lib.WAVDistortion(Utf16(dir.Path("in.wav")).c_str(), Utf16(dir.Path("out.wav")).c_str(), 5);
        std::fflush(stdout);
        _exit(status == StatusIOFailed ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the pass did not return StatusIOFailed";
    EXPECT_EQ(ReadFile(dir.Path("stdout.txt")), Bytes{}) << "no success line";
    EXPECT_EQ(ReadFile(dir.Path("in.wav")), MakeWav(samples));
}

TEST_F(Distortion, InputThatFailsToReadIsNotSuccess) {
    // Reading this process's memory at offset 0 fails with EIO: a read error, not an end.
    EXPECT_EQ(Run("/proc/self/mem", dir.Path("out.wav"), 5), StatusIOFailed);
}

TEST_F(Distortion, InputReplacedWhileReadIsReadToTheEndAndLeftAlone) {
    std::vector<int16_t> samples(300000, 9000);
    WriteFile(dir.Path("in.wav"), MakeWav(samples));
    WriteFile(dir.Path("other.wav"), MakeWav({1, 2, 3}));
    std::thread replace([&] { std::rename(dir.Path("other.wav").c_str(), dir.Path("in.wav").c_str()); });
    const int32_t status = Run(dir.Path("in.wav"), dir.Path("out.wav"), 100);
    replace.join();
    ASSERT_EQ(status, StatusSuccess);
    // The pass read whichever file it opened, whole; the replacement is untouched.
    const Bytes out = ReadFile(dir.Path("out.wav"));
    EXPECT_TRUE(out == MakeWav(Clip(samples, 100)) || out == MakeWav({1, 2, 3}));
    EXPECT_EQ(ReadFile(dir.Path("in.wav")), MakeWav({1, 2, 3}));
}

TEST_F(Distortion, NonAsciiNamesAndIllFormedNames) {
    const std::string in = dir.Path("wejście-ą-音-🎵.wav"), out = dir.Path("wyjście-ż.wav");
    WriteFile(in, MakeWav({300, -300}));
    ASSERT_EQ(Run(in, out, 200), StatusSuccess);
    EXPECT_EQ(ReadFile(out), MakeWav({200, -200}));

    std::basic_string<VwdChar16> lone = Utf16(dir.Path("x"));
    lone.push_back(static_cast<VwdChar16>(0xD800));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(lib.WAVDistortion(lone.c_str(), Utf16(out).c_str(), 1), StatusOpenFailed);
    EXPECT_EQ(lib.WAVDistortion(Utf16(in).c_str(), lone.c_str(), 1), StatusOpenFailed);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ReadFile(out), MakeWav({200, -200}));
}

TEST_F(Distortion, CallsOnDifferentFilesRunAtOnce) {
    constexpr int Threads = 4;
    std::vector<std::vector<int16_t>> inputs(Threads);
    for (int t = 0; t < Threads; ++t) {
        inputs[t].resize(200000);
        for (std::size_t i = 0; i < inputs[t].size(); ++i) inputs[t][i] = static_cast<int16_t>(i * (t + 3) * 977u);
        WriteFile(dir.Path("in" + std::to_string(t)), MakeWav(inputs[t]));
    }
    std::vector<int32_t> results(Threads);
    ::testing::internal::CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&, t] {
            results[t] = lib.WAVDistortion(Utf16(dir.Path("in" + std::to_string(t))).c_str(),
                                           Utf16(dir.Path("out" + std::to_string(t))).c_str(), 1000 * (t + 1));
        });
    for (auto& thread : threads) thread.join();
    std::fflush(stdout);
    ::testing::internal::GetCapturedStdout();
    for (int t = 0; t < Threads; ++t) {
        EXPECT_EQ(results[t], StatusSuccess);
        EXPECT_EQ(ReadFile(dir.Path("out" + std::to_string(t))), MakeWav(Clip(inputs[t], 1000 * (t + 1))));
    }
}

}  // namespace
