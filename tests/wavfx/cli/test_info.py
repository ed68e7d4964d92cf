"""wavfx info: layouts, peaks and names shown safely."""
from harness import *  # noqa: F401,F403 (the shared harness)


class InfoTest(WavfxCase):
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

    @unittest.skipUnless(shutil.which("ffmpeg"), "needs ffmpeg")
    def test_loudness_is_libebur128s_with_the_channels_in_their_places(self):
        import numpy as np
        if os.environ.get("WAVFX_WINDOWS"):
            result = run("info", "--loudness", self.path("none.wav"), text=True)
            self.assertEqual((result.returncode, "libebur128" in result.stderr), (1, True))
            return
        # ffmpeg's files: its layouts' channel masks (5.1(side) puts the surrounds on SL and SR).
        # Too short to gate (under 400 ms) and silence measure no loudness.
        rows = [(8000, "mono", "pcm_u8", 3, 0.4), (44100, "stereo", "pcm_s16le", 3, 0.4),
                (48000, "5.1(side)", "pcm_s24le", 3, 0.4), (96000, "5.1", "pcm_f32le", 2, 0.4),
                (48000, "stereo", "pcm_s32le", 0.3, 0.4), (48000, "stereo", "pcm_f64le", 1, 0)]
        for rate, layout, codec, seconds, level in rows:
            with self.subTest(rate=rate, layout=layout, codec=codec):
                made = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                       "anoisesrc=r=%d:a=%g:c=pink:d=%g:seed=7" % (rate, level, seconds), "-af",
                                       "aformat=channel_layouts=%s,volume=0.7:eval=frame" % layout, "-c:a", codec,
                                       self.path("in.wav")], capture_output=True)
                self.assertEqual(made.returncode, 0, made.stderr)
                raw = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-i", self.path("in.wav"), "-f",
                                      "f64le", "-"], capture_output=True).stdout
                channels = {"mono": 1, "stereo": 2}.get(layout, 6)
                lufs, peaks = ebur128(np.frombuffer(raw, "<f8").reshape(-1, channels), rate)
                shown = json.loads(run("info", "--json", "--loudness", self.path("in.wav"), text=True).stdout)
                if lufs is None:
                    self.assertIsNone(shown["loudnessLufs"])
                else:
                    self.assertAlmostEqual(shown["loudnessLufs"], lufs, delta=0.1)
                expected = [20 * math.log10(p) if p > 0 else None for p in peaks]
                for ours, theirs in zip(shown["truePeakDbtp"], expected):
                    self.assertTrue(ours == theirs or abs(ours - theirs) <= 0.2, (ours, theirs))


if __name__ == "__main__":
    unittest.main()
