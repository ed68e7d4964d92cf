// The system-call table's rules, each entry put in another's place by name: what
// an interrupted, short or empty call makes of a helper, and the locks a host sees.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "support/TestFiles.h"
#include "syscalls/SystemCalls.h"

namespace {

using namespace velorik::sys;
using testing_support::TempDir;

// What the stand-ins below do on their next calls: fail with `error` `failures` times, then
// move at most `most` bytes a call.
struct Script {
    int failures = 0, error = 0;
    std::size_t most = 1 << 30;
    int calls = 0, flags = 0;
} script;

template <typename Call>
auto Scripted(Call real) {
    ++script.calls;
    if (script.failures > 0) {
        --script.failures;
        errno = script.error;
        return decltype(real(std::size_t{0}))(-1);
    }
    return real(script.most);
}

ssize_t Write(int fd, const void* bytes, std::size_t size) {
    return Scripted([&](std::size_t most) { return RealSystemCalls.write(fd, bytes, std::min(size, most)); });
}
ssize_t Read(int fd, void* bytes, std::size_t size) {
    return Scripted([&](std::size_t most) { return RealSystemCalls.read(fd, bytes, std::min(size, most)); });
}
ssize_t WriteNothing(int, const void*, std::size_t) { return 0; }
int Sync(int fd) { return Scripted([&](std::size_t) { return RealSystemCalls.fdatasync(fd); }); }
int Open(const char* name, int flags, mode_t mode) {
    script.flags = flags;
    return Scripted([&](std::size_t) { return RealSystemCalls.open(name, flags, mode); });
}

TEST(SystemCalls, TheRulesHoldWhateverACallDoes) {
    TempDir dir;
    const std::string path = dir.Path("f");
    const std::string data(100000, 'x');
    struct Row {
        const char* what;
        Script script;
        bool written;  // WriteFully succeeds
        int error;     // otherwise with the errno the failing call left
    } rows[] = {
        {"interrupted twice", {2, EINTR}, true, 0},
        {"a byte at a time", {0, 0, 1}, true, 0},
        {"short and interrupted", {3, EINTR, 777}, true, 0},
        {"a disk that is full", {1, ENOSPC}, false, ENOSPC},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const int fd = OpenFile(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        {
            script = row.script;
            ScopedSystemCall write(&SystemCalls::write, Write);
            EXPECT_EQ(WriteFully(fd, data.data(), data.size()), row.written);
            if (!row.written) {
                EXPECT_EQ(errno, row.error);
            }
        }
        if (row.written) {
            std::string back(data.size() + 10, '\0');
            script = row.script;
            ScopedSystemCall read(&SystemCalls::read, Read);
            ASSERT_EQ(Calls().lseek(fd, 0, SEEK_SET), 0);
            EXPECT_EQ(ReadFully(fd, back.data(), back.size()), static_cast<long long>(data.size())) << "to the end";
            EXPECT_EQ(back.substr(0, data.size()), data);
        }
        CloseFile(fd);
    }
}

TEST(SystemCalls, EdgesOfTheRules) {
    TempDir dir;
    const std::string path = dir.Path("f");
    {
        ScopedSystemCall open(&SystemCalls::open, Open);
        script = Script{1, EINTR};
        const int fd = OpenFile(path.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0) << "an interrupted open is made again";
        EXPECT_NE(script.flags & O_CLOEXEC, 0) << "every descriptor close-on-exec";
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
        {
            ScopedSystemCall write(&SystemCalls::write, WriteNothing);
            errno = 0;
            EXPECT_FALSE(WriteFully(fd, "ab", 2)) << "a write that moves nothing and says nothing would loop for ever";
            EXPECT_EQ(errno, EIO);
        }
        ScopedSystemCall sync(&SystemCalls::fdatasync, Sync);
        for (const auto& [error, durable] : {std::pair{EINTR, true}, std::pair{EINVAL, true}, std::pair{EIO, false}}) {
            script = Script{1, error};
            EXPECT_EQ(SyncData(fd), durable) << "after " << error << ": made again, nothing to make durable, or failed";
        }
        EXPECT_TRUE(CloseFile(fd));
    }
    EXPECT_EQ(Calls().open, RealSystemCalls.open) << "the table before comes back";
}

TEST(SystemCalls, AWriteLockIsSeenFromEveryOtherDescriptorUntilItsOwnCloses) {
    TempDir dir;
    const std::string path = dir.Path("recording.wav");
    const int writer = OpenFile(path.c_str(), O_WRONLY | O_CREAT, 0600), watcher = OpenFile(path.c_str(), O_RDONLY, 0);
    ASSERT_GE(writer, 0);
    ASSERT_GE(watcher, 0);
    EXPECT_EQ(LockedForWriting(watcher), 0);
    ASSERT_TRUE(LockForWriting(writer));
    EXPECT_EQ(LockedForWriting(watcher), 1) << "another descriptor of this very process sees it";
    const int other = OpenFile(path.c_str(), O_RDONLY, 0);
    CloseFile(other);
    EXPECT_EQ(LockedForWriting(watcher), 1) << "closing another descriptor of the file lets nothing go";
    CloseFile(writer);
    EXPECT_EQ(LockedForWriting(watcher), 0);
    CloseFile(watcher);
}

}  // namespace
