"""wavfx distort --oversample and --true-peak: tones clipped at several rates, formats and
thresholds, their aliasing measured against the plain clip and against an ideal model (exact
band-limited resampling by FFT, the same rounds), their fundamental against the ideal clip's, the
true peak by an exact interpolation and by libebur128's meter, and the promises checked sample by
sample."""
import numpy as np

from harness import *  # noqa: F401,F403 (the shared harness)

CODES = {16: "<i2", 24: None, 32: "<f4"}  # 32: float


def tone_file(path, rate, hz, bits=16, seconds=1.0, channels=1, after=b""):
    """A full-scale tone (a quiet one on a second channel), with `after` as chunks past the data."""
    t = np.arange(int(rate * seconds)) / rate
    loud = np.sin(2 * np.pi * hz * t)
    frames = np.stack([loud, 0.01 * np.sin(2 * np.pi * 440 * t)][:channels], 1)
    if bits == 32:
        data, coding = frames.astype("<f4").tobytes(), 3
    else:
        ints = np.round(frames * (2 ** (bits - 1) - 1)).astype("<i4")
        data = ints.astype("<i2").tobytes() if bits == 16 else ints.view(np.uint8).reshape(-1, 4)[:, :3].tobytes()
        coding = 1
    with open(path, "wb") as f:
        f.write(wav_of(data, channels, bits, rate, coding, after))


