// The meter where libebur128 is not built (the Windows builds: Debian carries it
// for Linux only): it measures nothing and says why.
#include "format/Loudness.h"

namespace wavfx {

struct LoudnessMeter::State {};

LoudnessMeter::LoudnessMeter(const SampleFormat& format, std::uint32_t, std::uint32_t) : format_(format) {}

LoudnessMeter::~LoudnessMeter() = default;

std::string LoudnessMeter::Unavailable() {
    return "this build measures no loudness: libebur128, the meter it uses, is not built for Windows";
}

void LoudnessMeter::Add(const unsigned char*, std::size_t) {}

Loudness LoudnessMeter::Result() const { return {}; }

}  // namespace wavfx
