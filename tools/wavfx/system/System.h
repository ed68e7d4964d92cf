// What wavfx needs of the OS, one implementation per OS (posix/, win32/).
// Names are UTF-8 throughout.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "system/Failure.h"

namespace wavfx::sys {

// Once at start: a write past a size limit fails with an error instead of
// ending the process.
void InitProcess();

// Routes SIGINT, SIGTERM, SIGHUP and SIGPIPE (those the OS has) to `handler`.
void HandleEndingSignals(void (*handler)(int));
// A wait that a signal ends at once: the handler calls SignalArrived (safe inside
// a handler) and WaitUnlessSignalled returns then, not when its time is up.
void SignalArrived() noexcept;
void WaitUnlessSignalled(unsigned milliseconds);
// From a signal handler: removes a file or an empty folder.
void RemoveNow(const char* path) noexcept;
// From a signal handler: ends the process as that signal does by default.
[[noreturn]] void EndBySignal(int number) noexcept;
// In the calling thread, a write to a pipe nobody reads fails instead of raising a signal.
void WritesToClosedPipesFail();

// What makes a file itself, whatever names lead to it.
struct FileId {
    std::uint64_t device = 0, index = 0;
    bool operator==(const FileId& other) const { return device == other.device && index == other.index; }
};
std::optional<FileId> IdOf(const std::string& path);
std::optional<FileId> StandardOutputId();
// wavfx's own standard output: the descriptor standard output had at start, through
// the system-call table's rules (an interrupted write is made again). The C library's
// stdout is the library's, whose lines wavfx holds back and gives out here.
std::FILE* Out();
// A stream of its own on standard output, untouched by what is later done to
// the standard output descriptor (the library's line is held back there).
std::FILE* DuplicateStandardOutput();

// The command line, as UTF-8 where it is text; false (with the bad argument's
// number) when an argument cannot be had as bytes at all (Windows: a lone surrogate).
bool Arguments(int argc, char** argv, std::vector<std::string>& out, int& bad);

// What a name leads to, links followed. A name that is not there is Missing, no
// error; a stat that fails otherwise is Unknown, the reason in LastError.
enum class Kind { Missing, Regular, Directory, Other, Unknown };  // Other: a FIFO, a device, a socket
Kind KindOf(const std::string& path);
// The size of an open file; false (errno set) when it cannot be told.
bool SizeOf(std::FILE* file, std::uint64_t& size);

std::FILE* Open(const std::string& path, const char* mode);
// Removes a file, or an empty folder; false (the reason in LastError) when it cannot.
bool Remove(const std::string& path);
// Makes a folder and the folders above it that are missing; false when `path`
// cannot be one (the reason in LastError).
bool MakeFolders(const std::string& path);
// The size of the file a name leads to; nullopt when it cannot be told.
std::optional<std::uint64_t> SizeAt(const std::string& path);
// The name of the file a name leads to, links followed (the name itself when that cannot be told).
std::string Resolved(const std::string& path);
// Standard input as a stream of its own, read through the same rules as any file.
std::FILE* OpenStandardInput();
bool Seek(std::FILE* file, std::uint64_t offset);
// Up to `size` bytes of a file at `offset`, as the disk gives them (no stream buffer
// in between); fewer only at its end, -1 on an error.
long long ReadAt(std::FILE* file, std::uint64_t offset, void* out, std::size_t size);
// What was written to `file` is on the disk (fsync; FlushFileBuffers).
bool Sync(std::FILE* file);
// Cuts `file` to `size` bytes (what it holds is flushed first).
bool Cut(std::FILE* file, std::uint64_t size);
// Whether a file the library holds open may be renamed (POSIX; not Windows, where it
// holds its recording shared for reading and writing only).
bool RenamesOpenFiles();
// The reason the last failed call gave, in the system's words: errno's, or on
// Windows GetLastError()'s after a call that sets that instead.
std::string LastError();
bool IsTerminal(std::FILE* stream);

// A new, empty file in the folder of `beside`, or "" (the reason in LastError).
std::string MakeTemporary(const std::string& beside);
// True when the library can open `path` by its narrow name (on Windows, the
// ANSI code page must hold the name).
bool LibraryCanOpen(const std::string& path);
// A name by which the library opens `path`, which `open` holds open: the name
// itself where the library can take it as text; on Linux otherwise (a folder
// whose name is not UTF-8) the descriptor's /proc/self/fd/N.
std::string LibraryName(const std::string& path, std::FILE* open);
// Moves `from` to `to` in one step, `from` made durable first and the folder
// after, so that a power cut leaves the old file or the whole new one. With
// `replace`, an existing `to` is replaced and its owner, group and mode are kept
// (the owner where the system lets this process give a file away); without,
// a `to` that exists by now is left alone. Where it failed, the reason is in LastError.
enum class Replaced { Done, Exists, NotDurable, NotMoved };
Replaced ReplaceWith(const std::string& from, const std::string& to, bool replace);
// Why a move onto `to` was refused where the folder's own rules explain it (a
// sticky folder and another user's file), in words; "" otherwise.
std::string MoveRefusal(const std::string& to);

// A pipe with a name, which the library opens like a file while a thread of
// wavfx holds the other end: how samples reach the library and leave it
// without a copy on disk. Its name is removed when it goes (or on a signal).
class LibraryPipe {
public:
    LibraryPipe() = default;
    ~LibraryPipe();
    LibraryPipe(const LibraryPipe&) = delete;
    LibraryPipe& operator=(const LibraryPipe&) = delete;
    // `libraryReads`: wavfx writes what the library reads; otherwise wavfx reads what it
    // writes. False with the reason in LastError.
    bool Create(bool libraryReads);
    // The name the library opens it by.
    const std::string& Name() const { return libraryName_; }
    // wavfx's end, for the thread that uses it (it may wait there for the library).
    std::FILE* Ours();
    // Closes wavfx's end: the library reads to its end of file. False on a failed close.
    bool CloseOurs();
    // After a failed write: a byte more, so that a library that has not opened
    // the pipe yet still finds a writer there, and then its end (the pass has failed).
    void Abandon();
    // Once the library has returned: wavfx's end sees the end of the pipe (a
    // read its end of file, a write its failure), whether or not the library opened it.
    void LibraryDone();

private:
    std::string name_, folder_, libraryName_;
    std::FILE* ours_ = nullptr;
    bool libraryReads_ = false;
    std::intptr_t spare_ = -1;  // POSIX: the end that keeps opens from waiting; Windows: the pipe
    std::atomic<bool> done_{false};
    int slots_[2] = {-1, -1};
};

// Holds back what is written to standard output (the library's success line)
// until Release, so that it is shown only once the whole job is done, and
// never lands inside audio going to standard output.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    // False when standard output could not be held back (the reason in LastError).
    bool Holding() const { return held_ != -1; }
    // Restores standard output and hands over what was written meanwhile; false
    // when it could not be restored or read back (the reason in LastError).
    bool Release(std::string& said);

private:
    int saved_ = -1;
    std::intptr_t held_ = -1;  // POSIX: a descriptor; Windows: a stream
};

