// The one file of wavfx that talks to the library: its three exports, called
// with names as UTF-8, their results in words. Every other file goes through here.
#pragma once

#include <cstdint>
#include <string>

namespace wavfx::library {

// What the recorder makes, as its contract says: 8000 Hz mono 16-bit, in blocks of
// one second, at most as many as a 44-byte header's 32-bit sizes count.
constexpr std::uint32_t RecordingRate = 8000;
constexpr std::uint64_t BlockBytes = 16000;
constexpr std::uint64_t MaxBlocks = 268435;

// What an export returned.
struct Result {
    std::int32_t code = 0;

    bool Ok() const;
    // A file (or the capture device) did not open.
    bool OpenFailed() const;
    // Plain words for the code, for the export that returned it.
    const char* Words() const;
    // "CODE: WORDS".
    std::string Why() const;
    // The system's words for errno as the export left it, read right after the call ("" for none).
    std::string error;
    bool recorder = false;  // from SoundRecorderStart: code 1 may be the capture device's
};

// One literal pass of the library from `in` to `out`.
Result Distort(const std::string& in, const std::string& out, std::int32_t threshold);
Result StartRecording(const std::string& path);
struct Stopped {
    std::uint64_t blocks = 0;  // the whole blocks the file holds
    std::string error;         // why the recorder stopped appending, when a write failed
};
// Ends the recording (nothing, when none runs).
Stopped StopRecording();

}  // namespace wavfx::library
