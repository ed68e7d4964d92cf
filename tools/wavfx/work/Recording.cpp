#include "work/Recording.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "format/Samples.h"
#include "io/Files.h"
#include "io/Output.h"
#include "system/Cleanup.h"
#include "system/System.h"
#include "riff/PcmHeader.h"
#include "work/Library.h"

namespace wavfx {

namespace {

constexpr uint64_t HeaderBytes = velorik::PcmHeaderBytes, BlockBytes = library::BlockBytes;
// A block this late hints at a full disk; this late, at a recording that stopped.
constexpr double LateSeconds = 1.5, StalledSeconds = 4.0;
// The most one turn of the watch loop (100 ms of sleep) counts for; more means wavfx did not run.
constexpr double MaxTick = 0.5;

uint64_t BlocksOnDisk(const std::string& path) {
    const uint64_t size = FileSize(path);
    return size >= HeaderBytes ? (size - HeaderBytes) / BlockBytes : 0;
}

// Peak of the newest whole block in the file being recorded.
int LastBlockPeak(const std::string& path, uint64_t blocks) {
    if (blocks == 0) return 0;
    File file = OpenFile(path, "rb");
    int16_t block[library::BlockBytes / 2];
    std::size_t got = 0;
    if (file && sys::Seek(file.get(), HeaderBytes + (blocks - 1) * BlockBytes)) got = std::fread(block, 2, library::BlockBytes / 2, file.get());
    return Peak(block, got);
}

bool WriteHeaderFor(std::FILE* file, uint64_t blocks) {
    const auto header = velorik::PcmHeader(static_cast<uint32_t>(blocks * BlockBytes), library::RecordingRate, 1);
    return sys::Seek(file, 0) && std::fwrite(header.data(), 1, header.size(), file) == header.size() && sys::Sync(file);
}

// Keeps `blocks` of a finished recording: the header for them is durable before
// the cut, so that a power cut between the two still leaves a valid file. When a
// step fails, the header counts again the whole blocks the file holds, and
// `kept` says how many that is.
bool KeepBlocks(const std::string& path, uint64_t blocks, uint64_t& kept) {
    File file = OpenFile(path, "r+b");
    if (!file) return false;
    if (WriteHeaderFor(file.get(), blocks) && sys::Cut(file.get(), HeaderBytes + blocks * BlockBytes) &&
        sys::Sync(file.get()) && std::fclose(file.release()) == 0) {
        kept = blocks;
        return true;
    }
    const int why = errno;
    uint64_t size = 0;
    if (file && sys::SizeOf(file.get(), size) && size >= HeaderBytes) {
        kept = (size - HeaderBytes) / BlockBytes;
        WriteHeaderFor(file.get(), kept);
    }
    errno = why;
    return false;
}

// Why the library's recorder did not start: the file it was to record into, or the
// device. A start the device refused leaves the recording half-started, its file
// held open (and, where the system shows it, locked) until stop; a file refused is
// closed at once, and OUT stays as it was. Where the lock cannot be seen, the
// device's failure is the one that leaves errno alone.
Failure StartFailed(const std::string& path, bool fileHeld, bool existed, const library::Result& started) {
    if (started.OpenFailed() && !fileHeld)
        return {Role::Output, path, "cannot be recorded into",
                (started.error.empty() ? std::string(started.Words()) : started.error) +
                    (existed ? "; it was left as it was" : "; nothing was created")};
    return {Role::Other, sys::CaptureDeviceName(),
            "no recording: " + std::string(started.Words()) + " (" + std::to_string(started.code) + ")", started.error};
}

// What a recording holds on to while it runs.
struct Session {
    Output output;
    sys::FileLock lock, recordingLock;
};

// Everything up to a running recorder at OUT: the output rule, the locks, the device,
// the library's start and, where it records behind a temporary, the temporary made OUT.
Status Start(const std::string& path, const RecordOptions& options, Session& session) {
    // Where the system lets a file the library holds be renamed, the recording
    // starts in a temporary beside OUT and becomes OUT once its first header is
    // durable, so OUT is never an empty or all-zero file; elsewhere it is written in place.
    const bool behindTemporary = sys::RenamesOpenFiles();
    Output& output = session.output;
    if (Status failure = output.Open(path, options.existing, {}, true)) return failure;
    // Held while recording, on OUT as it is and on the recording, so that no other
    // recording or repair takes either meanwhile. Where it creates nothing, OUT's
    // is taken first: a second recording is refused before it asks for the device.
    bool busy = false;
    const auto lockOut = [&](bool create) -> Status {
        if (session.lock.Acquire(path, busy, create)) return std::nullopt;
        if (busy) return Failure{Role::Output, path, "another wavfx is recording into it", ""};
        return SystemFailure(Role::Output, path, "cannot be created");
    };
    if (behindTemporary)
        if (Status failure = lockOut(false)) return failure;
    // The device first, and with the format it will be asked for, so that a
    // recording that cannot start leaves the file as it was.
    if (Status failure = sys::CaptureDeviceReady()) return failure;
    const bool existed = output.Existed();
    const bool created = !behindTemporary && !existed;
    // The first signal finishes the file, from before the file exists.
    cleanup::FinishOnFirstSignal(true);
    if (!behindTemporary)
        if (Status failure = lockOut(true)) return failure;
    if (behindTemporary) {
        if (Status failure = output.Begin()) return Failure{Role::Output, path, "cannot be created", failure->reason};
        if (!session.recordingLock.Acquire(output.Temporary(), busy, false))
            return SystemFailure(Role::Output, path, "cannot be created");
    }
    const std::string recording = behindTemporary ? output.Temporary() : path;

    // Held while the library opens it, by a name it can take whatever the folder is called.
    File held = behindTemporary ? OpenFile(recording, "r+b") : File(nullptr, std::fclose);
    const library::Result started = library::StartRecording(sys::LibraryName(recording, held.get()));
    held.reset();
    if (!started.Ok()) {
        const bool fileHeld = sys::HeldForWriting(recording).value_or(started.error.empty());
        library::StopRecording();
        const Failure failure = StartFailed(path, fileHeld, existed, started);
        if (created) sys::Remove(path);
        return failure;
    }
    if (behindTemporary)
        if (Status failure = output.Commit()) {
            library::StopRecording();
            return failure;
        }
    return std::nullopt;
}

enum class Ended {
    AsAsked,   // N blocks, or a signal
    Stalled,   // no block for a while: a device that fell silent, or a write that failed
    ByItself,  // the library finished the file: the device or a write failed, or the header is full
};

// Watches the file grow until it ends one way or another. The library's lock on the
// file (where the system shows it) tells at once that the recording ended by itself.
Ended WatchUntilDone(const std::string& path, const RecordOptions& options) {
    const bool locked = sys::HeldForWriting(path).value_or(false);
    const auto begin = std::chrono::steady_clock::now();
    auto last = begin;
    // How long the recording has gone without a block while wavfx ran: a
    // stopped process (Ctrl-Z) or a suspended machine waits, and is no stall.
    double waited = 0;
    uint64_t blocks = 0;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        waited += std::min(std::chrono::duration<double>(now - last).count(), MaxTick);
        last = now;
        const uint64_t onDisk = BlocksOnDisk(path);
        if (onDisk != blocks) waited = 0;
        blocks = onDisk;
        const double elapsed = std::chrono::duration<double>(now - begin).count();
        const double late = waited - 1.0;
        if (cleanup::FinishRequested() || (options.seconds > 0 && blocks >= static_cast<uint64_t>(options.seconds)))
            return Ended::AsAsked;
        if (locked && !sys::HeldForWriting(path).value_or(true)) return Ended::ByItself;
        // The recorder appends nothing more after a failed write: stop rather than pretend.
        if (late > StalledSeconds || (late > LateSeconds && !sys::RoomFor(path, BlockBytes))) return Ended::Stalled;
        if (options.tick) options.tick(elapsed, blocks, LastBlockPeak(path, blocks));
        sys::WaitUnlessSignalled(100);
    }
}

}  // namespace

