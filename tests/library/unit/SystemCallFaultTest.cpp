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

#include "distortion/WAVDistortion.h"
#include "support/FaultyCalls.h"
#include "support/TestFiles.h"

namespace velorik::platform {
namespace {

using namespace testing_support;

enum class Fault { Eio, Enospc, Eintr, Short };

// Fails the `target`th call (counted across the whole table, from 1), where the fault is one it can meet.
class Counting final : public Injector {
public:
    Counting(int target, Fault fault) : target_(target), fault_(fault) {}
    Act Before(const char*, CallKind kind, int) override {
        if (++calls != target_) return Act::Pass;
        if ((fault_ == Fault::Short && kind != CallKind::Transfer) || (fault_ == Fault::Eintr && kind == CallKind::Plain))
            return Act::Pass;
        fired = true;
        return fault_ == Fault::Short ? Act::Shorten : Act::Fail;
    }
    int Error() const override { return fault_ == Fault::Eio ? EIO : fault_ == Fault::Enospc ? ENOSPC : EINTR; }
    int calls = 0;
    bool fired = false;

private:
    int target_;
    Fault fault_;
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
                Counting injection(target, fault);
                const sys::SystemCalls faultyCalls = FaultyCalls(injection);
                int32_t status;
                int why;
                {
                    sys::ScopedSystemCalls faulty(faultyCalls);
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
