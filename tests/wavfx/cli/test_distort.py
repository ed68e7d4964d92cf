"""wavfx distort: one file, through pipes and FIFOs, real-world files, every PCM format."""
from harness import *  # noqa: F401,F403 (the shared harness)


class DistortTest(WavfxCase):
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
            ([b"\xc3a.wav", "o.wav", "5"], 1, "\\xC3a.wav: No such file or directory"),
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
        self.write("inf.wav", wav_of(inf, channels=2, bits=32, coding=3))
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

    @unittest.skipIf(os.environ.get("WAVFX_WINDOWS"), "names, owners and FIFOs as Linux has them")
    def test_races_appends_odd_names_and_owners(self):
        samples = [ramp_sample(n) for n in range(4000)]
        self.write("in.wav", wav_bytes(samples))
        clipped = wav_bytes([clip(s, 100) for s in samples])
        latin = self.path("caf\udce9").encode("utf-8", "surrogateescape")  # a folder whose name is Latin-1
        os.mkdir(latin)
        deep = "/".join(["d" * 250] * 16 + ["e" * 69])  # 4085 bytes: OUT in it is 4091, the longest path there is
        rows = [  # a shell line in the test's folder, its exit status, words on stderr, then a check
            # Two runs onto one new OUT: the one held on a FIFO finishes last and must not replace the other's.
            ("mkfifo slow; ($W distort slow race.wav 100 2>err.txt; echo $? > status.txt) & sleep 0.5;"
             "$W distort in.wav race.wav 100; cat in.wav > slow; wait; cat err.txt >&2; exit $(cat status.txt)",
             1, "race.wav: exists; -y replaces it", lambda: self.read("race.wav") == clipped),
            ("cp in.wav $'caf\\xe9/old.wav'; $W distort in.wav $'caf\\xe9/old.wav' 100 -y", 0, "",
             lambda: open(latin + b"/old.wav", "rb").read() == clipped),
            ("cd $'caf\\xe9' && cp ../in.wav a.wav && cp a.wav b.wav && $W distort a.wav b.wav 100 -y", 0, "",
             lambda: open(latin + b"/b.wav", "rb").read() == clipped),
            ("$W distort -t 100 in.wav -o $'caf\\xe9/batch'", 0, "1 of 1 file(s)",
             lambda: open(latin + b"/batch/in.wav", "rb").read() == clipped),
            ("TMPDIR=$'caf\\xe9' $W distort - stream.wav 100 < in.wav", 0, "",
             lambda: self.read("stream.wav") == clipped),
            ("cp in.wav $'l\\xe9.wav'; $W distort $'l\\xe9.wav' nope/x.wav 100", 1, "nope/x.wav", None),
            ("$W distort $'caf\\xe9.wav' x.wav 100", 1, "caf\\xE9.wav: No such file or directory", None),
            ("$W distort -in.wav x.wav 100", 2, "write ./-in.wav or put -- before it", None),
            # An OUT path as long as Linux allows, whose temporary must fit beside it too.
            ("mkdir -p %s; $W distort in.wav %s/o.wav 100" % (deep, deep), 0, "", None),
        ]
        if os.geteuid() == 0:  # replacing keeps the owner, group and mode, as cp and sed -i do
            rows.append(("cp in.wav owned.wav; chown nobody:nogroup owned.wav; chmod 640 owned.wav;"
                         "$W distort in.wav owned.wav 100 -y; stat -c '%U:%G %a' owned.wav >&2", 0,
                         "nobody:nogroup 640", None))
        for line, status, words, check in rows:
            with self.subTest(line=line[:60]):
                result = subprocess.run(["bash", "-c", line], cwd=self.dir.name, timeout=60, capture_output=True,
                                        env=dict(os.environ, W=" ".join(COMMAND)))
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(words.encode(), result.stderr)
                self.assertTrue(check is None or check())

    def test_what_is_appended_while_distorting_is_never_clipped(self):
        data = bytes(range(256)) * (40 << 12)  # 40 MiB of samples
        header = wav_bytes([])[:40] + struct.pack("<I", len(data))
        self.write("grow.wav", header + data)
        size = len(header) + len(data)
        # Bytes a clip at 100 would change, appended after the data chunk while the pass runs.
        appender = subprocess.Popen(["bash", "-c", "for k in $(seq 200); do head -c 65536 /dev/zero | tr '\\0' '\\177'"
                                     " >> grow.wav; done"], cwd=self.dir.name)
        result = run("distort", self.path("grow.wav"), self.path("out.wav"), "100", text=True)
        appender.wait()
        self.assertEqual(result.returncode, 0, result.stderr)
        out, grown = self.read("out.wav"), self.read("grow.wav")
        self.assertEqual(out[size:], grown[size:len(out)], "what follows the data chunk is kept as it was")

if __name__ == "__main__":
    unittest.main()
