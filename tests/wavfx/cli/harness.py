"""The shared harness of wavfx's command-line tests, one file per command beside it: wavfx run as a
person at a terminal runs it, files written as other tools write them, and a paced capture device
made of ALSA's file plugin reading a FIFO that a thread fills in real time."""
import ctypes
import ctypes.util
import json
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import wave
import zlib

WAVFX = os.environ["WAVFX"]
# A cross-built wavfx runs under its emulator (for example "qemu-arm -L /").
COMMAND = os.environ.get("WAVFX_EMULATOR", "").split() + [WAVFX]
# An emulator that cannot run this program here says so with 77: skipped, as ctest counts it.
if os.environ.get("WAVFX_EMULATOR") and subprocess.run([*COMMAND, "--version"], capture_output=True).returncode == 77:
    raise SystemExit(77)


EBUR128 = ctypes.util.find_library("ebur128")


def ebur128(frames, rate):
    """libebur128's integrated loudness (None where it measures none) and true peak per channel,
    of float frames (one column per channel) in its default channel order."""
    import numpy as np
    lib = ctypes.CDLL(EBUR128)
    lib.ebur128_init.restype = ctypes.c_void_p
    lib.ebur128_init.argtypes = [ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    lib.ebur128_add_frames_double.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t]
    lib.ebur128_loudness_global.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_double)]
    lib.ebur128_true_peak.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.POINTER(ctypes.c_double)]
    lib.ebur128_destroy.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    state = ctypes.c_void_p(lib.ebur128_init(frames.shape[1], rate, 5 | 49))  # EBUR128_MODE_I | _TRUE_PEAK
    data = np.ascontiguousarray(frames, np.float64)
    lib.ebur128_add_frames_double(state, data.ctypes.data, len(data))
    lufs, peaks = ctypes.c_double(), [ctypes.c_double() for _ in range(frames.shape[1])]
    lib.ebur128_loudness_global(state, ctypes.byref(lufs))
    for channel, peak in enumerate(peaks):
        lib.ebur128_true_peak(state, channel, ctypes.byref(peak))
    lib.ebur128_destroy(ctypes.byref(state))
    return (lufs.value if math.isfinite(lufs.value) else None), [peak.value for peak in peaks]


def wav_of(data, channels=1, bits=16, rate=8000, coding=1, after=b""):
    """A 44-byte-header WAV of `data` as it lies in the file (coding 1: PCM, 3: float), `after` past it."""
    block = channels * bits // 8
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(data) + len(after), b"WAVE", b"fmt ", 16, coding,
                         channels, rate, rate * block, block, bits, b"data", len(data))
    return header + data + after


def wav_bytes(samples, channels=1, bits=16):
    return wav_of(struct.pack("<%dh" % len(samples), *samples), channels, bits)


def ramp_sample(n):
    return ((n * 40503) & 0xFFFF) - 32768


def counted_bytes(path):
    """The data size a recording's header counts so far (0 before it has one)."""
    try:
        with open(path, "rb") as f:
            header = f.read(44)
    except FileNotFoundError:
        return 0
    return struct.unpack_from("<I", header, 40)[0] if len(header) == 44 else 0


def clip(s, t):
    return max(-t, min(t, s))


def png_rows(path):
    """The RGB pixels of an 8-bit, non-interlaced PNG (as rsvg-convert writes), row by row."""
    with open(path, "rb") as f:
        data = f.read()
    at, packed = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IHDR":
            width, height, _, colour = struct.unpack(">IIBB", data[at + 8:at + 18])
        elif kind == b"IDAT":
            packed += data[at + 8:at + 8 + length]
        at += 12 + length
    bpp = {2: 3, 6: 4}[colour]
    stride, raw, rows, prev = width * bpp, zlib.decompress(packed), [], bytearray(width * bpp)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a, b, c = (line[i - bpp] if i >= bpp else 0), prev[i], (prev[i - bpp] if i >= bpp else 0)
            p = a + b - c
            guess = [0, a, b, (a + b) // 2, a if abs(p - a) <= min(abs(p - b), abs(p - c)) else
                     b if abs(p - b) <= abs(p - c) else c][kind]
            line[i] = (line[i] + guess) & 255
        rows.append([tuple(line[x * bpp:x * bpp + 3]) for x in range(width)])
        prev = line
    return rows


