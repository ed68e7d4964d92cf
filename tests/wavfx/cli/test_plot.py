"""wavfx plot: the SVG, rendered and checked pixel by pixel."""
from harness import *  # noqa: F401,F403 (the shared harness)


class PlotTest(WavfxCase):
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

    def test_spectrum_shows_the_tone_and_the_aliases_a_plain_clip_folds_back(self):
        import re
        tone = [round(32767 * math.sin(2 * math.pi * 1031 * n / 8000)) for n in range(8000)]
        self.write("tone.wav", wav_bytes(tone))
        loud = {}
        for name, options in (("plain", []), ("oversampled", ["--oversample", "16"])):
            self.assertEqual(run("distort", self.path("tone.wav"), self.path(name + ".wav"), "-6dB", *options).returncode, 0)
            result = run("plot", "--spectrum", self.path("tone.wav"), self.path(name + ".wav"), "-o", self.path("s.svg"), "-y",
                         text=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            svg = self.read("s.svg").decode()
            bottom = min(int(db) for db in re.findall(r">(-?\d+) dBFS<", svg))
            traces = [[(float(x), (float(y) - 70) / 320 * bottom) for x, y in (p.split(",") for p in points.split())]
                      for points in re.findall(r'<polyline[^>]*points="([^"]+)"', svg)]
            self.assertEqual(len(traces), 2)
            x, level = max(traces[0], key=lambda point: point[1])
            self.assertAlmostEqual(20 * (4000 / 20) ** ((x - 80) / 890), 1031, delta=15, msg="the tone where it is")
            self.assertGreater(level, -1)
            loud[name] = sum(level > -90 for _, level in traces[1])
        self.assertGreater(loud["plain"], 3 * loud["oversampled"], "the aliases, and then none")
        self.assertEqual(run("plot", "--spectrum", self.path("tone.wav"), "-o", self.path("t.svg"), "-t", "100").returncode, 2)


if __name__ == "__main__":
    unittest.main()
