// wavfx and the library in one process, every system call of a command failed in
// turn as SQLite's tests fail the Nth call: an errno, an interrupted call, a
// short transfer, a kill, and a power cut that drops what was never synced.
// Each run is a child process started fresh; the first, without a fault, says
// how many calls there are and what the command's outputs are when all goes well.
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>

#include <gtest/gtest.h>

#include "commands/Dispatch.h"
#include "support/AlsaFileDevice.h"
#include "support/FaultyCalls.h"
#include "support/TestFiles.h"
#include "system/Cleanup.h"
#include "system/System.h"

namespace {

using testing_support::Act;
using testing_support::Bytes;
using testing_support::CallKind;
using testing_support::TempDir;

enum class Fault { None, Eio, Enospc, Eintr, Short, Kill, PowerCut };
const char* const FaultNames[] = {"none", "EIO", "ENOSPC", "EINTR", "short transfer", "kill", "power cut"};

// ---- In the child: the injector behind every system call ----

struct Injection {
    int target = 0;
    Fault fault = Fault::None;
    std::atomic<int> calls{0};
    std::atomic<bool> cut{false};
    std::string root;  // the run's folder, where a power cut looks for the files it rolls back
} injection;

// What is on stable storage of each file written, by inode: a power cut puts it back.
std::mutex durableLock;
std::map<std::pair<dev_t, ino_t>, Bytes> durable;

Bytes ContentOf(const char* path) {
    Bytes bytes;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    unsigned char run[65536];
    for (ssize_t got; fd >= 0 && (got = read(fd, run, sizeof run)) > 0;) bytes.insert(bytes.end(), run, run + got);
    if (fd >= 0) close(fd);
    return bytes;
}

// `fd`'s file as it is now is durable (after a sync), or as it was before this open (first seen).
void Remember(int fd, const Bytes* before) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    std::lock_guard<std::mutex> held(durableLock);
    const auto key = std::make_pair(info.st_dev, info.st_ino);
    if (before == nullptr)
        durable[key] = ContentOf(self.c_str());
    else
        durable.emplace(key, *before);
}

int RollBack(const char* path, const struct stat* info, int kind, FTW*) {
    if (kind != FTW_F) return 0;
    const auto found = durable.find({info->st_dev, info->st_ino});
    if (found == durable.end()) return 0;
    const int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd >= 0) {
        (void)!write(fd, found->second.data(), found->second.size());
        close(fd);
    }
    return 0;
}

[[noreturn]] void PowerCut() {
    injection.cut = true;
    std::lock_guard<std::mutex> held(durableLock);
    nftw(injection.root.c_str(), RollBack, 16, FTW_PHYS);
    raise(SIGKILL);
    for (;;) pause();
}

// The call the fault met, for the parent's message.
void Tell(const std::string& call) {
    const int fd = open((injection.root + "/struck").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        (void)!write(fd, call.data(), call.size());
        close(fd);
    }
}

// The one injector, behind every system call of wavfx and the library alike.
class Harness final : public testing_support::Injector {
public:
    Act Before(const char* call, CallKind kind, int fd) override {
        while (injection.cut) pause();  // after the cut nothing more reaches the disk
        if (++injection.calls != injection.target) return Act::Pass;
        char target[256] = {};  // what the descriptor is, for the message
        if (fd >= 0) (void)!readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
        Tell(std::string(call) + (fd >= 0 ? " " : "") + target);
        switch (injection.fault) {
            case Fault::Kill: raise(SIGKILL); return Act::Pass;
            case Fault::PowerCut: PowerCut();
            case Fault::Eintr: return kind == CallKind::Plain ? Act::Pass : Act::Fail;
            case Fault::Short: return kind == CallKind::Transfer ? Act::Shorten : Act::Pass;
            default: return Act::Fail;
        }
    }
    int Error() const override {
        return injection.fault == Fault::Eio ? EIO : injection.fault == Fault::Enospc ? ENOSPC : EINTR;
    }
    // A file opened for writing is durable as it was before the open; a sync makes it durable as it is.
    Bytes Opening(const char* name, int flags) override {
        struct stat info;
        const bool writes = (flags & O_ACCMODE) != O_RDONLY;
        return writes && stat(name, &info) == 0 && S_ISREG(info.st_mode) ? ContentOf(name) : Bytes();
    }
    void Opened(int fd, int flags, const Bytes& before) override {
        if ((flags & O_ACCMODE) != O_RDONLY) Remember(fd, &before);
    }
    void Synced(int fd) override { Remember(fd, nullptr); }
} harness;