Recorded Record(const std::string& path, const RecordOptions& options) {
    Session session;
    Recorded recorded;
    if ((recorded.failure = Start(path, options, session))) return recorded;
    if (options.started) options.started();
    const Ended ended = WatchUntilDone(path, options);
    const library::Stopped stopped = library::StopRecording();
    uint64_t& kept = recorded.blocks;
    kept = stopped.blocks;
    const auto holds = [&kept] {
        return "the file holds " + std::to_string(kept) + " block(s), " + std::to_string(kept) + " s of audio";
    };
    // N seconds are N blocks, whatever stop added or an unpaced device ran ahead.
    if (options.seconds > 0 && kept > static_cast<uint64_t>(options.seconds) && ended == Ended::AsAsked &&
        !KeepBlocks(path, static_cast<uint64_t>(options.seconds), kept)) {
        const std::string reason = sys::LastError();
        recorded.failure = Failure{Role::Output, path, "cannot cut the recording to " + std::to_string(options.seconds) + " s",
                                   reason + "; " + holds()};
        return recorded;
    }
    // The library says why a recording ended before it was asked to: the device's reason or a write's.
    if (!stopped.error.empty())
        recorded.failure =
            Failure{Role::Output, path, "recording from " + sys::CaptureDeviceName() + " ended", stopped.error + "; " + holds()};
    else if (ended == Ended::Stalled)
        recorded.failure = Failure{Role::Other, path, "the capture device stopped delivering audio; " + holds(), ""};
    else if (ended == Ended::ByItself)
        recorded.failure =
            Failure{Role::Output, path, "a WAV header counts no more than " + std::to_string(library::MaxBlocks) + " blocks",
                    holds()};
    return recorded;
}

}  // namespace wavfx