class PacedDevice:
    """Writes a ramp into a FIFO at 8000 samples a second, for ALSA to read; each
    reader (wavfx's device check, then the recording) gets the ramp from its start."""

    def __init__(self, directory):
        self.fifo = os.path.join(directory, "capture.fifo")
        os.mkfifo(self.fifo)
        self.config = os.path.join(directory, "asound.conf")
        with open(self.config, "w") as f:
            f.write('pcm.!default { type file slave.pcm { type null } file "/dev/null" '
                    'infile "%s" format "raw" }\n' % self.fifo)
        self.running = True
        self.thread = threading.Thread(target=self._feed, daemon=True)
        self.thread.start()

    def _feed(self):
        while self.running:
            try:
                with open(self.fifo, "wb", buffering=0) as f:
                    n, begin = 0, time.monotonic()
                    while self.running:
                        f.write(struct.pack("<400h", *[ramp_sample(n + i) for i in range(400)]))
                        n += 400
                        time.sleep(max(0.0, begin + n / 8000.0 - time.monotonic()))
            except OSError:
                pass

    def env(self):
        return dict(os.environ, ALSA_CONFIG_PATH=self.config)

    def close(self):
        self.running = False
        try:  # unblocks a writer still waiting for a reader
            fd = os.open(self.fifo, os.O_RDONLY | os.O_NONBLOCK)
            time.sleep(0.1)
            os.close(fd)
        except OSError:
            pass
        self.thread.join(timeout=5)


def without_wine(names):
    """Wine keeps folders of its own in TMPDIR."""
    return [n for n in names if not n.startswith("wine-")]


def run(*args, env=None, timeout=60, **kwargs):
    return subprocess.run([*COMMAND, *args], capture_output=True, env=env, timeout=timeout, **kwargs)


class WavfxCase(unittest.TestCase):
    """What every command's tests start from: a folder of their own, capture configurations with
    no device and with a stereo-only one, and the checks a recording needs."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.path = lambda name: os.path.join(self.dir.name, name)
        empty = self.path("no-device.conf")
        with open(empty, "w") as f:
            f.write("pcm.nothing { type null }\n")
        self.no_device = dict(os.environ, ALSA_CONFIG_PATH=empty)
        stereo = self.path("stereo-only.conf")
        with open(stereo, "w") as f:
            f.write("pcm.!default { type multi slaves.a { pcm { type null } channels 2 } "
                    "bindings.0 { slave a channel 0 } bindings.1 { slave a channel 1 } }\n")
        self.stereo_only = dict(os.environ, ALSA_CONFIG_PATH=stereo)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def assert_valid_recording(self, path, killed=False):
        # A killed recorder may leave a block written past the last one the header counts.
        size = os.path.getsize(path)
        with wave.open(path) as w:
            self.assertEqual((w.getnchannels(), w.getsampwidth(), w.getframerate()), (1, 2, 8000))
            self.assertEqual(w.getnframes() % 8000, 0, "whole blocks only")
            if killed:
                self.assertGreaterEqual(size, 44 + 2 * w.getnframes())
            else:
                self.assertEqual(size, 44 + 2 * w.getnframes())
            frames = w.readframes(w.getnframes())
        return struct.unpack("<%dh" % (len(frames) // 2), frames)

    def assert_ramp(self, samples):
        # Gapless: the ramp in order from its start, then at most silence.
        for n, s in enumerate(samples):
            if s != ramp_sample(n):
                self.assertTrue(all(x == 0 for x in samples[n:]), "gap at sample %d" % n)
                self.assertGreaterEqual(n, len(samples) - 8000, "only the last block may be padded")
                return
