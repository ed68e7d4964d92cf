/*
 * VelorikWAVDistortion: a hard-clip distortion pass and a sound recorder for
 * 16-bit PCM WAV files, behind three plain C functions.
 *
 * Every function runs to completion on the caller's thread and throws nothing.
 * Paths are NUL-terminated UTF-16 strings owned by the caller; they are only
 * read during the call and never kept.
 */
#ifndef VELORIK_WAV_DISTORTION_H
#define VELORIK_WAV_DISTORTION_H

#include <stdint.h>

#if defined(_WIN32)
#  define VWD_CALL __stdcall
#  define VWD_API
typedef wchar_t VwdChar16;
#else
#  define VWD_CALL
#  if defined(VWD_BUILDING_LIBRARY) && defined(__GNUC__)
#    define VWD_API __attribute__((visibility("default")))
#  else
#    define VWD_API
#  endif
#  ifdef __cplusplus
typedef char16_t VwdChar16;
#  else
#    include <uchar.h>
typedef char16_t VwdChar16;
#  endif
#endif

/* Result codes. Success is 999, never 0. */
enum {
    StatusSuccess = 999,
    StatusOpenFailed = 1,  /* a file (or, for the recorder, the capture device) did not open */
    StatusQueueFailed = 2, /* the capture device refused the capture buffer */
    StatusStartFailed = 3, /* capture did not start */
    StatusIOFailed = 4     /* reading the input or writing the output failed after both opened */
};

/*
 * Why a call failed, as fopen tells it: a function that fails on a file leaves
 * errno (on Windows GetLastError() too) as the failing system call set it, to be
 * read right after the call: ENOENT, EACCES, EISDIR, ENOSPC, EIO and so on. A null
 * path or an output naming the input leaves EINVAL; a name that cannot be converted
 * to a file name, EILSEQ. The recorder's device failures say nothing through errno.
 * A signal that interrupts a read or write is no failure: the call goes on, so a
 * host's handlers need no SA_RESTART. On success errno is unspecified.
 */

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Copies the first 44 bytes of `inputPath` unchanged to `outputPath` and then
 * every following 16-bit little-endian sample, clipped at the low 16 bits of
 * `threshold` taken as a signed value t: samples above t become t; for t >= 0
 * samples below -t become -t; for t < 0 all others become -t (as 16 bits).
 * No header field is read. An odd last byte is dropped; an input shorter than
 * 44 bytes gives a zero-padded 44-byte output.
 *
 * Returns StatusSuccess and prints "Distortion effect applied successfully.\n"
 * on stdout; StatusOpenFailed if a path is null, cannot be converted to a
 * file name, does not open, the input is a directory, or both name the same
 * file (nothing is created or changed then); StatusIOFailed if a read or write
 * failed after both files opened (nothing printed; the input is untouched).
 *
 * Thread-safe: calls on different files may run at once.
 */
VWD_API int32_t VWD_CALL WAVDistortion(const VwdChar16* inputPath, const VwdChar16* outputPath,
                                        int32_t threshold);

/*
 * Starts recording 8000 Hz mono 16-bit audio from the default capture device
 * into `outputPath` (created or emptied), in whole one-second blocks of 16000
 * bytes delivered on a thread of the audio service. The header is kept valid
 * after every block, so a host that dies mid-recording leaves a playable file.
 *
 * Returns StatusSuccess once capture runs; StatusOpenFailed if the file cannot
 * be created (the device is not touched), a recording is already under way,
 * or the device does not open; StatusQueueFailed or StatusStartFailed if the
 * device refused the buffer or the start. After 1, 2 or 3 from the device,
 * SoundRecorderStop still finishes a valid empty WAV file.
 *
 * One recording at a time per process; call Start and Stop from one thread.
 */
VWD_API int32_t VWD_CALL SoundRecorderStart(const VwdChar16* outputPath);

/*
 * Stops capture, appends the last partial second (padded with silence) if the
 * device returned one, writes the final header and closes the file. Returns the
 * number of 16000-byte blocks in the file; 0 when nothing was started. When a
 * write to the file failed during the recording (after which it appends no
 * more), it leaves errno as that first failure set it.
 */
VWD_API int32_t VWD_CALL SoundRecorderStop(void);

#ifdef __cplusplus
}
#endif

#endif
