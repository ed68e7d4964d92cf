// The waveform-audio input the recorder uses, by winmm's names: winmm itself on
// Windows, our layer over ALSA elsewhere.
#pragma once

#ifdef _WIN32
#include "platform/win32/WaveIn.h"
#else
#include "platform/posix/WaveIn.h"
#endif
