"""The LV2 plug-in in hosts: our own lilv host (blocks of every size, controls changed while it
runs, heap calls counted inside run()), lv2apply and ffmpeg's lv2 filter; its output against wavfx's
offline clip of the same float samples, delayed by the latency it reports."""
import glob
import os
import re
import shutil
import subprocess
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "wavfx", "cli"))
from harness import WavfxCase, run, wav_of  # noqa: E402

EMULATOR = os.environ.get("WAVFX_EMULATOR", "").split()
os.environ["LV2_PATH"] = os.environ["LV2_BUNDLES"] + ":/usr/lib/lv2"
BUNDLE = os.path.join(os.environ["LV2_BUNDLES"], "velorik-clip.lv2")
SANITIZED = bool(os.environ.get("WAVFX_SANITIZED"))


def signal(kind, rate, channels, seconds=1.0):
    t = np.arange(int(rate * seconds)) / rate
    if kind == "tones":
        return np.stack([0.9 * np.sin(2 * np.pi * (997 + 514 * c) * t) for c in range(channels)], 1)
    return np.random.default_rng(channels).uniform(-1, 1, (len(t), channels)) * np.minimum(1, t[:, None] * 9)


def read_text(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def foreign_host_env():
    """A host built without the sanitizer loads a sanitized plug-in only with the sanitizer's
    runtime loaded first; its own leaks are not ours to find."""
    env = dict(os.environ)
    if os.environ.get("WAVFX_SANITIZED"):
        runtime = subprocess.run(["c++", "-print-file-name=libasan.so"], capture_output=True, text=True).stdout.strip()
        env.update(LD_PRELOAD=runtime, ASAN_OPTIONS="detect_leaks=0")
    return env


class PluginTest(WavfxCase):
    def host(self, x, uri, blocks, *controls):
        x.astype("<f4").tofile(self.path("in.f32"))
        result = subprocess.run([*EMULATOR, os.environ["LILV_HOST"], uri, self.path("in.f32"), self.path("out.f32"),
                                 blocks, *controls], capture_output=True, text=True, timeout=300,
                                env=dict(os.environ, LV2_BUNDLE=BUNDLE) if EMULATOR else None)
        self.assertEqual(result.returncode, 0, result.stderr)
        words = dict(line.split(" ", 1) for line in result.stdout.splitlines())
        first, last = map(int, words["latency"].split())
        heap = int(words["heap"])
        self.assertTrue(heap == 0 or (heap == -1 and SANITIZED), "heap calls inside run(): %d" % heap)
        return np.fromfile(self.path("out.f32"), "<f4").reshape(x.shape), first, last

    def offline(self, x, rate, threshold, options):
        self.write("in.wav", wav_of(x.astype("<f4").tobytes(), x.shape[1], 32, rate, coding=3))
        result = run("distort", self.path("in.wav"), self.path("out.wav"), threshold, "-y", *options, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        return np.frombuffer(self.read("out.wav")[44:], "<f4").reshape(x.shape)

    def assert_delayed(self, ours, theirs, latency):
        self.assertLess(np.abs(ours[latency:] - theirs[:len(theirs) - latency]).max(), 1e-6, "-120 dBFS")

    def test_the_plugin_is_wavfxs_clip_delayed_by_its_latency(self):
        # rate, signal, channels, threshold, oversample, true peak, block sizes in turn
        rows = [(48000, "tones", 2, -9, 16, 0, "1,7,64,4096"), (44100, "noise", 1, -6, 4, 0, "64"),
                (48000, "tones", 1, -12, 1, 0, "333"), (44100, "tones", 2, -9, 8, 1, "64,1000"),
                (48000, "noise", 2, -3, 32, 0, "4096"), (48000, "noise", 1, -6, 16, 1, "1,64")]
        for rate, kind, channels, threshold, factor, peak, blocks in rows:
            with self.subTest(rate=rate, kind=kind, channels=channels, factor=factor, true_peak=peak, blocks=blocks):
                x = signal(kind, rate, channels, 0.5 if blocks.startswith("1,") else 1.0)
                uri = "urn:velorik:clip:" + ("stereo" if channels == 2 else "mono")
                ours, latency, last = self.host(x, uri, blocks, "threshold=%d" % threshold, "oversample=%d" % factor,
                                                "true_peak=%d" % peak)
                self.assertEqual(latency, last)
                self.assertEqual(latency == 0, factor == 1 and not peak)
                options = (["--oversample", str(factor)] if factor > 1 else []) + (["--true-peak"] if peak else [])
                self.assert_delayed(ours, self.offline(x, rate, "%ddB" % threshold, options), latency)

    def test_bypass_and_controls_changed_while_it_runs(self):
        x = signal("tones", 48000, 2)
        ours, latency, _ = self.host(x, "urn:velorik:clip:stereo", "64", "enabled=0", "oversample=16")
        self.assertTrue(np.array_equal(ours[latency:], x[:len(x) - latency].astype("<f4")), "the input, delayed")
        ours, first, last = self.host(x, "urn:velorik:clip:stereo", "64,5,512", "threshold=-6", "threshold=-12@9000",
                                      "oversample=2@18000", "true_peak=1@27000", "oversample=32@36000", "enabled=0@45000")
        self.assertEqual((first, last > first), (156, True))
        self.assertTrue(np.isfinite(ours).all())
        self.assertLessEqual(np.abs(ours[:45000]).max(), np.float32(10 ** (-6 / 20)))

    @unittest.skipIf(EMULATOR or not (shutil.which("lv2apply") and shutil.which("ffmpeg")), "needs lv2apply and ffmpeg")
    def test_hosts_we_did_not_write(self):
        x = signal("tones", 48000, 2)
        theirs = self.offline(x, 48000, "-9dB", ["--oversample", "16"])
        latency = self.host(x, "urn:velorik:clip:stereo", "64", "threshold=-9", "oversample=16")[1]
        for command in (["lv2apply", "-i", self.path("in.wav"), "-o", self.path("lv2.wav"), "-c", "threshold", "-9",
                         "-c", "oversample", "16", "urn:velorik:clip:stereo"],
                        ["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", self.path("in.wav"), "-af",
                         r"lv2=p=urn\\:velorik\\:clip\\:stereo:c=threshold=-9|oversample=16", "-c:a", "pcm_f32le",
                         "-bitexact", self.path("lv2.wav")]):
            with self.subTest(host=command[0]):
                result = subprocess.run(command, capture_output=True, text=True, env=foreign_host_env())
                self.assertEqual(result.returncode, 0, result.stderr)
                data = self.read("lv2.wav")
                at = data.index(b"data")
                self.assert_delayed(np.frombuffer(data[at + 8:at + 8 + x.size * 4], "<f4").reshape(x.shape), theirs,
                                    latency)
        bundle = BUNDLE
        # LV2's own vocabularies only (what lv2-dev installs): other plug-ins beside them have errors of their own.
        vocabularies = [d for d in glob.glob("/usr/lib/lv2/*.lv2")
                        if re.search(r"lv2:Specification|owl:Ontology", read_text(os.path.join(d, "manifest.ttl")))]
        schemas = [os.path.join(d, f) for d in vocabularies for f in os.listdir(d) if f.endswith(".ttl")]
        checked = subprocess.run(["sord_validate", *schemas, *(os.path.join(bundle, f) for f in os.listdir(bundle)
                                                              if f.endswith(".ttl"))], capture_output=True, text=True)
        self.assertIn("Found 0 errors", checked.stdout + checked.stderr)


if __name__ == "__main__":
    unittest.main()
