// A capture device without hardware: ALSA's own "file" plugin reading a known
// ramp through a null slave, chosen for this process with ALSA_CONFIG_PATH.
#pragma once

#include <string>

#include "support/TestFiles.h"

namespace testing_support {

class AlsaFileDevice {
public:
    // `seconds` of 8000 Hz mono ramp; longer than anything a test reads, since
    // the plugin is not paced and repeats stale data past the end of its file.
    AlsaFileDevice(const TempDir& dir, int seconds);
    // The byte the device delivers at `offset` from the start of capture.
    static unsigned char RampByte(std::size_t offset);
    const std::string& Ramp() const { return ramp_; }

private:
    std::string ramp_;
};

// An ALSA configuration in which "default" does not exist.
void UseNoCaptureDevice(const TempDir& dir);

}  // namespace testing_support
