"""wavfx repair: files other tools broke, made whole in place."""
from harness import *  # noqa: F401,F403 (the shared harness)


class RepairTest(WavfxCase):
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


if __name__ == "__main__":
    unittest.main()
