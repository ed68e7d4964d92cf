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
#  if defined(__cplusplus) && __cplusplus >= 201103L
typedef char16_t VwdChar16;
#  elif defined(__cplusplus)
/* C++98/03 has no char16_t: the same 16 bits, unsigned. */
typedef uint16_t VwdChar16;
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
 * to a file name, EILSEQ. A device that does not open, take the buffer or start
 * says nothing through errno, unless a system call failed on the way (on Linux,
 * EMFILE say). A signal that interrupts a read or write is no failure: the call
 * goes on, so a host's handlers need no SA_RESTART. On success errno is
 * unspecified.
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
 * and durable from the start and after every block, so a host that dies
 * mid-recording leaves a playable file.
 *
 * Returns StatusSuccess once capture runs; StatusOpenFailed if the file cannot
 * be created or cannot take its header (a full disk: errno says why; the device
 * is not touched), a recording is already under way, or the device does not
 * open; StatusQueueFailed or StatusStartFailed if the device refused the buffer
 * or the start. After 1, 2 or 3 from the device, SoundRecorderStop still
 * finishes a valid empty WAV file.
 *
 * A recording that can go no further (a write fails, the capture device fails
 * for good, or the header can count no more blocks) ends at once: the file is
 * finished with every whole block and closed. On Linux the recorder holds an
 * open-file-description write lock (fcntl F_OFD_SETLK) on the whole file while
 * it writes it, so a host tells that it has ended when that lock goes.
 *
 * One recording at a time per process; Start and Stop may come from different
 * threads, one call at a time.
 */
VWD_API int32_t VWD_CALL SoundRecorderStart(const VwdChar16* outputPath);

/*
 * Stops capture, appends the last partial second (padded with silence) if the
 * device returned one, writes the final header and closes the file. Returns the
 * number of 16000-byte blocks in the file; 0 when nothing was started. When the
 * recording ended on a failure, it leaves errno as that first failure set it:
 * a write's (ENOSPC, EIO, ...) or the capture device's (on Linux ALSA's
 * reason, EIO for a sound server that died; ENODEV where the system gives none).
 */
VWD_API int32_t VWD_CALL SoundRecorderStop(void);

#ifdef __cplusplus
}
#endif

#endif
