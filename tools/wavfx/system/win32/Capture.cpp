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

Status UseCaptureDevice(const std::string& name) {
    if (name == "default") return std::nullopt;
    return Failure{Role::Other, name, "on Windows wavfx records from the default capture device only", ""};
}

Status UseRawFileAsCaptureDevice(const std::string&) {
    return Failure{Role::Other, CaptureDeviceName(), "Windows has no file-fed capture device", ""};
}

Status CaptureDeviceReady() {
    if (waveInGetNumDevs() == 0)
        return Failure{Role::Other, CaptureDeviceName(), "no capture device: there is no wave input device", ""};
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    const MMRESULT result = waveInOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY);
    if (result == MMSYSERR_NOERROR) return std::nullopt;
    wchar_t text[MAXERRORLENGTH] = L"";
    waveInGetErrorTextW(result, text, MAXERRORLENGTH);
    std::string words;
    FromUtf16(std::u16string(text, text + wcslen(text)), words);
    return Failure{Role::Other, CaptureDeviceName(), "the device does not take 8000 Hz mono 16-bit (" + words + ")", ""};
}

std::optional<std::vector<CaptureDevice>> CaptureDevices() {
    std::vector<CaptureDevice> devices;
    const UINT count = waveInGetNumDevs();
    for (UINT i = 0; i < count; ++i) {
        WAVEINCAPSW caps{};
        if (waveInGetDevCapsW(i, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
        std::string name;
        FromUtf16(std::u16string(caps.szPname, caps.szPname + wcslen(caps.szPname)), name);
        devices.push_back({std::to_string(i), {name}});
    }
    return devices;
}

}  // namespace wavfx::sys