// An exclusive lock on a file, held until the object goes; other processes
// asking for it meanwhile are refused.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // Opens (never emptying; creating only with `create`) and locks `path`; a
    // missing file without `create` has nothing to lock. `busy` tells a lock
    // held elsewhere from another failure, whose reason is in LastError.
    bool Acquire(const std::string& path, bool& busy, bool create = true);

private:
    std::intptr_t handle_ = -1;
};

// Whether a descriptor, of this process or another, holds a write lock on `path`
// (the library's recorder does while it writes its file); nullopt where it cannot be told.
std::optional<bool> HeldForWriting(const std::string& path);
// False when the file system holding `path` has less than `bytes` free.
bool RoomFor(const std::string& path, std::uint64_t bytes);

// Capture devices. wavfx, not the library, chooses one: the library records
// from the system's default, so wavfx makes `name` the default for its own process.
void QuietAudioErrors();
Status UseCaptureDevice(const std::string& name);
// Opens the default capture device and checks that it takes 8000 Hz mono 16-bit,
// as the library will ask; why not, in words of its own.
Status CaptureDeviceReady();
// What the library records from, in words ("ALSA PCM \"default\"").
std::string CaptureDeviceName();
// The capture devices, by the name they are chosen by, each with its lines of
// description; nullopt when the system lists none at all.
struct CaptureDevice {
    std::string name;
    std::vector<std::string> description;
};
std::optional<std::vector<CaptureDevice>> CaptureDevices();
// Makes a raw 8000 Hz mono 16-bit file the default capture device of this
// process (the demo's built-in source); false where the OS cannot.
Status UseRawFileAsCaptureDevice(const std::string& rawPath);

}  // namespace wavfx::sys
