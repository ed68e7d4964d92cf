#include "support/AlsaFileDevice.h"

#include <cstdlib>

namespace testing_support {

namespace {

void UseConfig(const std::string& path, const std::string& text) {
    WriteFile(path, Bytes(text.begin(), text.end()));
    setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
}

}  // namespace

unsigned char AlsaFileDevice::RampByte(std::size_t offset) {
    // Sample n is n * 40503 mod 2^16 plus a slow drift, so no two nearby seconds match.
    const std::size_t n = offset / 2;
    const auto sample = static_cast<uint16_t>(n * 40503u + n / 65536u);
    return offset % 2 == 0 ? static_cast<unsigned char>(sample & 0xFF) : static_cast<unsigned char>(sample >> 8);
}

AlsaFileDevice::AlsaFileDevice(const TempDir& dir, int seconds) : ramp_(dir.Path("ramp.raw")) {
    Bytes bytes(static_cast<std::size_t>(seconds) * 16000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = RampByte(i);
    WriteFile(ramp_, bytes);
    UseConfig(dir.Path("asound.conf"),
              "pcm.!default {\n"
              "  type file\n"
              "  slave.pcm { type null }\n"
              "  file \"/dev/null\"\n"
              "  infile \"" + ramp_ + "\"\n"
              "  format \"raw\"\n"
              "}\n");
}

void UseNoCaptureDevice(const TempDir& dir) {
    UseConfig(dir.Path("asound-empty.conf"), "pcm.nothing { type null }\n");
}

}  // namespace testing_support
