// The library's system-call layer with each of its calls failed in turn, as
// SQLite's tests fail the Nth call: an errno, an interrupted call, a short
// transfer. A pass by name and through FIFOs either succeeds with the right
// bytes or fails with the injected errno and the input untouched.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cerrno>
#include <thread>

#include <gtest/gtest.h>

#include "syscalls/SystemCalls.h"
#include "support/TestFiles.h"
#include "distortion/WAVDistortion.h"

namespace velorik::platform {
namespace {

using namespace testing_support;

enum class Fault { Eio, Enospc, Eintr, Short };

// The call to fail (counted across the whole table, from 1) and how.
struct Injection {
    int target = 0, calls = 0;
    Fault fault = Fault::Eio;
    bool fired = false;
} injection;

// What a call can be made to do besides failing with EIO or ENOSPC.
enum Can { Stat = 0, Interrupt = 1, Transfer = 3 };

// True when this call is the one to fail, and the fault is one it can meet.
bool Strike(Can can) {
    if (++injection.calls != injection.target) return false;
    if ((injection.fault == Fault::Short && can != Transfer) || (injection.fault == Fault::Eintr && can == Stat))
        return false;
    injection.fired = true;
    return true;
}

int Failure() {
    errno = injection.fault == Fault::Eio ? EIO : injection.fault == Fault::Enospc ? ENOSPC : EINTR;
    return -1;
}

std::size_t Shorter(std::size_t size) { return injection.fault == Fault::Short && size > 1 ? size / 2 : size; }

const SystemCalls Faulty = {
    [](const char* name, int flags, mode_t mode) { return Strike(Interrupt) ? Failure() : RealSystemCalls.open(name, flags, mode); },
    [](int fd, void* bytes, std::size_t size) -> ssize_t {
        if (Strike(Transfer) && injection.fault != Fault::Short) return Failure();
        return RealSystemCalls.read(fd, bytes, injection.fired ? Shorter(size) : size);
    },
    [](int fd, const void* bytes, std::size_t size) -> ssize_t {
        if (Strike(Transfer) && injection.fault != Fault::Short) return Failure();
        return RealSystemCalls.write(fd, bytes, injection.fired ? Shorter(size) : size);
    },
    [](int fd, const void* bytes, std::size_t size, off_t at) -> ssize_t {
        if (Strike(Transfer) && injection.fault != Fault::Short) return Failure();
        return RealSystemCalls.pwrite(fd, bytes, injection.fired ? Shorter(size) : size, at);
    },
    [](int fd, struct stat* info) { return Strike(Stat) ? Failure() : RealSystemCalls.fstat(fd, info); },
    [](const char* name, struct stat* info) { return Strike(Stat) ? Failure() : RealSystemCalls.stat(name, info); },
    [](int fd) { return Strike(Interrupt) ? Failure() : RealSystemCalls.fdatasync(fd); },
    [](int fd, off_t size) { return Strike(Interrupt) ? Failure() : RealSystemCalls.ftruncate(fd, size); },
    [](int fd) {
        const int status = RealSystemCalls.close(fd);  // released either way, as Linux does
        return Strike(Interrupt) ? Failure() : status;
    },
    [](int fd, int command, struct flock* range) { return Strike(Stat) ? Failure() : RealSystemCalls.fcntl(fd, command, range); },
};

struct Scenario {
    const char* name;
    bool fifos;  // the input and the output are FIFOs a thread feeds and drains
};

TEST(SystemCallFaults, EveryCallOfAPassFailedInTurnWithEachFault) {
    std::vector<int16_t> samples(40000);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 40503);
    const Bytes in = MakeWav(samples);
    Bytes expected(in.begin(), in.begin() + 44);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const int16_t s = samples[i] > 1000 ? 1000 : samples[i] < -1000 ? -1000 : samples[i];
        const Bytes le = Le16({s});
        expected.insert(expected.end(), le.begin(), le.end());
    }
    int runs = 0;
    // The drainer may be gone by the time the test wakes it.
    const auto savedPipe = std::signal(SIGPIPE, SIG_IGN);
    for (const Scenario scenario : {Scenario{"by name", false}, Scenario{"through FIFOs", true}}) {
        for (const Fault fault : {Fault::Eio, Fault::Enospc, Fault::Eintr, Fault::Short}) {
            for (int target = 1;; ++target, ++runs) {
                SCOPED_TRACE(std::string(scenario.name) + " fault " + std::to_string(static_cast<int>(fault)) +
                             " at call " + std::to_string(target));
                TempDir dir;
                const std::string inName = dir.Path("in.wav"), outName = dir.Path("out.wav");
                Bytes got;
                std::thread feeder, drainer;
                std::atomic<bool> fed{false}, passDone{false};
                if (scenario.fifos) {
                    ASSERT_EQ(mkfifo(inName.c_str(), 0600), 0);
                    ASSERT_EQ(mkfifo(outName.c_str(), 0600), 0);
                    // Each end opened read-write, so that neither waits for a pass that failed early.
                    feeder = std::thread([&] {
                        const int fd = open(inName.c_str(), O_RDWR);
                        (void)!write(fd, in.data(), in.size());
                        close(fd);
                        fed = true;
                    });
                    drainer = std::thread([&] {
                        const int fd = open(outName.c_str(), O_RDWR);
                        unsigned char run[4096];
                        for (ssize_t n; !passDone && got.size() < expected.size() && (n = read(fd, run, sizeof run)) > 0;)
                            got.insert(got.end(), run, run + n);
                        close(fd);
                    });
                } else {
                    WriteFile(inName, in);
                }
                injection = Injection{target, 0, fault, false};
                int32_t status;
                int why;
                {
                    ScopedSystemCalls faulty(Faulty);
                    status = WAVDistortion(Utf16(inName).c_str(), Utf16(outName).c_str(), 1000);
                    why = errno;
                }
                if (scenario.fifos) {
                    if (status != StatusSuccess) {  // what the pass left unread and unwritten
                        const int reader = open(inName.c_str(), O_RDONLY | O_NONBLOCK);
                        unsigned char run[4096];
                        while (!fed) (void)!read(reader, run, sizeof run);
                        close(reader);
                        passDone = true;
                        const int writer = open(outName.c_str(), O_WRONLY | O_NONBLOCK);
                        (void)!write(writer, run, 1);
                        close(writer);
                    }
                    feeder.join();
                    drainer.join();
                } else {
                    got = Exists(outName) ? ReadFile(outName) : Bytes();
                    EXPECT_EQ(ReadFile(inName), in) << "the input is never changed";
                }
                if (injection.calls < target) break;  // past the pass's last call
                if (!injection.fired) continue;        // a call this fault cannot meet
                if (fault == Fault::Eintr || fault == Fault::Short || status == StatusSuccess) {
                    EXPECT_EQ(status, StatusSuccess);
                    EXPECT_EQ(got, expected);
                } else {
                    EXPECT_TRUE(status == StatusOpenFailed || status == StatusIOFailed) << status;
                    EXPECT_EQ(why, fault == Fault::Eio ? EIO : ENOSPC) << "the failing call's errno";
                }
            }
        }
    }
    std::signal(SIGPIPE, savedPipe);
    EXPECT_GT(runs, 40);
}

}  // namespace
}  // namespace velorik::platform
