// On Windows the recorder uses winmm's waveform-audio input itself.
#pragma once

#include <windows.h>
#include <mmsystem.h>
