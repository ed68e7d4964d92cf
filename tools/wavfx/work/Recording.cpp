#include "work/Recording.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "format/Samples.h"
#include "io/Files.h"
#include "io/Output.h"
#include "report/Text.h"
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

// Why the library's recorder did not start: the file it was to record into (it
// says why in errno), or the device (which says nothing there). A file that cannot
// take its header is refused before the device, and OUT stays as it was.
int StartFailed(const std::string& path, bool existed, const library::Result& started) {
    if (started.OpenFailed() && !started.error.empty())
        return Fail(path, "cannot be recorded into: " + started.error +
                              (existed ? "; it was left as it was" : "; nothing was created"));
    return Fail(sys::CaptureDeviceName(),
                "no recording: " + std::string(started.Words()) + " (" + std::to_string(started.code) + ")");
}

// What a recording holds on to while it runs.
struct Session {
    Output output;
    sys::FileLock lock, recordingLock;
};

// Everything up to a running recorder at OUT: the output rule, the locks, the device,
// the library's start and, where it records behind a temporary, the temporary made OUT.
// Nothing when it runs; otherwise the exit status, said on stderr (0 for a skip).
std::optional<int> Start(const std::string& path, const RecordOptions& options, Session& session) {
    std::string error;
    // Where the system lets a file the library holds be renamed, the recording
    // starts in a temporary beside OUT and becomes OUT once its first header is
    // durable, so OUT is never an empty or all-zero file; elsewhere it is written in place.
    const bool behindTemporary = sys::RenamesOpenFiles();
    Output& output = session.output;
    if (!output.Open(path, options.existing, {}, error, true))
        return output.Skipped() ? Skipped(path) : Fail(path, error);
    // Held while recording, on OUT as it is and on the recording, so that no other
    // recording or repair takes either meanwhile. Where it creates nothing, OUT's
    // is taken first: a second recording is refused before it asks for the device.
    bool busy = false;
    const auto lockOut = [&](bool create) {
        return session.lock.Acquire(path, busy, error, create)
                   ? 0
                   : Fail(path, busy ? "another wavfx is recording into it" : "cannot be created: " + error);
    };
    if (behindTemporary && lockOut(false) != 0) return 1;
    // The device first, and with the format it will be asked for, so that a
    // recording that cannot start leaves the file as it was.
    if (!sys::CaptureDeviceReady(error)) return Fail(sys::CaptureDeviceName(), error);
    std::string why;
    const bool existed = KindOf(path, why) == Kind::Regular;
    const bool created = !behindTemporary && !existed;
    // The first signal finishes the file, from before the file exists.
    cleanup::FinishOnFirstSignal(true);
    if (!behindTemporary && lockOut(true) != 0) return 1;
    if (behindTemporary && !(output.Begin(error) && session.recordingLock.Acquire(output.Temporary(), busy, error, false)))
        return Fail(path, "cannot be created: " + error);
    const std::string recording = behindTemporary ? output.Temporary() : path;

    // Held while the library opens it, by a name it can take whatever the folder is called.
    File held = behindTemporary ? OpenFile(recording, "r+b") : File(nullptr, std::fclose);
    const library::Result started = library::StartRecording(sys::LibraryName(recording, held.get()));
    held.reset();
    if (!started.Ok()) {
        library::StopRecording();
        std::error_code ignored;
        if (created) std::filesystem::remove(std::filesystem::u8path(path), ignored);
        return StartFailed(path, existed, started);
    }
    if (behindTemporary && !output.Commit(error)) {
        library::StopRecording();
        return output.Skipped() ? Skipped(path)
                                : Fail(path, output.Appeared() ? error
                                                               : (existed ? "cannot be replaced: " : "cannot be created: ") + error);
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
Ended WatchUntilDone(const std::string& path, const RecordOptions& options, bool live) {
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
        if (live)
            std::fprintf(stderr, "\r  %7.1f s   %llu block(s)   peak %-12s", elapsed,
                         static_cast<unsigned long long>(blocks), FormatDbfs(LastBlockPeak(path, blocks) / 32768.0).c_str());
        sys::WaitUnlessSignalled(100);
    }
}

}  // namespace

int Record(const std::string& path, const RecordOptions& options) {
    Session session;
    if (const std::optional<int> ended = Start(path, options, session)) return *ended;
    if (!options.quiet)
        std::fprintf(stderr, "wavfx: recording %s: 8000 Hz, mono, 16-bit PCM%s\n", Printable(path).c_str(),
                     options.seconds > 0 ? "" : " (Ctrl-C finishes the file)");
    const bool live = !options.quiet && sys::IsTerminal(stderr);
    const Ended ended = WatchUntilDone(path, options, live);
    const library::Stopped stopped = library::StopRecording();
    uint64_t kept = stopped.blocks;
    if (live) std::fputc('\n', stderr);
    const auto holds = [&kept] {
        return "the file holds " + std::to_string(kept) + " block(s), " + std::to_string(kept) + " s of audio";
    };
    // N seconds are N blocks, whatever stop added or an unpaced device ran ahead.
    if (options.seconds > 0 && kept > static_cast<uint64_t>(options.seconds) && ended == Ended::AsAsked &&
        !KeepBlocks(path, static_cast<uint64_t>(options.seconds), kept))
        return Fail(path, "cannot cut the recording to " + std::to_string(options.seconds) + " s: " + sys::LastError() +
                              "; " + holds());
    // The library says why a recording ended before it was asked to: the device's reason or a write's.
    if (!stopped.error.empty())
        return Fail(path, "recording from " + sys::CaptureDeviceName() + " ended: " + stopped.error + "; " + holds());
    if (ended == Ended::Stalled) return Fail(path, "the capture device stopped delivering audio; " + holds());
    if (ended == Ended::ByItself)
        return Fail(path, "a WAV header counts no more than " + std::to_string(library::MaxBlocks) + " blocks; " +
                              holds());
    if (!options.quiet)
        std::fprintf(stderr, "wavfx: %s: %llu block(s), %llu s of audio, %llu bytes\n", Printable(path).c_str(),
                     static_cast<unsigned long long>(kept), static_cast<unsigned long long>(kept),
                     static_cast<unsigned long long>(HeaderBytes + BlockBytes * kept));
    return 0;
}

}  // namespace wavfx
