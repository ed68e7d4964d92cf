// The library's whole boundary: three plain C functions.
#include "VelorikWAVDistortion.h"

#include "recorder/SoundRecorder.h"
#include "distortion/WAVDistortion.h"

extern "C" {

VWD_API int32_t VWD_CALL WAVDistortion(const VwdChar16* inputPath, const VwdChar16* outputPath,
                                        int32_t threshold) {
    return velorik::WAVDistortion(inputPath, outputPath, threshold);
}

VWD_API int32_t VWD_CALL SoundRecorderStart(const VwdChar16* outputPath) {
    return velorik::SoundRecorderStart(outputPath);
}

VWD_API int32_t VWD_CALL SoundRecorderStop(void) { return velorik::SoundRecorderStop(); }

}
