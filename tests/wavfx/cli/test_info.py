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


if __name__ == "__main__":
    unittest.main()
