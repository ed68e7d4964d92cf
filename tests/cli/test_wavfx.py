"""wavfx as a person at a terminal uses it, with a paced capture device made of
ALSA's file plugin reading a FIFO that this test fills in real time."""
import os
import signal
import struct
import subprocess
import tempfile
import threading
import time
import unittest
import wave

WAVFX = os.environ["WAVFX"]
# A cross-built wavfx runs under its emulator (for example "qemu-arm -L /usr/arm-linux-gnueabihf").
COMMAND = os.environ.get("WAVFX_EMULATOR", "").split() + [WAVFX]


def wav_bytes(samples, channels=1, bits=16):
    data = struct.pack("<%dh" % len(samples), *samples)
    block = channels * bits // 8
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", len(data) + 36, b"WAVE", b"fmt ", 16, 1,
                         channels, 8000, 8000 * block, block, bits, b"data", len(data))
    return header + data


def ramp_sample(n):
    return ((n * 40503) & 0xFFFF) - 32768


class PacedDevice:
    """Writes a ramp into a FIFO at 8000 samples a second, for ALSA to read."""

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
        try:
            with open(self.fifo, "wb", buffering=0) as f:
                n, begin = 0, time.monotonic()
                while self.running:
                    chunk = [ramp_sample(n + i) for i in range(400)]
                    f.write(struct.pack("<400h", *chunk))
                    n += 400
                    time.sleep(max(0.0, begin + n / 8000.0 - time.monotonic()))
        except (BrokenPipeError, OSError):
            pass

    def env(self):
        return dict(os.environ, ALSA_CONFIG_PATH=self.config)

    def close(self):
        self.running = False
        # Unblocks a writer still waiting for a reader.
        try:
            fd = os.open(self.fifo, os.O_RDONLY | os.O_NONBLOCK)
            time.sleep(0.1)
            os.close(fd)
        except OSError:
            pass
        self.thread.join(timeout=5)


def run(*args, env=None, timeout=60):
    return subprocess.run([*COMMAND, *args], capture_output=True, text=True, env=env, timeout=timeout)


class WavfxTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = lambda name: os.path.join(self.dir.name, name)
        empty = self.path("no-device.conf")
        with open(empty, "w") as f:
            f.write("pcm.nothing { type null }\n")
        self.no_device = dict(os.environ, ALSA_CONFIG_PATH=empty)

    def tearDown(self):
        self.dir.cleanup()

    def assert_valid_recording(self, path):
        size = os.path.getsize(path)
        self.assertEqual((size - 44) % 16000, 0, "whole blocks only")
        with wave.open(path) as w:
            self.assertEqual((w.getnchannels(), w.getsampwidth(), w.getframerate()), (1, 2, 8000))
            self.assertEqual(w.getnframes(), (size - 44) // 2)
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
        with open(self.path("in.wav"), "wb") as f:
            f.write(wav_bytes([0, 5000, -5000, 200]))
        result = run("distort", self.path("in.wav"), self.path("out.wav"), "1000")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "Distortion effect applied successfully.\n")
        self.assertIn("2 of 4 samples clipped", result.stderr)
        with open(self.path("out.wav"), "rb") as f:
            self.assertEqual(f.read(), wav_bytes([0, 1000, -1000, 200]))

    def test_distort_failures_name_the_file_and_the_reason(self):
        cases = [
            (["distort", self.path("missing.wav"), self.path("o.wav"), "5"], 1, "did not open"),
            (["distort", self.path("in.wav"), self.path("in.wav"), "5"], 1, "same file"),
            (["distort", self.path("in.wav"), "/dev/full", "5"], 1, "writing the output failed"),
            (["distort", self.path("in.wav"), self.path("o.wav"), "loud"], 2, "usage"),
        ]
        with open(self.path("in.wav"), "wb") as f:
            f.write(wav_bytes([1, 2, 3]))
        for args, status, words in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, status)
                self.assertIn(words, result.stderr)
                self.assertNotIn("successfully", result.stdout)
        with open(self.path("in.wav"), "rb") as f:
            self.assertEqual(f.read(), wav_bytes([1, 2, 3]))

    def test_distort_warns_on_a_header_that_is_not_16_bit_pcm(self):
        with open(self.path("in8.wav"), "wb") as f:
            f.write(wav_bytes([100, 200], bits=8))
        result = run("distort", self.path("in8.wav"), self.path("o.wav"), "50")
        self.assertEqual(result.returncode, 0)
        self.assertIn("not a 16-bit PCM", result.stderr)

    def test_info_checks_sizes(self):
        with open(self.path("good.wav"), "wb") as f:
            f.write(wav_bytes([0, 16384, -32768]))
        result = run("info", self.path("good.wav"))
        self.assertEqual(result.returncode, 0)
        self.assertIn("match the file", result.stdout)
        self.assertIn("0.0 dBFS", result.stdout)
        with open(self.path("cut.wav"), "wb") as f:
            f.write(wav_bytes([1, 2, 3, 4])[:-2])
        self.assertIn("DO NOT match", run("info", self.path("cut.wav")).stdout)
        self.assertEqual(run("info", self.path("nothing.wav")).returncode, 1)

    def test_record_without_a_device_fails_plainly(self):
        result = run("record", self.path("r.wav"), "--seconds", "2", env=self.no_device)
        self.assertEqual(result.returncode, 1)
        self.assertIn('ALSA\'s "default" capture device', result.stderr)
        self.assertFalse(os.path.exists(self.path("r.wav")))
        result = run("record", self.path("no/such/dir.wav"), "--seconds", "1", env=self.no_device)
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot create", result.stderr)

    def test_demo_runs_without_a_device(self):
        result = subprocess.run([*COMMAND, "demo"], capture_output=True, text=True, env=self.no_device,
                                cwd=self.dir.name, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("returned 999", result.stdout)
        self.assertIn("no capture device", result.stdout)
        self.assertTrue(os.path.exists(self.path("wavfx-demo/tone-clipped.wav")))

    def test_record_for_seconds_then_info(self):
        device = PacedDevice(self.dir.name)
        try:
            result = run("record", self.path("r.wav"), "--seconds", "3", env=device.env())
        finally:
            device.close()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("8000 Hz, mono, 16-bit PCM", result.stderr)
        samples = self.assert_valid_recording(self.path("r.wav"))
        self.assertIn(len(samples) // 8000, (2, 3, 4))
        self.assert_ramp(samples)
        self.assertIn("match the file", run("info", self.path("r.wav")).stdout)

    def test_signals_finish_the_file_and_kill_leaves_a_valid_one(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGKILL):
            with self.subTest(signal=sig):
                out = self.path("sig%d.wav" % sig)
                device = PacedDevice(tempfile.mkdtemp(dir=self.dir.name))
                try:
                    proc = subprocess.Popen([*COMMAND, "record", out, "--quiet"], env=device.env(),
                                            stderr=subprocess.PIPE, text=True)
                    deadline = time.monotonic() + 20
                    while time.monotonic() < deadline and (
                            not os.path.exists(out) or os.path.getsize(out) < 44 + 2 * 16000):
                        time.sleep(0.05)
                    proc.send_signal(sig)
                    proc.communicate(timeout=20)
                finally:
                    device.close()
                self.assertEqual(proc.returncode, -signal.SIGKILL if sig == signal.SIGKILL else 0)
                samples = self.assert_valid_recording(out)
                self.assertGreaterEqual(len(samples) // 8000, 2)
                self.assert_ramp(samples)


if __name__ == "__main__":
    unittest.main()
