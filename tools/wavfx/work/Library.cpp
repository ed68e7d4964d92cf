#include "work/Library.h"

#include <cerrno>
#include <cstring>

#include "VelorikWAVDistortion.h"
#include "system/Names.h"

namespace wavfx::library {

namespace {

// The library's UTF-16 (wchar_t on Windows, char16_t elsewhere).
std::basic_string<VwdChar16> Name(const std::string& utf8) {
    const std::u16string utf16 = ToUtf16(utf8);
    return std::basic_string<VwdChar16>(utf16.begin(), utf16.end());
}

}  // namespace

bool Result::Ok() const { return code == StatusSuccess; }

bool Result::OpenFailed() const { return code == StatusOpenFailed; }

const char* Result::Words() const {
    switch (code) {
        case StatusSuccess: return "success";
        case StatusOpenFailed: return recorder ? "a file or the capture device did not open" : "a file did not open";
        case StatusQueueFailed: return "the capture device refused the buffer";
        case StatusStartFailed: return "capture did not start";
        case StatusIOFailed: return "reading the input or writing the output failed";
        default: return "unknown result";
    }
}

std::string Result::Why() const { return std::to_string(code) + ": " + Words(); }

Result Distort(const std::string& in, const std::string& out, std::int32_t threshold) {
    const auto inName = Name(in), outName = Name(out);
    errno = 0;
    Result result{WAVDistortion(inName.c_str(), outName.c_str(), threshold), {}};
    if (!result.Ok() && errno != 0) result.error = std::strerror(errno);
    return result;
}

Result StartRecording(const std::string& path) {
    const auto name = Name(path);
    errno = 0;
    Result result{SoundRecorderStart(name.c_str()), {}, true};
    if (!result.Ok() && errno != 0) result.error = std::strerror(errno);
    return result;
}

Stopped StopRecording() {
    errno = 0;
    Stopped stopped{static_cast<std::uint64_t>(SoundRecorderStop()), {}};
    if (errno != 0) stopped.error = std::strerror(errno);
    return stopped;
}

}  // namespace wavfx::library
