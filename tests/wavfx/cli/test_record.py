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


def alsa_plugin(name, root="/"):
    """ALSA's plugin NAME for this machine's own architecture under ROOT (an emulated wavfx cannot load it)."""
    if os.environ.get("WAVFX_EMULATOR"):
        return None
    for folder, _, files in os.walk(os.path.join(root, "usr/lib")):
        if folder.endswith("alsa-lib") and "libasound_module_pcm_%s.so" % name in files:
            return os.path.join(folder, "libasound_module_pcm_%s.so" % name)
    return None


# PipeWire's ALSA plugin and PulseAudio service conflict with PulseAudio's packages: CI unpacks them here.
PIPEWIRE_ROOT = os.environ.get("VWD_PIPEWIRE_ROOT", "/")


class SoundServer:
    """A private sound server with a source (PulseAudio's a 440 Hz sine, PipeWire's silence), reached through
    ALSA as a desktop reaches it:
    PulseAudio through ALSA's pulse plugin; PipeWire through its own ALSA plugin ("pipewire") or
    through its PulseAudio service ("pipewire-pulse"). kill() ends it as a crash does."""

    def __init__(self, route):
        self.dir = tempfile.mkdtemp()
        self.private = dict(os.environ, HOME=self.dir, XDG_RUNTIME_DIR=self.dir)
        socket = os.path.join(self.dir, "pulse", "native")
        self.config = os.path.join(self.dir, "asound.conf")
        with open(self.config, "w") as f:
            if route == "pipewire":
                f.write('pcm_type.pipewire { lib "%s" }\npcm.!default { type pipewire }\n'
                        % alsa_plugin("pipewire", PIPEWIRE_ROOT))
            else:
                f.write('pcm.!default { type pulse server "unix:%s" }\n' % socket)
        if route == "pulseaudio":
            os.makedirs(os.path.dirname(socket))
            conf = os.path.join(self.dir, "server.pa")
            with open(conf, "w") as f:
                f.write("load-module module-native-protocol-unix socket=%s auth-anonymous=1\n"
                        "load-module module-null-sink\nload-module module-sine-source rate=8000 frequency=440\n"
                        "set-default-source sine_input\n" % socket)
            command = ["pulseaudio", "-n", "-F", conf, "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no"]
            ready = socket
        else:
            # PipeWire, its session manager to link the stream to the source, and its PulseAudio service.
            with open("/usr/share/pipewire/pipewire.conf") as f:
                conf = f.read()
            # A virtual source of silence, paced by the graph (PipeWire's own test tone runs out of buffers).
            conf = conf.replace("context.objects = [", "context.objects = [\n    { factory = adapter args = { "
                                "factory.name = support.null-audio-sink node.name = silence "
                                "media.class = Audio/Source/Virtual audio.channels = 1 audio.position = [ MONO ] } }", 1)
            with open(os.path.join(self.dir, "pipewire.conf"), "w") as f:
                f.write(conf)
            script = os.path.join(self.dir, "start")
            with open(script, "w") as f:
                f.write("pipewire -c %s/pipewire.conf & sleep 0.5; wireplumber & sleep 0.5\n"
                        "pipewire -c %s/usr/share/pipewire/pipewire-pulse.conf & wait\n" % (self.dir, PIPEWIRE_ROOT))
            command = ["dbus-run-session", "--", "sh", script]
            ready = socket
        self.process = subprocess.Popen(command, env=self.private, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 20
        while not os.path.exists(ready) and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.5 if route != "pulseaudio" else 0)  # the session manager links what it sees
        self.route = route

    @staticmethod
    def available(route):
        if route == "pulseaudio":
            return bool(shutil.which("pulseaudio") and alsa_plugin("pulse"))
        return bool(shutil.which("pipewire") and shutil.which("wireplumber") and shutil.which("dbus-run-session")
                    and alsa_plugin("pulse") and alsa_plugin("pipewire", PIPEWIRE_ROOT)
                    and os.path.exists(os.path.join(PIPEWIRE_ROOT, "usr/share/pipewire/pipewire-pulse.conf")))

    def env(self):
        return dict(self.private, ALSA_CONFIG_PATH=self.config)

    def kill(self):
        """The server the stream talks to dies: PulseAudio, PipeWire's own, or its PulseAudio service."""
        pattern = {"pulseaudio": "^pulseaudio -n -F " + self.dir, "pipewire": "^pipewire -c %s/pipewire.conf" % self.dir,
                   "pipewire-pulse": "^pipewire -c .*pipewire-pulse.conf"}[self.route]
        subprocess.run(["pkill", "-KILL", "-s", str(self.process.pid), "-f", pattern])

    def close(self):
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait(timeout=20)
        shutil.rmtree(self.dir, ignore_errors=True)


