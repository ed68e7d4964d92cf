"""wavfx as a person at a terminal uses it: real files from sox and ffmpeg, pipes
and FIFOs, a full disk, and a paced capture device made of ALSA's file plugin
reading a FIFO that this test fills in real time."""
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


def wav_bytes(samples, channels=1, bits=16):
    data = struct.pack("<%dh" % len(samples), *samples)
    block = channels * bits // 8
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", len(data) + 36, b"WAVE", b"fmt ", 16, 1,
                         channels, 8000, 8000 * block, block, bits, b"data", len(data))
    return header + data


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


class WavfxTest(unittest.TestCase):
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

    def test_distort_reports_and_clips(self):
        self.write("in.wav", wav_bytes([0, 5000, -5000, 200]))
        result = run("distort", self.path("in.wav"), self.path("out.wav"), "1000", text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "Distortion effect applied successfully.\n")
        self.assertIn("2 of 4 samples clipped", result.stderr)
        self.assertEqual(self.read("out.wav"), wav_bytes([0, 1000, -1000, 200]))
        # Data before fmt: its first samples lie inside the library's 44-byte header block.
        def data_first(samples):
            fmt = b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, 8000, 16000, 2, 16)
            body = b"WAVEdata" + struct.pack("<I", 2 * len(samples)) + struct.pack("<%dh" % len(samples), *samples)
            return b"RIFF" + struct.pack("<I", len(body) + len(fmt)) + body + fmt
        self.write("first.wav", data_first([5000, -5000, 100] * 10))
        self.assertEqual(run("distort", self.path("first.wav"), self.path("first-out.wav"), "1000").returncode, 0)
        self.assertEqual(self.read("first-out.wav"), data_first([1000, -1000, 100] * 10))

    def test_distort_refusals_name_the_file_and_the_reason_and_touch_nothing(self):
        source = self.write("in.wav", wav_bytes([1, 2, 3]))
        self.write("kept.wav", b"precious")
        os.symlink(source, self.path("link.wav"))
        cases = [
            (["missing.wav", "o.wav", "5"], 1, "missing.wav: No such file or directory"),
            (["in.wav", "link.wav", "5", "-y"], 1, "is an input too"),
            (["in.wav", "kept.wav", "5"], 1, "kept.wav: exists; -y replaces it"),
            (["in.wav", "/dev/full", "5"], 1, "writing the output failed: No space left on device"),
            (["in.wav", "no/such/dir.wav", "5"], 1, "No such file or directory"),
            (["in.wav", "o.wav", "40000"], 2, "outside 0..32767"),
            (["in.wav", "o.wav", "-5"], 2, "outside 0..32767"),
            (["in.wav", "o.wav", "loud"], 2, "usage"),
            (["in.wav", "o.wav", "5", "--bogus"], 2, "unknown option '--bogus'"),
            (["in.wav", "o.wav", "-t"], 2, "option '-t' needs a value"),
            (["in.wav", "kept.wav", "5", "-n"], 0, "kept.wav: exists; skipped (-n)"),
            (["in.wav", "kept.wav", "5", "-yn"], 2, "-y and -n contradict"),
            ([b"\xc3a.wav", "o.wav", "5"], 2, "not valid UTF-8"),
        ]
        self.write("\u00e1.wav", b"precious")
        for args, status, words in cases:
            with self.subTest(args=args):
                result = run("distort", *args, cwd=self.dir.name)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(words.encode(), result.stderr)
                self.assertNotIn(b"successfully", result.stdout)
        self.assertEqual(self.read("in.wav"), wav_bytes([1, 2, 3]))
        self.assertEqual(self.read("kept.wav"), b"precious")
        self.assertEqual(self.read("\u00e1.wav"), b"precious", "a name is never guessed")
        self.assertFalse(os.path.exists(self.path("o.wav")))
        self.assertEqual([n for n in os.listdir(self.dir.name) if n.startswith(".wavfx")], [])

    def test_distort_through_pipes_fifos_and_standard_streams(self):
        samples = [ramp_sample(n) for n in range(4000)]
        self.write("in.wav", wav_bytes(samples))
        expected = wav_bytes([clip(s, 3000) for s in samples])
        os.mkfifo(self.path("in.fifo"))
        os.mkfifo(self.path("out.fifo"))
        cases = [
            ("cat in.wav | $W distort - o.wav 3000", "o.wav"),
            ("cat in.wav | $W distort /dev/stdin o.wav 3000", "o.wav"),
            ("$W distort <(cat in.wav) o.wav 3000", "o.wav"),
            ("(cat in.wav > in.fifo &); $W distort in.fifo o.wav 3000", "o.wav"),
            ("(cat out.fifo > o.wav &); $W distort in.wav out.fifo 3000; wait", "o.wav"),
            ("$W distort in.wav - 3000 > o.wav", "o.wav"),
            ("$W distort in.wav /dev/stdout 3000 > o.wav", "o.wav"),
            ("touch o.wav; $W distort in.wav o.wav 3000 -y", "o.wav"),
            ("cp in.wav ./-in.wav; $W distort --threshold=3000 -- -in.wav o.wav", "o.wav"),
            ("$W distort -t3000 - o.wav < in.wav", "o.wav"),
        ]
        for line, out in cases:
            if os.environ.get("WAVFX_WINDOWS") and ("fifo" in line or "/dev/" in line):
                continue
            with self.subTest(line=line):
                if os.path.exists(self.path(out)):
                    os.remove(self.path(out))
                result = subprocess.run(["bash", "-c", "set -e; " + line], cwd=self.dir.name, timeout=30,
                                        env=dict(os.environ, W=" ".join(COMMAND)), capture_output=True)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.read(out), expected, "the success line stays out of the audio")
                self.assertIn(b"successfully", result.stdout + result.stderr)

    def test_one_output_rule_and_nothing_left_behind(self):
        """Every command writes what the user named by one rule, and leaves no temporary."""
        samples = [ramp_sample(n) for n in range(60000)]
        self.write("in.wav", wav_bytes(samples))
        self.write("keep.wav", wav_bytes([7] * 100))
        broken = bytearray(wav_bytes([1, 2]))
        broken[22:24] = b"\0\0"  # 0 channels
        self.write("zero-channels.wav", bytes(broken))
        tmp = self.path("tmp")
        os.mkdir(tmp)
        posix = not os.environ.get("WAVFX_WINDOWS")
        rows = [
            # A device node of the test's own, so that a fault cannot replace the machine's /dev/null.
            ("mknod null c 1 3 && $W plot in.wav -o null -y && test -c null", 0, ""),
            ("mkfifo p.fifo; (cat p.fifo > got.svg &); $W plot in.wav -o p.fifo; wait; test -p p.fifo; grep -q '<svg' got.svg",
             0, ""),
            ("$W plot in.wav keep.wav -o keep.wav -y", 1, "keep.wav: is an input too"),
            ("mkdir -p a b; cp in.wav a/x.wav; cp keep.wav b/x.wav; $W distort -t 100 a/x.wav b/x.wav -o b -y;"
             "s=$?; cmp keep.wav b/x.wav && exit $s", 1, "x.wav: is an input too"),
            ("$W distort in.wav - 100 >> in.wav", 1, "standard output is an input too"),
            ("$W info in.wav > /dev/full", 1, "standard output: No space left on device"),
            ("$W distort in.wav - 100 > /dev/full", 1, "No space left on device"),
            ("$W distort zero-channels.wav o.wav 100", 1, "the fmt chunk says 0 channels"),
            ("$W distort /dev/zero o.wav 100", 1, "/dev/zero: not a WAV file"),
            ("$W distort in.wav - 100 | head -c 100 > /dev/null", 0, ""),
            ("cat in.wav | $W distort - - 100 | head -c 100 > /dev/null", 0, ""),
            ("mkdir -p many; for k in 1 2 3; do cp in.wav many/$k.wav; done; ulimit -f 40;"
             "$W distort -t 100 many/*.wav -o out -y", 1,
             "0 of 3 file(s) distorted into out, 3 failed; 0 of 0 samples clipped"),
            ("ulimit -f 40; $W distort in.wav big.wav 100", 1, "big.wav: writing the output failed: File too large"),
        ]
        for line, status, words in rows:
            # Wine cannot tell which file its standard output is (real Windows can).
            if not posix and any(w in line for w in ("fifo", "/dev/", "ulimit", "mknod", ">>")):
                continue
            with self.subTest(line=line):
                result = subprocess.run(["bash", "-c", line], cwd=self.dir.name, timeout=60, capture_output=True,
                                        env=dict(os.environ, W=" ".join(COMMAND), TMPDIR=tmp), text=True)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(words, result.stderr)
                self.assertEqual(without_wine(os.listdir(tmp)), [], "nothing left in TMPDIR")
                left = [n for _, _, names in os.walk(self.dir.name) for n in names if n.startswith(".wavfx")]
                self.assertEqual(left, [], "no temporary left beside the outputs")
        self.assertEqual(self.read("keep.wav"), wav_bytes([7] * 100))
        self.assertEqual(self.read("in.wav"), wav_bytes(samples))

    def test_text_for_other_programs_is_valid(self):
        import math
        import xml.etree.ElementTree as ET
        data = struct.pack("<3f", 0.5, math.inf, -0.25)
        self.write("inf.wav", struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", len(data) + 36, b"WAVE", b"fmt ", 16, 3, 1,
                                          8000, 32000, 4, 32, b"data", len(data)) + data)
        shown = json.loads(run("info", self.path("inf.wav"), "--json").stdout)
        self.assertIsNone(shown["peak"][0], "JSON has no infinity")
        name = self.write("odd\ufffe\uffff.wav", wav_bytes([0, 1000, -1000] * 400))
        result = run("plot", name, "-o", "-")
        self.assertEqual(result.returncode, 0, result.stderr)
        ET.fromstring(result.stdout)  # well-formed

    def test_interrupted_work_leaves_whole_outputs_and_no_temporaries(self):
        """SIGINT or SIGTERM while a stalled FIFO input is being distorted, alone or in a batch."""
        self.write("a.wav", wav_bytes([ramp_sample(n) for n in range(8000)]))
        tmp = self.path("tmp")
        os.mkdir(tmp)
        for sig, batch in ((signal.SIGINT, False), (signal.SIGTERM, True), (signal.SIGHUP, True)):
            with self.subTest(signal=sig, batch=batch):
                fifo = self.path("slow%d.wav" % sig)
                os.mkfifo(fifo)
                out = self.path("out%d" % sig)
                args = ["-t", "100", self.path("a.wav"), fifo, "-o", out] if batch else [fifo, out + ".wav", "100"]
                proc = subprocess.Popen([*COMMAND, "distort", *args], env=dict(os.environ, TMPDIR=tmp),
                                        stderr=subprocess.PIPE)
                with open(fifo, "wb") as writer:  # half a file, then nothing more
                    writer.write(wav_bytes([5000] * 20000)[:20000])
                    writer.flush()
                    time.sleep(0.5)
                    proc.send_signal(sig)
                    proc.communicate(timeout=20)
                self.assertEqual(proc.returncode, -sig)
                self.assertEqual(os.listdir(tmp), [])
                left = [n for _, _, names in os.walk(self.dir.name) for n in names if n.startswith(".wavfx")]
                self.assertEqual(left, [])
                if batch:  # the finished file is whole, the interrupted one absent
                    self.assertEqual(os.listdir(out), ["a.wav"])
                    self.assertEqual(self.read(os.path.join(out, "a.wav")),
                                     wav_bytes([clip(ramp_sample(n), 100) for n in range(8000)]))
                else:
                    self.assertFalse(os.path.exists(out + ".wav"))

    @unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("sox"), "needs ffmpeg and sox")
    def test_real_world_files_from_ffmpeg_and_sox(self):
        def make(name, *command):
            subprocess.run([part.replace("OUT", self.path(name)) for part in command], check=True,
                           capture_output=True)
            return self.path(name)

        ff = make("ff.wav", "ffmpeg", "-f", "lavfi", "-i", "sine=f=440:d=3", "-ar", "8000", "-ac", "1",
                  "-c:a", "pcm_s16le", "OUT")
        info = json.loads(run("info", ff, "--json").stdout)
        self.assertEqual([c["id"] for c in info["chunks"]], ["fmt ", "LIST", "data"])
        self.assertAlmostEqual(info["seconds"], 3.0)
        self.assertAlmostEqual(info["peak"][0], 0.125, places=3)  # ffmpeg's sine: -18 dBFS
        self.assertFalse(info["libraryLayout"])
        result = run("distort", ff, self.path("o.wav"), "2000", text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        with wave.open(self.path("o.wav")) as w, wave.open(ff) as f:
            got, source = w.readframes(w.getnframes()), f.readframes(f.getnframes())
        n = len(source) // 2
        self.assertEqual(struct.unpack("<%dh" % n, got), tuple(clip(s, 2000) for s in struct.unpack("<%dh" % n, source)))
        before, after = self.read("ff.wav"), self.read("o.wav")
        self.assertEqual(after[:info["dataOffset"]], before[:info["dataOffset"]], "every other chunk kept")
        self.assertIn(b"Sample Rate    : 8000", subprocess.run(["soxi", self.path("o.wav")], capture_output=True).stdout)

        # What ffmpeg writes to a pipe: sizes it could not come back to fill in.
        for rf64 in ("never", "always"):
            with self.subTest(streamed=rf64):
                line = ("ffmpeg -loglevel error -f lavfi -i sine=f=440:d=2 -ar 8000 -ac 2 -c:a pcm_s16le -rf64 %s "
                        "-f wav pipe:1 > s.wav; $W distort s.wav o1.wav 1000 -y; cat s.wav | $W distort - - 1000 > o2.wav"
                        % rf64)
                result = subprocess.run(["bash", "-c", "set -e; " + line], cwd=self.dir.name, capture_output=True,
                                        env=dict(os.environ, W=" ".join(COMMAND)), text=True, timeout=60)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn("of 32000 samples clipped", result.stderr)
                shown = json.loads(run("info", self.path("s.wav"), "--json").stdout)
                self.assertTrue(shown["streamed"])
                source, at = self.read("s.wav"), shown["dataOffset"]
                n = (len(source) - at) // 2
                clipped = struct.pack("<%dh" % n, *[clip(s, 1000) for s in struct.unpack_from("<%dh" % n, source, at)])
                for out in ("o1.wav", "o2.wav"):
                    self.assertEqual(self.read(out), source[:at] + clipped)

        alaw = make("alaw.wav", "sox", "-n", "-e", "a-law", "OUT", "synth", "0.2", "sine", "300")
        result = run("distort", alaw, self.path("o.wav"), "100", "-y", text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("A-law, not 8-, 16-, 24- or 32-bit PCM or 32- or 64-bit float", result.stderr)

    @unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("sox"), "needs ffmpeg and sox")
    def test_every_pcm_and_float_format_clips_as_the_model_says(self):
        synth = ["synth", "0.2", "sine", "300", "sine", "500", "vol", "0.99"]
        lavfi = ["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "sine=f=300:d=0.2,volume=6dB", "-ar", "8000"]
        inf = struct.pack("<6f", 0.75, float("nan"), float("inf"), float("-inf"), -0.9, 0.1)
        self.write("inf.wav", struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(inf), b"WAVE", b"fmt ", 16, 3, 2, 8000,
                                          64000, 8, 32, b"data", len(inf)) + inf)
        files = [  # name, how it is made, struct code of a sample (24-bit: "t"), full scale (0: float)
            ("u8.wav", ["sox", "-n", "-r", "8000", "-b", "8", "OUT"] + synth, "B", 128),
            ("s16-ffmpeg.wav", lavfi + ["-c:a", "pcm_s16le", "OUT"], "h", 32768),
            ("s24.wav", ["sox", "-n", "-r", "8000", "-c", "2", "-b", "24", "OUT"] + synth, "t", 1 << 23),
            ("s24-6ch.wav", lavfi + ["-ac", "6", "-c:a", "pcm_s24le", "OUT"], "t", 1 << 23),
            ("s32-6ch.wav", lavfi + ["-ac", "6", "-c:a", "pcm_s32le", "OUT"], "i", 1 << 31),
            ("f32-ffmpeg.wav", lavfi + ["-c:a", "pcm_f32le", "OUT"], "f", 0),
            ("f64.wav", ["sox", "-n", "-r", "8000", "-e", "floating-point", "-b", "64", "OUT"] + synth, "d", 0),
            ("inf.wav", None, "f", 0),
        ]

        def level(text):  # the threshold as a fraction of full scale, and N when it is one
            if text.lower().endswith(("db", "dbfs")):
                return 10 ** (float(text.lower().rstrip("dbfs")) / 20), None
            return (float(text), None) if "." in text else (int(text) / 32768, int(text))

        for name, command, code, scale in files:
            path = self.path(name)
            if command:
                subprocess.run([part.replace("OUT", path) for part in command], check=True, capture_output=True)
            shown = json.loads(run("info", path, "--json").stdout)
            at, size, width = shown["dataOffset"], shown["dataBytes"], shown["bitsPerSample"] // 8
            source = self.read(name)
            data = source[at:at + size]
            samples = ([int.from_bytes(data[i:i + 3], "little", signed=True) for i in range(0, size, 3)]
                       if code == "t" else list(struct.unpack("<%d%s" % (size // width, code), data)))
            if code == "B":
                samples = [s - 128 for s in samples]
            if command:
                self.assertEqual(shown["peakValue"][0], max(map(abs, samples[::shown["channels"]])))
            for spelled in ("8000", "-6dB", "-0.5dBFS", "0.25", "0", "32767"):
                with self.subTest(file=name, threshold=spelled):
                    c, n = level(spelled)
                    if scale == 0:
                        t = struct.unpack("<f", struct.pack("<f", c))[0] if code == "f" else c
                    elif n is not None:
                        t = (n + 128) // 256 if scale == 128 else n * (scale // 32768)
                    else:
                        t = min(math.floor(c * scale + 0.5), scale - 1)
                    model = [s if s != s else max(-t, min(t, s)) for s in samples]
                    result = run("distort", path, self.path("out.wav"), spelled, "-y", text=True)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    out = self.read("out.wav")
                    self.assertEqual((out[:at], out[at + size:]), (source[:at], source[at + size:]), "other bytes kept")
                    got = out[at:at + size]
                    if code == "t":
                        got = [int.from_bytes(got[i:i + 3], "little", signed=True) for i in range(0, size, 3)]
                    else:
                        got = [s - 128 if code == "B" else s for s in struct.unpack("<%d%s" % (size // width, code), got)]
                    same = [a == b or (a != a and b != b) for a, b in zip(got, model)]
                    self.assertTrue(all(same), "sample %d" % same.index(False) if False in same else "")
                    changed = sum(1 for s, m in zip(samples, model) if s != m and s == s)
                    self.assertIn("%d of %d samples clipped" % (changed, len(samples)), result.stderr)
            self.assertEqual(run("plot", path, self.path("out.wav"), "-o", self.path("p.svg"), "-t", "-6dB", "-y").returncode, 0)
        bad = run("distort", self.path("u8.wav"), self.path("out.wav"), "1dB", "-y", text=True)
        self.assertEqual(bad.returncode, 2)
        self.assertIn("THRESHOLD 1dB is no level in dB of full scale", bad.stderr)

    @unittest.skipUnless(shutil.which("rsvg-convert"), "needs rsvg-convert (librsvg2-bin)")
    def test_plot_shows_the_clip_flat_at_the_threshold(self):
        # Three seconds of 440 Hz rising to full scale: long enough for the envelope form.
        tone = [round(32767 * n / 24000 * __import__("math").sin(n * 0.3456)) for n in range(24000)]
        self.write("tone.wav", wav_bytes(tone))
        self.assertEqual(run("distort", self.path("tone.wav"), self.path("clipped.wav"), "8000").returncode, 0)
        result = run("plot", self.path("tone.wav"), self.path("clipped.wav"), "-o", self.path("p.svg"), "-t", "8000",
                     text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("samples clipped", self.read("p.svg").decode())
        subprocess.run(["rsvg-convert", self.path("p.svg"), "-o", self.path("p.png")], check=True)
        rows = png_rows(self.path("p.png"))
        blue, orange, red = (0x4C, 0x78, 0xA8), (0xF5, 0x85, 0x18), (0xD6, 0x27, 0x28)
        lines = [y for y, row in enumerate(rows) if row.count(red) > 300]
        self.assertTrue(lines, "the threshold lines")
        upper = min(lines)
        width = len(rows[0])
        for x in range(int(width * 0.6), int(width * 0.95), 7):
            column = [row[x] for row in rows]
            top_orange = column.index(orange)
            top_blue = column.index(blue)
            self.assertLessEqual(abs(top_orange - upper), 2, "the clipped envelope is flat at the threshold")
            self.assertLess(top_blue, upper - 30, "the input rises above it")

    def test_batch_distorts_every_good_file_and_reports_the_rest(self):
        inputs = self.path("in")
        os.mkdir(inputs)
        for k in range(3):
            with open(os.path.join(inputs, "take%d.wav" % k), "wb") as f:
                f.write(wav_bytes([ramp_sample(n + 1000 * k) for n in range(3000)]))
        with open(os.path.join(inputs, "notes.wav"), "w") as f:
            f.write("not audio")
        names = sorted(os.listdir(inputs))
        for jobs in ("1", "2"):
            result = run("distort", "-t", "5000", *[os.path.join(inputs, n) for n in names], "-o",
                         self.path("out" + jobs), "-j", jobs, text=True)
            self.assertEqual(result.returncode, 1)
            self.assertIn("notes.wav: not a WAV file", result.stderr)
            self.assertIn("3 of 4 file(s) distorted into", result.stderr)
            self.assertNotIn("\r", result.stderr, "no progress bar when stderr is no terminal")
            self.assertEqual(result.stdout.count("Distortion effect applied successfully."), 3)
        self.assertEqual(sorted(os.listdir(self.path("out1"))), ["take0.wav", "take1.wav", "take2.wav"])
        for k in range(3):
            name = "take%d.wav" % k
            self.assertEqual(self.read("out1/" + name), self.read("out2/" + name))
            self.assertEqual(self.read("out1/" + name),
                             wav_bytes([clip(ramp_sample(n + 1000 * k), 5000) for n in range(3000)]))
        # An interrupted batch resumes with -n: what exists is skipped, the rest is done.
        os.remove(self.path("out1/take1.wav"))
        result = run("distort", "-nt", "5000", *[os.path.join(inputs, n) for n in names], "-o", self.path("out1"),
                     text=True)
        self.assertIn("1 of 4 file(s) distorted into %s, 2 skipped (they exist), 1 failed" % self.path("out1"),
                      result.stderr)
        self.assertEqual(self.read("out1/take1.wav"), self.read("out2/take1.wav"))

    def test_info_reads_layouts_and_names_bad_bytes_safely(self):
        self.write("good.wav", wav_bytes([0, 16384, -32768]))
        shown = run("info", self.path("good.wav"), text=True).stdout
        self.assertIn("match the file", shown)
        self.assertIn("0.0 dBFS", shown)
        self.assertIn("the library's 44-byte layout", shown)
        self.write("cut.wav", wav_bytes([1, 2, 3, 4])[:-2])
        self.assertIn("DO NOT match", run("info", self.path("cut.wav"), text=True).stdout)
        several = run("info", "--json", self.path("good.wav"), self.path("none.wav"), self.path("cut.wav"), text=True)
        shown = json.loads(several.stdout)
        self.assertEqual(several.returncode, 1)
        self.assertEqual([s.get("sizesMatch", s.get("error")) for s in shown], [True, "No such file or directory", False])
        self.assertEqual(run("info", self.path("good.wav"), self.path("cut.wav"), text=True).stdout.count("file: "), 2)
        odd = bytearray(wav_bytes([1, 2]) + b"\x1b[2J\x00\x00\x00\x00")
        self.write("odd.wav", bytes(odd))
        shown = run("info", self.path("odd.wav")).stdout
        self.assertIn(b"\\x1B[2J", shown)
        self.assertNotIn(b"\x1b", shown)
        for name, words in [("nothing.wav", "No such file or directory"), (".", "is a directory")]:
            result = run("info", self.path(name), text=True)
            self.assertEqual(result.returncode, 1)
            self.assertIn(words, result.stderr)
        self.assertEqual(run("--version", text=True).stdout.split()[:2], ["wavfx", "1.0.0.1"])

    @unittest.skipUnless(os.environ.get("WAVFX_MADE"), "needs the build's manual page and completion")
    def test_help_manual_completion_and_readme_follow_the_command_table(self):
        import tomllib
        cli = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wavfx", "cli")
        with open(os.path.join(cli, "commands.toml"), "rb") as f:
            table = tomllib.load(f)
        made = os.environ["WAVFX_MADE"]
        with open(os.path.join(made, "wavfx.1")) as f:
            manual = f.read().replace("\\-", "-")
        if shutil.which("groff"):
            lint = subprocess.run(["groff", "-man", "-ww", "-z", os.path.join(made, "wavfx.1")], capture_output=True)
            self.assertEqual(lint.stderr, b"", "groff -man -ww is clean")
        alsa = self.write("alsa.conf", b'pcm.mic { type null hint { show on description "Test microphone" } }\n')
        # The completion asks the wavfx it completes for the devices.
        self.write("wavfx", ('#!/bin/sh\nexec %s "$@"\n' % " ".join(COMMAND)).encode())
        self.write("fake", b"#!/bin/sh\necho 'hw:CARD=X,DEV=0'\n")
        for script in ("wavfx", "fake"):
            os.chmod(self.path(script), 0o755)

        def complete(line):
            script = ('source "$1"; COMP_LINE=$2; COMP_POINT=${#COMP_LINE}; _wavfx; printf "%s\\n" "${COMPREPLY[@]}"')
            result = subprocess.run(["bash", "-c", script, "_", os.path.join(made, "wavfx.bash"), line],
                                    env=dict(os.environ, ALSA_CONFIG_PATH=alsa,
                                             PATH=self.dir.name + os.pathsep + os.environ["PATH"]),
                                    capture_output=True, text=True)
            return result.stdout.split()

        shared = {o["name"]: o for o in table["shared"]}
        for command in table["command"]:
            name = command["name"]
            options = command.get("option", []) + [shared[s] for s in command.get("shared", [])]
            spellings = [f for o in options for f in (["-" + o["short"]] if "short" in o else []) +
                         ["--" + n for n in [o["name"]] + o.get("aliases", [])]]
            helped = run(name, "--help", text=True).stdout
            with self.subTest(command=name):
                self.assertIn('.SS "%s"' % name, manual)
                self.assertIn(name, complete("wavfx " + name[:2]))
                self.assertEqual(sorted(complete("wavfx %s -" % name)), sorted(spellings))
                for spelled in spellings:
                    self.assertIn(spelled, manual)
                    self.assertIn(spelled, helped)
        self.assertEqual(complete("wavfx record x.wav -D m"), ["mic"])
        self.assertEqual(complete("wavfx record --device="), ["mic"])
        self.assertEqual(complete(self.path("fake") + " record -D hw:CARD=X,"), ["X,DEV=0"], "what bash has not split")
        self.assertEqual(complete("wavfx distort -t 5 -o "), [], "folders: bash's own completion")
        readme = subprocess.run([sys.executable, os.path.join(cli, "generate.py"), os.path.join(cli, "commands.toml"),
                                 "--readme", os.path.join(cli, "..", "..", "..", "README.md"), "--check"],
                                capture_output=True, text=True)
        self.assertEqual(readme.returncode, 0, readme.stderr)

    @unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("sox") and shutil.which("arecord"),
                         "needs ffmpeg, sox and arecord")
    def test_repair_makes_files_other_tools_broke_whole_in_place(self):
        device = PacedDevice(self.dir.name)
        try:
            def killed(name, command, env=None, size=20000):
                process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                deadline = time.monotonic() + 20
                while time.monotonic() < deadline and not (os.path.exists(self.path(name)) and
                                                           os.path.getsize(self.path(name)) > size):
                    time.sleep(0.05)
                process.kill()
                process.wait()
            killed("arecord.wav", ["arecord", "-q", "-f", "S16_LE", "-r", "8000", "-c", "1", self.path("arecord.wav")],
                   device.env())
            killed("sox.wav", ["sox", "-n", "-r", "8000", "-c", "2", "-b", "16", self.path("sox.wav"), "synth", "36000",
                               "sine", "440"], size=3000000)
        finally:
            device.close()
        subprocess.run("ffmpeg -loglevel error -f lavfi -i sine=d=1 -ar 8000 -f wav pipe:1 > ffmpeg.wav", shell=True,
                       cwd=self.dir.name, check=True)
        # Past 4 GiB, sparse: a leading JUNK chunk becomes RF64's ds64; without one the file is refused.
        for name, junk in (("big.wav", b"JUNK" + struct.pack("<I", 28) + bytes(28)), ("big-nojunk.wav", b"")):
            with open(self.path(name), "wb") as f:
                f.write(b"RIFF\xff\xff\xff\xffWAVE" + junk + struct.pack("<4sIHHIIHH4sI", b"fmt ", 16, 1, 1, 8000,
                                                                              16000, 2, 16, b"data", 0xFFFFFFFF))
                f.truncate((4 << 30) + 4000)
        self.write("text.wav", b"not a wav at all")
        os.mkfifo(self.path("p.fifo"))
        broken = ["arecord.wav", "sox.wav", "ffmpeg.wav", "big.wav"]
        def head(name):
            with open(self.path(name), "rb") as f:
                return f.read(100)
        before = {n: (os.stat(self.path(n)), head(n) if n == "big.wav" else self.read(n)) for n in broken}

        dry = run("repair", "--dry-run", "--json", *[self.path(n) for n in broken], text=True)
        self.assertEqual(dry.returncode, 0, dry.stderr)
        self.assertEqual({o["status"] for o in json.loads(dry.stdout)}, {"would-repair"})
        self.assertEqual([head(n) for n in broken], [before[n][1][:100] for n in broken])
        fixed = run("repair", "--json", *[self.path(n) for n in broken + ["big-nojunk.wav", "text.wav", "p.fifo", "."]],
                    text=True)
        self.assertEqual(fixed.returncode, 1)
        shown = {os.path.basename(o["file"]) or ".": o for o in json.loads(fixed.stdout)}
        for name, words in [("big-nojunk.wav", "no JUNK chunk"), ("text.wav", "not a RIFF"), ("p.fifo", "not a regular"),
                            (".", "is a directory")]:
            self.assertEqual(shown[name]["status"], "refused")
            self.assertIn(words, shown[name]["reason"])
            self.assertIn(words, fixed.stderr)
        self.assertEqual(struct.unpack("<4sI", head("big-nojunk.wav")[:8]), (b"RIFF", 0xFFFFFFFF), "left as it was")
        big = head("big.wav")
        self.assertEqual((big[:4], big[12:16]), (b"RF64", b"ds64"))
        self.assertEqual(struct.unpack_from("<QQ", big, 20), ((4 << 30) + 3992, (4 << 30) + 4000 - 80))
        for name in broken:
            with self.subTest(file=name):
                self.assertEqual(shown[name]["status"], "repaired")
                now = os.stat(self.path(name))
                self.assertEqual((now.st_ino, now.st_size), (before[name][0].st_ino, before[name][0].st_size), "in place")
                if name == "big.wav":
                    continue
                after, old = bytearray(self.read(name)), bytearray(before[name][1])
                for change in shown[name]["changes"]:
                    at = change["offset"]
                    after[at:at + 4] = old[at:at + 4] = b"????"
                self.assertEqual(after, old, "only the size fields changed")
                with wave.open(self.path(name)) as w:
                    data = len(w.readframes(w.getnframes()))
                self.assertGreaterEqual(data, now.st_size - 200)
                soxi = subprocess.run(["soxi", "-s", self.path(name)], capture_output=True, text=True)
                self.assertEqual(int(soxi.stdout), data // w.getsampwidth() // w.getnchannels())
                probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                                        self.path(name)], capture_output=True, text=True)
                self.assertAlmostEqual(float(probe.stdout), w.getnframes() / w.getframerate(), places=3)
                self.assertIn("match the file", run("info", self.path(name), text=True).stdout)
        valid_before = os.stat(self.path("ffmpeg.wav"))
        again = run("repair", *[self.path(n) for n in broken], text=True)
        self.assertEqual((again.returncode, again.stdout.count(": valid\n")), (0, 4), again.stderr)
        self.assertEqual(os.stat(self.path("ffmpeg.wav")).st_mtime_ns, valid_before.st_mtime_ns, "a valid file untouched")

    def test_record_refuses_what_it_must_and_keeps_what_was_there(self):
        self.write("precious.wav", b"precious")
        os.symlink(self.path("precious.wav"), self.path("link.wav"))
        os.mkdir(self.path("folder"))
        cases = [
            (["precious.wav"], self.no_device, "exists; -y replaces it"),
            (["link.wav"], self.no_device, "exists; -y replaces it"),
            (["precious.wav", "-y"], self.no_device, 'ALSA PCM "default": no capture device'),
            (["folder"], self.no_device, "is not a regular file"),
            (["/dev/null", "-y"], self.no_device, "is not a regular file"),
            (["new.wav"], self.no_device, 'ALSA PCM "default": no capture device'),
            (["new.wav", "--device", "nosuch"], None, 'ALSA PCM "nosuch": no capture device'),
            (["-q", "new.wav", "-D", "nosuch"], None, 'ALSA PCM "nosuch": no capture device'),
            (["new.wav", "--device=nosuch"], None, 'ALSA PCM "nosuch": no capture device'),
            # A default that opens but takes two channels only, as a stereo microphone's raw device.
            (["precious.wav", "-y"], self.stereo_only, "the device opens but does not take one channel"),
        ]
        for args, env, words in cases:
            with self.subTest(args=args):
                args = [self.path(a) if a.endswith(".wav") or a == "folder" else a for a in args]
                result = run("record", *args, "--seconds", "1", env=env, text=True)
                self.assertEqual(result.returncode, 1)
                self.assertIn(words, result.stderr)
                self.assertEqual(len(result.stderr.splitlines()), 1, "one clear line, no ALSA noise")
        skipped = run("record", self.path("precious.wav"), "-n", "-d", "1", env=self.no_device, text=True)
        self.assertEqual((skipped.returncode, skipped.stderr.split(": ", 2)[2]), (0, "exists; skipped (-n)\n"))
        self.assertEqual(self.read("precious.wav"), b"precious")
        self.assertTrue(os.path.isdir(self.path("folder")) and os.path.islink(self.path("link.wav")))
        self.assertFalse(os.path.exists(self.path("new.wav")))
        self.assertTrue(os.path.exists("/dev/null") and not os.path.isfile("/dev/null"))

    def test_demo_runs_without_a_device_and_checks_its_recording(self):
        result = run("demo", env=self.no_device, cwd=self.dir.name, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("returned 999", result.stdout)
        self.assertIn("sample for sample the tone", result.stdout)
        self.assertEqual(result.stderr, "")
        samples = self.assert_valid_recording(self.path("wavfx-demo/recording.wav"))
        self.assertEqual(len(samples), 16000)
        self.assertEqual(sorted(os.listdir(self.path("wavfx-demo"))),
                         ["recording.wav", "tone-clipped.wav", "tone.svg", "tone.wav"], "the played tone is gone")

    def test_record_seconds_are_blocks_and_a_second_recording_is_refused(self):
        device = PacedDevice(self.dir.name)
        try:
            first = subprocess.Popen([*COMMAND, "record", self.path("r.wav"), "-d", "3"], env=device.env(),
                                     stderr=subprocess.PIPE, text=True)
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline and counted_bytes(self.path("r.wav")) < 16000:
                time.sleep(0.05)
            second = run("record", self.path("r.wav"), "-y", "--seconds", "1", env=device.env(), text=True)
            held = run("repair", self.path("r.wav"), text=True)
            _, first_err = first.communicate(timeout=30)
        finally:
            device.close()
        self.assertEqual(second.returncode, 1)
        self.assertIn("another wavfx is recording into it", second.stderr)
        self.assertEqual(held.returncode, 1)
        self.assertIn("a running wavfx record holds it", held.stderr)
        self.assertEqual(first.returncode, 0, first_err)
        self.assertIn("3 block(s)", first_err)
        samples = self.assert_valid_recording(self.path("r.wav"))
        self.assertEqual(len(samples), 3 * 8000)
        self.assert_ramp(samples)
        self.assertIn("match the file", run("info", self.path("r.wav"), text=True).stdout)

    def test_record_on_a_full_disk_fails_loudly(self):
        small = self.path("small")
        os.mkdir(small)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=40k", "tmpfs", small],
                          capture_output=True).returncode != 0:
            self.skipTest("cannot mount a small file system here")
        self.addCleanup(subprocess.run, ["umount", small])
        raw = self.write("ramp.raw", struct.pack("<%dh" % 80000, *[ramp_sample(n) for n in range(80000)]))
        config = self.write("file.conf", ('pcm.!default { type file slave.pcm { type null } file "/dev/null" '
                                          'infile "%s" format "raw" }\n' % raw).encode())
        result = run("record", os.path.join(small, "r.wav"), env=dict(os.environ, ALSA_CONFIG_PATH=config), text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("No space left on device", result.stderr)
        self.assertIn("the file holds 2 block(s)", result.stderr)
        self.assertEqual(len(self.assert_valid_recording(os.path.join(small, "r.wav"))), 2 * 8000)

    def test_signals_finish_the_file_and_kill_leaves_a_valid_one(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGKILL):
            with self.subTest(signal=sig):
                out = self.path("sig%d.wav" % sig)
                device = PacedDevice(tempfile.mkdtemp(dir=self.dir.name))
                try:
                    proc = subprocess.Popen([*COMMAND, "record", out, "--quiet"], env=device.env(),
                                            stderr=subprocess.PIPE, text=True)
                    deadline = time.monotonic() + 20
                    while time.monotonic() < deadline and counted_bytes(out) < 2 * 16000:
                        time.sleep(0.05)
                    proc.send_signal(sig)
                    proc.communicate(timeout=20)
                finally:
                    device.close()
                self.assertEqual(proc.returncode, -signal.SIGKILL if sig == signal.SIGKILL else 0)
                samples = self.assert_valid_recording(out, killed=sig == signal.SIGKILL)
                self.assertGreaterEqual(len(samples) // 8000, 2)
                self.assert_ramp(samples)


def pulse_plugin():
    """ALSA's pulse plugin for this machine's own architecture (an emulated wavfx cannot load it)."""
    if os.environ.get("WAVFX_EMULATOR") or not shutil.which("pulseaudio"):
        return False
    return any(os.path.exists(os.path.join(root, "libasound_module_pcm_pulse.so"))
               for root, _, _ in os.walk("/usr/lib") if root.endswith("alsa-lib"))


@unittest.skipUnless(pulse_plugin(), "needs pulseaudio and ALSA's pulse plugin (libasound2-plugins)")
class RecordThroughPulseAudioTest(unittest.TestCase):
    """A private PulseAudio with a 440 Hz sine source, reached through ALSA's pulse plugin: real time."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp()
        socket = os.path.join(cls.dir, "native")
        conf, asound = os.path.join(cls.dir, "server.pa"), os.path.join(cls.dir, "asound.conf")
        with open(conf, "w") as f:
            f.write("load-module module-native-protocol-unix socket=%s auth-anonymous=1\n"
                    "load-module module-null-sink\nload-module module-sine-source rate=8000 frequency=440\n"
                    "set-default-source sine_input\n" % socket)
        with open(asound, "w") as f:
            f.write('pcm.!default { type pulse server "unix:%s" }\nctl.!default { type pulse server "unix:%s" }\n'
                    % (socket, socket))
        private = dict(os.environ, HOME=cls.dir, XDG_RUNTIME_DIR=cls.dir)
        cls.server = subprocess.Popen(["pulseaudio", "-n", "-F", conf, "--daemonize=no", "--exit-idle-time=-1",
                                       "--use-pid-file=no"], env=private, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while not os.path.exists(socket) and time.monotonic() < deadline:
            time.sleep(0.05)
        cls.env = dict(private, ALSA_CONFIG_PATH=asound)

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait(timeout=20)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_n_seconds_in_real_time_gapless_and_through_ctrl_z(self):
        step = 2 * math.cos(2 * math.pi * 440 / 8000)
        for pause in (0, 6):
            with self.subTest(pause=pause):
                out = os.path.join(self.dir, "pause%d.wav" % pause)
                begin = time.monotonic()
                proc = subprocess.Popen([*COMMAND, "record", out, "--seconds", "6"], env=self.env,
                                        stderr=subprocess.PIPE, text=True)
                if pause:  # Ctrl-Z, then fg
                    while counted_bytes(out) < 4 * 16000 and time.monotonic() < begin + 20:
                        time.sleep(0.05)
                    proc.send_signal(signal.SIGSTOP)
                    time.sleep(pause)
                    proc.send_signal(signal.SIGCONT)
                _, err = proc.communicate(timeout=60)
                elapsed = time.monotonic() - begin
                self.assertEqual(proc.returncode, 0, err)
                with wave.open(out) as w:
                    samples = struct.unpack("<%dh" % w.getnframes(), w.readframes(w.getnframes()))
                self.assertEqual(len(samples), 6 * 8000)
                # Real time, less what the server held for the stream: at most the 3 s ring it asks for.
                if not pause:
                    self.assertTrue(3 < elapsed < 10, "6 s of audio took %.1f s" % elapsed)
                # A sine's samples follow s[n+1] + s[n-1] = 2 cos(w) s[n]: a gap or a repeat breaks that.
                jumps = [n for n in range(1, len(samples) - 1)
                         if abs(samples[n + 1] + samples[n - 1] - step * samples[n]) > 8]
                self.assertEqual(jumps, [], "gapless")
                self.assertGreater(max(samples), 8000, "the sine, not silence")


if __name__ == "__main__":
    unittest.main()
