// Capture devices through ALSA. The library records from ALSA's "default" PCM
// as ALSA's configuration defines it; wavfx chooses another device by adding to
// that configuration, in memory and for its own process only: no file to leave
// behind, nothing asked of TMPDIR.
#include <alsa/asoundlib.h>

#include <cstdlib>
#include <string>

#include "system/System.h"

namespace wavfx::sys {

namespace {

extern "C" void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

std::string chosen = "default";

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Adds `text` to ALSA's configuration for this process, after what it reads from
// its files. ALSA keeps the tree it loaded while those files stay as they are, so
// the library's open finds the addition.
Status AddConfig(const std::string& text) {
    snd_input_t* input = nullptr;
    int result = snd_config_update();
    if (result >= 0) result = snd_input_buffer_open(&input, text.data(), static_cast<ssize_t>(text.size()));
    if (result >= 0) {
        result = snd_config_load(snd_config, input);
        snd_input_close(input);
    }
    if (result >= 0) return std::nullopt;
    return Failure{Role::Other, CaptureDeviceName(), "ALSA does not take the device's definition",
                   snd_strerror(result)};
}

}  // namespace

void QuietAudioErrors() { snd_lib_error_set_handler(IgnoreAlsaError); }

std::string CaptureDeviceName() { return "ALSA PCM \"" + chosen + "\""; }

Status UseCaptureDevice(const std::string& name) {
    chosen = name;
    if (name == "default") return std::nullopt;
    // A plug in front converts to 8000 Hz mono 16-bit if the device cannot.
    return AddConfig("pcm.!default { type plug slave.pcm " + Quoted(name) + " }\n");
}

Status UseRawFileAsCaptureDevice(const std::string& rawPath) {
    return AddConfig("pcm.!default { type file slave.pcm { type null } file \"/dev/null\" infile " + Quoted(rawPath) +
                     " format \"raw\" }\n");
}

Status CaptureDeviceReady() {
    snd_pcm_t* pcm = nullptr;
    const int result = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (result < 0)
        return Failure{Role::Other, CaptureDeviceName(),
                       std::string("no capture device: it does not open (") + snd_strerror(result) + ")", ""};
    // What the library asks of it, one step at a time, so that a refusal says which.
    snd_pcm_hw_params_t* params;
    snd_pcm_hw_params_alloca(&params);
    const char* refused = nullptr;
    if (snd_pcm_hw_params_any(pcm, params) < 0)
        refused = "any parameters";
    else if (snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) < 0)
        refused = "interleaved reads";
    else if (snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S16_LE) < 0)
        refused = "16-bit samples";
    else if (snd_pcm_hw_params_set_channels(pcm, params, 1) < 0)
        refused = "one channel";
    else if (snd_pcm_hw_params_set_rate(pcm, params, 8000, 0) < 0)
        refused = "8000 Hz";
    snd_pcm_close(pcm);
    if (refused == nullptr) return std::nullopt;
    return Failure{Role::Other, CaptureDeviceName(),
                   std::string("the device opens but does not take ") + refused + " (recording is 8000 Hz mono 16-bit)", ""};
}

std::optional<std::vector<CaptureDevice>> CaptureDevices() {
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0) return std::nullopt;
    std::vector<CaptureDevice> devices;
    for (void** hint = hints; *hint != nullptr; ++hint) {
        char* name = snd_device_name_get_hint(*hint, "NAME");
        char* description = snd_device_name_get_hint(*hint, "DESC");
        char* direction = snd_device_name_get_hint(*hint, "IOID");
        if (name != nullptr && (direction == nullptr || std::string(direction) == "Input")) {
            CaptureDevice device{name, {}};
            // Descriptions come in lines, as arecord -L shows them.
            const std::string text = description != nullptr ? description : "";
            for (std::size_t start = 0; start < text.size();) {
                const std::size_t end = text.find('\n', start);
                device.description.push_back(text.substr(start, end - start));
                start = end == std::string::npos ? text.size() : end + 1;
            }
            devices.push_back(device);
        }
        std::free(name);
        std::free(description);
        std::free(direction);
    }
    snd_device_name_free_hint(hints);
    return devices;
}

}  // namespace wavfx::sys