ROUTES = [route for route in ("pulseaudio", "pipewire", "pipewire-pulse") if SoundServer.available(route)]


@unittest.skipUnless("pulseaudio" in ROUTES, "needs pulseaudio and ALSA's pulse plugin (libasound2-plugins)")
class RecordThroughPulseAudioTest(unittest.TestCase):
    """A private PulseAudio with a 440 Hz sine source, reached through ALSA's pulse plugin: real time."""

    @classmethod
    def setUpClass(cls):
        cls.server = SoundServer("pulseaudio")
        cls.dir, cls.env = cls.server.dir, cls.server.env()

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

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


@unittest.skipUnless(ROUTES, "needs a sound server and its ALSA plugin")
class SoundServerRoutesTest(unittest.TestCase):
    """Each route a desktop records through: Ctrl-C ends wavfx at once wherever it lands, and a server
    that dies ends the recording at once with its reason, the file finished."""

    def record(self, server, out):
        proc = subprocess.Popen([*COMMAND, "record", out, "-q"], env=server.env(), stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 20
        while counted_bytes(out) < 2 * 16000 and time.monotonic() < deadline:
            time.sleep(0.01)
        return proc

    def test_ctrl_c_ends_at_once_and_a_server_that_dies_ends_the_recording_with_its_reason(self):
        for route in ROUTES:
            server, stops = SoundServer(route), []
            try:
                for phase in (0, 0.02, 0.04, 0.06, 0.08, "death"):
                    with self.subTest(route=route, phase=phase):
                        out = os.path.join(server.dir, "r%s.wav" % phase)
                        proc = self.record(server, out)
                        if phase == "death":
                            server.kill()
                        else:
                            time.sleep(phase)
                            proc.send_signal(signal.SIGINT)
                        begin = time.monotonic()
                        _, err = proc.communicate(timeout=20)
                        took = time.monotonic() - begin
                        with wave.open(out) as w:
                            self.assertGreaterEqual(w.getnframes(), 2 * 8000)
                        self.assertEqual(os.path.getsize(out), 44 + 2 * w.getnframes(), "whole blocks, finished")
                        if phase == "death":
                            self.assertEqual(proc.returncode, 1)
                            self.assertRegex(err, r'recording from ALSA PCM "default" ended: [A-Z].*; the file holds')
                            self.assertLess(took, 0.5)
                        else:
                            self.assertEqual(proc.returncode, 0, err)
                            stops.append(took)
                # Wherever the signal lands: no sleep that it only shortens (that makes a sawtooth over
                # the phases, four of five stops spread over 60 ms or more), and soon (a sanitized build
                # spends its exit checking for leaks). One stop may meet a busy machine.
                self.assertLess(sorted(stops)[-2] - min(stops), 0.03, stops)
                self.assertLess(sorted(stops)[len(stops) // 2], 0.15 if os.environ.get("WAVFX_SANITIZED") else 0.05, stops)
            finally:
                server.close()


if __name__ == "__main__":
    unittest.main()