// ---- In the parent: scenarios and what every run must leave ----

enum class Check { Outputs, Repair, Recording };

struct Scenario {
    Scenario(std::vector<std::string> args, std::map<std::string, Bytes> inputs, std::map<std::string, Bytes> existing,
             std::vector<std::string> outputs)
        : args(std::move(args)), inputs(std::move(inputs)), existing(std::move(existing)), outputs(std::move(outputs)) {}
    std::vector<std::string> args;                       // after "wavfx"
    std::map<std::string, Bytes> inputs;                 // written first; never changed
    std::map<std::string, Bytes> existing;               // outputs there before: kept or replaced whole
    std::vector<std::string> outputs;                    // absent (or as they were), or as a clean run leaves them
    Bytes standardInput;                                 // through a pipe, when not empty
    Check check = Check::Outputs;
    std::vector<Fault> faults = {Fault::Eio, Fault::Enospc, Fault::Eintr, Fault::Short, Fault::Kill, Fault::PowerCut};
};

struct Result {
    int status = 0;  // the exit status, or minus the signal
    int calls = 0;
    std::string out, err;
    std::map<std::string, std::optional<Bytes>> files;
};

std::string Text(const std::string& path) {
    const Bytes bytes = ContentOf(path.c_str());
    return std::string(bytes.begin(), bytes.end());
}

