"""wavfx the one output rule every command writes by, and text other programs read."""
from harness import *  # noqa: F401,F403 (the shared harness)


class OutputRuleTest(WavfxCase):
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
        self.write("inf.wav", wav_of(data, bits=32, coding=3))
        shown = json.loads(run("info", self.path("inf.wav"), "--json").stdout)
        self.assertIsNone(shown["peak"][0], "JSON has no infinity")
        name = self.write("odd\ufffe\uffff.wav", wav_bytes([0, 1000, -1000] * 400))
        result = run("plot", name, "-o", "-")
        self.assertEqual(result.returncode, 0, result.stderr)
        ET.fromstring(result.stdout)  # well-formed

    @unittest.skipIf(os.environ.get("WAVFX_WINDOWS") or os.environ.get("WAVFX_EMULATOR"), "an ELF search path")
    def test_no_library_is_loaded_from_the_current_folder(self):
        for name in ("libasound.so.2", "libVelorikWAVDistortion.so.1"):
            self.write(name, b"not a library")
        result = run("--version", cwd=self.dir.name, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)


if __name__ == "__main__":
    unittest.main()
