"""wavfx distort -o DIR: a batch of files into a folder."""
from harness import *  # noqa: F401,F403 (the shared harness)


class BatchTest(WavfxCase):
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

    @unittest.skipIf(os.environ.get("WAVFX_WINDOWS"), "ulimit")
    def test_limits_and_a_folder_among_the_inputs_are_reported_not_crashed_on(self):
        os.mkdir(self.path("many"))
        for k in range(8):
            self.write("many/%d.wav" % k, wav_bytes([ramp_sample(n) for n in range(3000)]))
        os.mkdir(self.path("a-folder"))
        rows = [  # a shell line, its exit status, words on stderr and words it must not hold
            ("$W distort -t 100 many/0.wav a-folder/ -o out1", 1, "a-folder/: is a directory", "out1/:"),
        ]
        # Four workers at once need more descriptors than that: those that fail say why. (Not under
        # the sanitizers, whose own runtime fails first at so few.)
        if not os.environ.get("LSAN_OPTIONS"):
            rows.append(("ulimit -n 11; $W distort -t 100 many/*.wav -o out2 -j 4", None, "file(s) distorted",
                         "capture device"))
        # Threads whose stacks do not fit: fewer workers, or failures said, never an abort.
        if subprocess.run(["bash", "-c", "ulimit -v 150000; $W --version"], capture_output=True,
                          env=dict(os.environ, W=" ".join(COMMAND))).returncode == 0:
            rows.append(("ulimit -v 150000; $W distort -t 100 many/*.wav -o out3 -j 8", None, "file(s) distorted",
                         "terminate called"))
        for line, status, words, never in rows:
            with self.subTest(line=line):
                result = subprocess.run(["bash", "-c", line], cwd=self.dir.name, timeout=60, capture_output=True,
                                        env=dict(os.environ, W=" ".join(COMMAND)), text=True)
                self.assertIn(result.returncode, (0, 1) if status is None else (status,), result.stderr)
                self.assertIn(words, result.stderr)
                self.assertNotIn(never, result.stderr)
                if "ulimit -n" in line and result.returncode == 1:
                    self.assertIn("Too many open files", result.stderr)
                left = [n for _, _, names in os.walk(self.dir.name) for n in names if n.startswith(".wavfx")]
                self.assertEqual(left, [])


if __name__ == "__main__":
    unittest.main()