Result RunOnce(const Scenario& scenario, const TempDir& dir, Fault fault, int target) {
    for (const auto& [name, bytes] : scenario.inputs) testing_support::WriteFile(dir.Path(name), bytes);
    for (const auto& [name, bytes] : scenario.existing) testing_support::WriteFile(dir.Path(name), bytes);
    mkdir(dir.Path("tmp").c_str(), 0700);
    int input[2], count[2];
    if (pipe(input) != 0 || pipe(count) != 0) ADD_FAILURE() << "no pipe";
    (void)!write(input[1], scenario.standardInput.data(), scenario.standardInput.size());  // within a pipe's room
    close(input[1]);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(20);  // a run that hangs is killed, and the parent says so
        close(count[0]);
        dup2(input[0], STDIN_FILENO);
        dup2(open(dir.Path("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        dup2(open(dir.Path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        if (chdir(dir.Root().c_str()) != 0) _exit(99);
        setenv("TMPDIR", dir.Path("tmp").c_str(), 1);
        injection.target = target;
        injection.fault = fault;
        injection.root = dir.Root();
        const velorik::sys::SystemCalls faulty = testing_support::FaultyCalls(harness);
        velorik::sys::ScopedSystemCalls inForce(faulty);
        wavfx::sys::InitProcess();
        wavfx::cleanup::Install();
        std::vector<std::string> all = {"wavfx"};
        all.insert(all.end(), scenario.args.begin(), scenario.args.end());
        const int status = wavfx::RunCommandLine(all);
        std::fflush(stdout);
        const int calls = injection.calls;
        (void)!write(count[1], &calls, sizeof calls);
        _exit(status);
    }
    close(input[0]);
    close(count[1]);
    Result result;
    if (read(count[0], &result.calls, sizeof result.calls) != sizeof result.calls) result.calls = -1;
    close(count[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    result.out = Text(dir.Path("stdout"));
    result.err = Text(dir.Path("stderr"));
    for (const std::string& name : scenario.outputs) {
        struct stat info;
        result.files[name] = stat(dir.Path(name).c_str(), &info) == 0 ? std::optional<Bytes>(ContentOf(dir.Path(name).c_str()))
                                                                       : std::nullopt;
    }
    return result;
}

// What wavfx made and left behind: temporaries beside the outputs, FIFOs and their folders in TMPDIR.
std::vector<std::string> Leftovers(const TempDir& dir) {
    std::vector<std::string> left;
    for (const std::string& folder : {dir.Root(), dir.Path("tmp"), dir.Path("outdir")}) {
        if (DIR* d = opendir(folder.c_str())) {
            while (dirent* entry = readdir(d)) {
                const std::string name = entry->d_name;
                if (name.rfind(".wavfx-", 0) == 0 || name.rfind("wavfx-", 0) == 0) left.push_back(folder + "/" + name);
            }
            closedir(d);
        }
    }
    return left;
}

// A recording is the old one as it was, or a valid WAV whose header counts whole
// blocks that are all there: exactly those, unless the process never got to finish.
void ExpectValidRecording(const std::optional<Bytes>& file, const std::optional<Bytes>& old, bool ended) {
    if (!file || file == old) return;
    ASSERT_GE(file->size(), 44u) << "never an empty file or a bare placeholder";
    const uint32_t data = testing_support::ReadU32(*file, 40);
    EXPECT_EQ(std::string(file->begin(), file->begin() + 4), "RIFF");
    EXPECT_EQ(testing_support::ReadU32(*file, 4), data + 36);
    EXPECT_EQ(data % 16000, 0u) << "whole blocks";
    if (ended)
        EXPECT_GE(file->size(), 44u + data) << "every counted block present";
    else
        EXPECT_EQ(file->size(), 44u + data) << "the header counts every block there";
}

void Verify(const Scenario& scenario, const TempDir& dir, Fault fault, const Result& clean, const Result& run) {
    for (const auto& [name, bytes] : scenario.inputs) EXPECT_EQ(testing_support::ReadFile(dir.Path(name)), bytes) << name;
    const bool ended = fault == Fault::Kill || fault == Fault::PowerCut;
    EXPECT_NE(run.status, -SIGALRM) << "hung: " << run.err;
    if (!ended) {
        // Nothing of wavfx's own left, or said to be (a removal that failed).
        for (const std::string& left : Leftovers(dir))
            EXPECT_NE(run.err.find(left.substr(left.rfind('/') + 1) + ": left behind: "), std::string::npos) << left;
        const bool harmless = fault == Fault::Eintr || fault == Fault::Short;
        if (harmless) {
            EXPECT_EQ(run.status, 0) << run.err;
        }
        if (run.status == 0) {
            EXPECT_EQ(run.out, clean.out);
        } else {
            EXPECT_EQ(run.status, 1) << run.err;
            EXPECT_NE(run.err.find(std::strerror(fault == Fault::Eio ? EIO : ENOSPC)), std::string::npos)
                << "the system's reason: " << run.err;
            // The file the fault struck, as the user knows it: an input, or an output (its temporary too).
            const std::string struck = Text(dir.Path("struck")), target = struck.substr(struck.find(' ') + 1);
            const std::string base = target.substr(target.rfind('/') + 1);
            std::vector<std::string> names;
            for (const auto& [name, bytes] : scenario.inputs)
                if (target == dir.Path(name)) names.push_back(name);
            for (const std::string& name : scenario.outputs)
                if (target == dir.Path(name) || base.rfind(".wavfx-", 0) == 0) names.push_back(name);
            const bool named = std::any_of(names.begin(), names.end(),
                                           [&](const std::string& n) { return run.err.find("wavfx: " + n + ": ") != std::string::npos; });
            EXPECT_TRUE(names.empty() || named) << "names the file struck (" << struck << "): " << run.err;
        }
    }
    for (const std::string& name : scenario.outputs) {
        SCOPED_TRACE(name);
        const std::optional<Bytes>& got = run.files.at(name);
        const auto before = scenario.existing.find(name);
        const std::optional<Bytes> old =
            before == scenario.existing.end() ? std::nullopt : std::optional<Bytes>(before->second);
        if (scenario.check == Check::Recording) {
            ExpectValidRecording(got, old, ended);
            continue;
        }
        if (got == clean.files.at(name)) continue;
        if (run.status == 0 && !ended) ADD_FAILURE() << "success with an output that is not the clean run's: " << run.err;
        if (scenario.check == Check::Repair && got) {
            // A repair cut short is finished by the next one.
            const Result again = RunOnce(Scenario{scenario.args, {}, {}, scenario.outputs}, dir, Fault::None, 0);
            EXPECT_EQ(again.files.at(name), clean.files.at(name)) << "a second repair completes it";
            continue;
        }
        EXPECT_EQ(got, old) << "absent, or as it was";
    }
}

int RunScenario(const Scenario& scenario) {
    const TempDir cleanDir;
    const Result clean = RunOnce(scenario, cleanDir, Fault::None, 0);
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_GT(clean.calls, 0);
    int runs = 0;
    for (const Fault fault : scenario.faults) {
        // A few calls past the clean run's count: threads may make them in another order.
        for (int target = 1; target <= clean.calls + 3; ++target, ++runs) {
            const TempDir dir;
            const Result run = RunOnce(scenario, dir, fault, target);
            SCOPED_TRACE(std::string(FaultNames[static_cast<int>(fault)]) + " at call " + std::to_string(target) + " (" +
                         Text(dir.Path("struck")) + ")");
            Verify(scenario, dir, fault, clean, run);
            if (::testing::Test::HasFailure()) return runs;
        }
    }
    std::printf("%d calls, %zu faults, %d runs\n", clean.calls, scenario.faults.size(), runs);
    return runs;
}

// ---- The scenarios ----

Bytes Wav(std::size_t samples, const Bytes& chunkBeforeData = {}) {
    std::vector<int16_t> values(samples);
    for (std::size_t i = 0; i < samples; ++i) values[i] = static_cast<int16_t>(i * 40503);
    Bytes bytes = testing_support::MakeWav(values);
    if (!chunkBeforeData.empty()) {
        bytes.insert(bytes.begin() + 36, chunkBeforeData.begin(), chunkBeforeData.end());
        const uint32_t riff = static_cast<uint32_t>(bytes.size() - 8);
        std::memcpy(bytes.data() + 4, &riff, 4);
    }
    return bytes;
}

const Bytes List = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};

TEST(Faults, DistortAFileIntoANewOutput) {
    EXPECT_GT(RunScenario({{"distort", "in.wav", "out.wav", "1000"}, {{"in.wav", Wav(20000)}}, {}, {"out.wav"}}), 100);
}

TEST(Faults, DistortOverAnOutputWithChunksAroundTheSamples) {
    EXPECT_GT(RunScenario({{"distort", "in.wav", "out.wav", "1000", "-y"}, {{"in.wav", Wav(20000, List)}},
                           {{"out.wav", Bytes(100, 7)}}, {"out.wav"}}),
              100);
}

TEST(Faults, DistortFromAPipe) {
    Scenario scenario{{"distort", "-", "out.wav", "1000"}, {}, {}, {"out.wav"}};
    scenario.standardInput = Wav(12000, List);
    EXPECT_GT(RunScenario(scenario), 100);
}

TEST(Faults, DistortOversampledFromAPipe) {
    Scenario scenario{{"distort", "-", "out.wav", "1000", "--oversample", "4"}, {}, {}, {"out.wav"}};
    scenario.standardInput = Wav(12000, List);
    EXPECT_GT(RunScenario(scenario), 100);
}

TEST(Faults, DistortABatchIntoAFolder) {
    EXPECT_GT(RunScenario({{"distort", "-t", "1000", "a.wav", "b.wav", "-o", "outdir", "-j", "1"},
                           {{"a.wav", Wav(8000)}, {"b.wav", Wav(6000, List)}},
                           {},
                           {"outdir/a.wav", "outdir/b.wav"}}),
              100);
}

TEST(Faults, InfoInJson) {
    EXPECT_GT(RunScenario({{"info", "--json", "in.wav"}, {{"in.wav", Wav(20000, List)}}, {}, {}}), 20);
}

TEST(Faults, RepairAStreamedWav) {
    Bytes streamed = Wav(16000, List);
    for (const std::size_t at : {std::size_t{4}, streamed.size() - 32000 - 4})
        std::memset(streamed.data() + at, 0xFF, 4);
    Scenario scenario{{"repair", "f.wav"}, {}, {{"f.wav", streamed}}, {"f.wav"}};
    scenario.check = Check::Repair;
    EXPECT_GT(RunScenario(scenario), 20);
}

TEST(Faults, RecordABlock) {
    const TempDir device;
    testing_support::AlsaFileDevice alsa(device, 60);
    Scenario scenario{{"record", "-q", "-d", "1", "r.wav"}, {}, {}, {"r.wav"}};
    scenario.check = Check::Recording;
    EXPECT_GT(RunScenario(scenario), 20);
}

TEST(Faults, RecordOverAnOldRecording) {
    const TempDir device;
    testing_support::AlsaFileDevice alsa(device, 60);
    Scenario scenario{{"record", "-q", "-d", "1", "-y", "r.wav"}, {}, {{"r.wav", Wav(16000)}}, {"r.wav"}};
    scenario.check = Check::Recording;
    scenario.faults = {Fault::Enospc, Fault::PowerCut};
    EXPECT_GT(RunScenario(scenario), 20);
}

}  // namespace
