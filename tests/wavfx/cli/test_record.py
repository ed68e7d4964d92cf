"""wavfx record: refusals, N seconds as N blocks, a full disk, signals, and real time through PulseAudio."""
from harness import *  # noqa: F401,F403 (the shared harness)


class RecordTest(WavfxCase):
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