def samples(path, bits, channels=1):
    with open(path, "rb") as f:
        data = f.read()
    data = data[44:44 + struct.unpack_from("<I", data, 40)[0]]
    if bits == 24:
        raw = np.frombuffer(data[:len(data) // 3 * 3], np.uint8).reshape(-1, 3).astype(np.int32)
        values = ((raw[:, 0] | raw[:, 1] << 8 | raw[:, 2] << 16) << 8 >> 8).astype(float)
    else:
        values = np.frombuffer(data[:len(data) // (bits // 8) * (bits // 8)], CODES[bits]).astype(float)
    return values[:len(values) // channels * channels].reshape(-1, channels)


def aliasing_db(y, rate, hz):
    """Everything that is no harmonic of the tone (nor DC), against the harmonics: 1 s, Blackman window."""
    power = np.abs(np.fft.rfft(y * np.blackman(len(y)))) ** 2
    f = np.arange(len(power)) * rate / len(y)
    harmonic = f < 5
    for k in range(1, int(rate / 2 / hz) + 1):
        harmonic |= np.abs(f - k * hz) <= 4
    return 10 * np.log10(power[~harmonic].sum() / power[harmonic].sum())


def fundamental_db(y, rate, hz):
    spectrum = np.abs(np.fft.rfft(y * np.blackman(len(y))))
    at = int(round(hz * len(y) / rate))
    return 20 * np.log10(spectrum[at - 3:at + 4].max())


def ideal(x, ceiling, factor):
    """The same three rounds with exact band-limited resampling."""
    def up(v):
        spectrum = np.zeros(len(v) * factor // 2 + 1, complex)
        spectrum[:len(v) // 2 + 1] = np.fft.rfft(v)
        return np.fft.irfft(spectrum, len(v) * factor) * factor

    def down(v):
        return np.fft.irfft(np.fft.rfft(v)[:len(v) // factor // 2 + 1], len(v) // factor) / factor
    y = x.copy()
    for level, weight in ((1.0, 1.0), (0.99, 2.0), (0.99, 2.0)):
        v = up(y)
        y = y + weight * down(np.clip(v, -level * ceiling, level * ceiling) - v)
    return np.clip(y, -ceiling, ceiling)


def ideal_fundamental_db(rate, hz, ceiling):
    """The ideal clip's fundamental: the tone clipped at 64 times the rate and band-limited exactly,
    then projected in turn onto its own harmonics and onto the ceiling until the two agree."""
    t = np.arange(rate * 64) / (rate * 64)
    y = np.fft.irfft(np.fft.rfft(np.clip(np.sin(2 * np.pi * hz * t), -ceiling, ceiling))[:rate // 2 + 1] / 64, rate)
    harmonics = np.arange(rate // 2 + 1) % hz == 0
    for _ in range(200):
        y = np.clip(np.fft.irfft(np.fft.rfft(y) * harmonics, rate), -ceiling, ceiling)
    return fundamental_db(y, rate, hz)


def exact_peak(y):
    """The peak between the samples too: each channel interpolated exactly to 32 times the rate."""
    padded = np.concatenate([np.zeros((4096, y.shape[1])), y, np.zeros((4096, y.shape[1]))])
    n = len(padded)
    spectrum = np.zeros((n * 16 + 1, y.shape[1]), complex)
    spectrum[:n // 2 + 1] = np.fft.rfft(padded, axis=0)
    return np.abs(np.fft.irfft(spectrum, n * 32, axis=0) * 32).max()


def band_mix(rate=44100, seconds=4):
    """Kick, snare noise, bass and a bright chord, stereo, peak at full scale."""
    t = np.arange(rate * seconds) / rate
    kick = np.sin(2 * np.pi * (50 + 100 * np.exp(-t % 0.5 * 30)) * t) * np.exp(-(t % 0.5) * 8)
    snare = np.random.default_rng(1).standard_normal(len(t)) * np.exp(-((t + 0.25) % 0.5) * 20) * 0.5
    chord = sum(0.15 * np.sin(2 * np.pi * f * t) for f in (1760, 2217, 2637, 3520, 5274))
    mix = kick + snare + 0.5 * np.sin(2 * np.pi * 55 * t) + chord
    mix = np.stack([mix, np.roll(mix, 7)], 1)
    return mix / np.abs(mix).max()


class OversampleTest(WavfxCase):
    def distort(self, source, name, threshold, *options):
        result = run("distort", source, self.path(name), threshold, "-y", *options, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        return self.path(name)

    def test_tones_lose_their_aliases_and_keep_the_clip(self):
        # rate, tone, bits, threshold, its ceiling in the file's units, factor, gain wanted,
        # and how far the fundamental may fall (heavy clips of tones with few harmonics in band fall most).
        rows = [
            (48000, 3517, 16, "8231", 8231, 4, 25, 0.7),
            (48000, 3517, 16, "8231", 8231, 16, 40, 0.7),
            (8000, 1031, 16, "-6dB", 16423, 4, 25, 0.6),
            (8000, 1031, 16, "-6dB", 16423, 16, 40, 0.6),
            (44100, 1999, 16, "11626", 11626, 16, 40, 0.3),
            (48000, 3517, 24, "-6dB", 4204263, 16, 40, 0.3),
            (44100, 1999, 32, "0.35", float(np.float32(0.35)), 4, 25, 0.3),
            (44100, 5003, 16, "-1dB", 29205, 16, 40, 0.7),
        ]
        for rate, hz, bits, threshold, ceiling, factor, gain, fall in rows:
            with self.subTest(rate=rate, hz=hz, bits=bits, factor=factor):
                tone_file(self.path("in.wav"), rate, hz, bits)
                x = samples(self.path("in.wav"), bits)[:, 0]
                plain = samples(self.distort(self.path("in.wav"), "plain.wav", threshold), bits)[:, 0]
                y = samples(self.distort(self.path("in.wav"), "over.wav", threshold, "--oversample", str(factor)),
                            bits)[:, 0]
                self.assertEqual(self.read("over.wav")[:44], self.read("in.wav")[:44])
                self.assertEqual(len(y), len(x))
                self.assertLessEqual(np.abs(y).max(), ceiling, "the ceiling holds")
                self.assertGreaterEqual(np.abs(y).max(), ceiling * 10 ** (-0.15 / 20), "and the clip reaches it")
                plain_aliasing, ours = aliasing_db(plain, rate, hz), aliasing_db(y, rate, hz)
                model = aliasing_db(ideal(x, ceiling, factor), rate, hz)
                self.assertTrue(plain_aliasing - ours >= gain or ours <= -85, (plain_aliasing, ours))
                self.assertLessEqual(ours, model + 3, "within 3 dB of exact resampling")
                self.assertLessEqual(abs(fundamental_db(y, rate, hz) - fundamental_db(plain, rate, hz)), fall)
                lags = [np.dot(np.roll(y, lag), plain) for lag in range(-3, 4)]
                self.assertEqual(int(np.argmax(lags)) - 3, 0, "no delay")
                # Holding the true peak keeps all of that, and the fundamental near the ideal clip's.
                peak = samples(self.distort(self.path("in.wav"), "tp.wav", threshold, "--oversample", str(factor),
                                            "--true-peak"), bits)[:, 0]
                self.assertLessEqual(np.abs(peak).max(), ceiling)
                self.assertGreaterEqual(np.abs(peak).max(), ceiling * 10 ** (-0.5 / 20))
                self.assertTrue(plain_aliasing - aliasing_db(peak, rate, hz) >= gain)
                self.assertEqual(int(np.argmax([np.dot(np.roll(peak, lag), plain) for lag in range(-3, 4)])), 3)
                ideal_db = ideal_fundamental_db(rate, hz, ceiling / np.abs(x).max())
                for clipped in (y, peak):
                    self.assertLessEqual(abs(fundamental_db(clipped / np.abs(x).max(), rate, hz) - ideal_db), 0.3)

    def test_the_true_peak_holds_between_the_samples(self):
        speech, noise = ("/usr/share/sounds/alsa/%s.wav" % name for name in ("Front_Center", "Noise"))
        # What to clip, its rate and format, and the options.
        rows = [(speech, None, 16, ["--true-peak"]), (noise, None, 16, ["--true-peak", "--oversample", "16"]),
                (band_mix(), 44100, 16, ["--true-peak"]), (band_mix(), 44100, 16, ["--true-peak", "--oversample", "2"]),
                (band_mix(48000, 1), 48000, 24, ["--true-peak", "--oversample", "32"]),
                (band_mix(8000, 2), 8000, 32, ["--true-peak"])]
        for source, rate, bits, options in rows:
            with self.subTest(source=source if rate is None else rate, bits=bits, options=options):
                if rate is None:
                    with wave.open(source) as f:
                        rate, x = f.getframerate(), samples(source, 16, f.getnchannels())
                    x = x / np.abs(x).max()
                else:
                    x = source
                full = 2 ** (bits - 1) - 1 if bits < 32 else 1.0
                frames = (x * full).astype("<f4") if bits == 32 else np.round(x * full).astype("<i4")
                data = frames.view(np.uint8).reshape(-1, 4)[:, :3].tobytes() if bits == 24 else \
                    frames.astype("<i2" if bits == 16 else "<f4").tobytes()
                self.write("in.wav", wav_of(data, x.shape[1], bits, rate, 3 if bits == 32 else 1))
                y = samples(self.distort(self.path("in.wav"), "out.wav", "-9dB", *options), bits, x.shape[1]) / full
                ceiling = 10 ** (-9 / 20)
                self.assertLessEqual(np.abs(y).max(), ceiling + 1 / full)
                self.assertGreaterEqual(np.abs(y).max(), ceiling * 10 ** (-0.5 / 20), "the clip still reaches it")
                self.assertLessEqual(exact_peak(y), ceiling * 10 ** (0.2 / 20), "exactly interpolated")
                if EBUR128:
                    self.assertLessEqual(max(ebur128(y, rate)[1]), ceiling * 10 ** (0.05 / 20), "by the BS.1770 meter")

    def test_what_no_clip_reaches_is_kept_bit_for_bit(self):
        # A quiet tone with one loud burst, on a channel beside a quiet one; a LIST chunk after the data.
        rate, reach = 8000, 184  # 23 ms: past the filters' reach at every factor
        t = np.arange(rate) / rate
        loud = 0.1 * np.sin(2 * np.pi * 700 * t)
        loud[3000:3400] *= 9
        frames = np.round(np.stack([loud, 0.05 * np.sin(2 * np.pi * 300 * t)], 1) * 32767).astype("<i2")
        after = b"LIST" + struct.pack("<I", 6) + b"INFOab"
        self.write("burst.wav", wav_of(frames.tobytes(), 2, 16, rate, after=after))
        for factor in ("1", "4", "32"):
            with self.subTest(factor=factor):
                out = self.distort(self.path("burst.wav"), "out.wav", "16000", "--oversample", factor)
                y = samples(out, 16, 2)
                over = np.nonzero(np.abs(frames[:, 0]) > 16000)[0]
                far = np.ones(rate, bool)
                far[over.min() - reach:over.max() + reach] = False
                self.assertTrue(np.array_equal(y[far, 0], frames[far, 0]))
                self.assertTrue(np.array_equal(y[:, 1], frames[:, 1]), "the quiet channel")
                self.assertEqual(self.read("out.wav")[-14:], after)
                self.assertLessEqual(np.abs(y[:, 0]).max(), 16000)
        plain = run("distort", self.path("burst.wav"), "-", "16000").stdout
        self.assertNotEqual(self.read("out.wav"), plain, "oversampling changed what it clipped")
        self.assertEqual(run("distort", self.path("burst.wav"), "-", "16000", "--oversample", "1").stdout, plain)

    def test_a_nan_stays_and_an_infinity_becomes_the_ceiling_with_no_spread(self):
        tone_file(self.path("f.wav"), 8000, 1031, 32, seconds=0.25)
        data = bytearray(self.read("f.wav"))
        for at, value in ((100, float("nan")), (300, float("inf")), (500, -float("inf"))):
            struct.pack_into("<f", data, 44 + 4 * at, value)
        self.write("f.wav", bytes(data))
        y = samples(self.distort(self.path("f.wav"), "g.wav", "0.5", "--oversample", "16"), 32)[:, 0]
        self.assertEqual(self.read("g.wav")[44 + 400:44 + 404], bytes(data[44 + 400:44 + 404]), "NaN, bit for bit")
        self.assertEqual((y[300], y[500]), (0.5, -0.5))
        self.assertTrue(np.isfinite(np.delete(y, 100)).all() and np.abs(np.delete(y, 100)).max() <= 0.5)

    def test_pipes_and_batches_give_what_a_file_gives(self):
        tone_file(self.path("a.wav"), 44100, 1999, 24, seconds=0.5, channels=2)
        for options in (["--oversample", "8"], ["--true-peak"]):
            with self.subTest(options=options):
                single = self.read(os.path.basename(self.distort(self.path("a.wav"), "single.wav", "-9dB", *options)))
                with open(self.path("a.wav"), "rb") as f:
                    piped = run("distort", "-", "-", "-9dB", *options, stdin=f).stdout
                self.assertEqual(piped, single)
                result = run("distort", "-t", "-9dB", self.path("a.wav"), "-o", self.path("many"), "-y", *options)
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(os.path.join(self.path("many"), "a.wav"), "rb") as f:
                    self.assertEqual(f.read(), single)

    def test_factors_it_does_not_take_are_usage_errors(self):
        self.write("in.wav", wav_bytes([0, 30000, -30000, 5]))
        for options in (["--oversample", "3"], ["--oversample", "64"], ["--oversample", "0"], ["--oversample", "x"],
                        ["--oversample", "4", "--raw"], ["--true-peak", "--oversample", "1"], ["--true-peak", "--raw"]):
            with self.subTest(options=options):
                result = run("distort", self.path("in.wav"), self.path("out.wav"), "100", *options, text=True)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertFalse(os.path.exists(self.path("out.wav")))


if __name__ == "__main__":
    unittest.main()
