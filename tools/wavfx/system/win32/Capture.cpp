// Capture devices through winmm. The library records through the wave mapper,
// Windows' default capture device; wavfx does not choose another one here.
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <string>

#include "system/Names.h"
#include "system/System.h"

namespace wavfx::sys {

void QuietAudioErrors() {}

std::string CaptureDeviceName() { return "the wave mapper (the default capture device)"; }

bool UseCaptureDevice(const std::string& name, std::string& error) {
    if (name == "default") return true;
    error = "on Windows wavfx records from the default capture device only";
    return false;
}

bool UseRawFileAsCaptureDevice(const std::string&, std::string& error) {
    error = "Windows has no file-fed capture device";
    return false;
}

bool CaptureDeviceReady(std::string& error) {
    if (waveInGetNumDevs() == 0) {
        error = "no capture device: there is no wave input device";
        return false;
    }
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    const MMRESULT result = waveInOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY);
    if (result == MMSYSERR_NOERROR) return true;
    wchar_t text[MAXERRORLENGTH] = L"";
    waveInGetErrorTextW(result, text, MAXERRORLENGTH);
    std::u16string wide(text, text + wcslen(text));
    FromUtf16(wide, error);
    error = "the device does not take 8000 Hz mono 16-bit (" + error + ")";
    return false;
}

int ListCaptureDevices() {
    const UINT count = waveInGetNumDevs();
    for (UINT i = 0; i < count; ++i) {
        WAVEINCAPSW caps{};
        if (waveInGetDevCapsW(i, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
        std::string name;
        FromUtf16(std::u16string(caps.szPname, caps.szPname + wcslen(caps.szPname)), name);
        std::printf("%u\n    %s\n", i, name.c_str());
    }
    if (count == 0) std::fputs("wavfx: no capture devices\n", stderr);
    return 0;
}

}  // namespace wavfx::sys
