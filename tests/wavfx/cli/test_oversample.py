"""wavfx distort --oversample: tones clipped at several rates, formats and thresholds, their
aliasing measured against the plain clip and against an ideal model (exact band-limited
resampling by FFT, the same rounds), and the promises checked sample by sample."""
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
        single = self.read(os.path.basename(self.distort(self.path("a.wav"), "single.wav", "-9dB", "--oversample",
                                                         "8")))
        with open(self.path("a.wav"), "rb") as f:
            piped = run("distort", "-", "-", "-9dB", "--oversample", "8", stdin=f).stdout
        self.assertEqual(piped, single)
        result = run("distort", "-t", "-9dB", self.path("a.wav"), "-o", self.path("many"), "--oversample", "8")
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.path("many"), "a.wav"), "rb") as f:
            self.assertEqual(f.read(), single)

    def test_factors_it_does_not_take_are_usage_errors(self):
        self.write("in.wav", wav_bytes([0, 30000, -30000, 5]))
        for options in (["--oversample", "3"], ["--oversample", "64"], ["--oversample", "0"], ["--oversample", "x"],
                        ["--oversample", "4", "--raw"]):
            with self.subTest(options=options):
                result = run("distort", self.path("in.wav"), self.path("out.wav"), "100", *options, text=True)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertFalse(os.path.exists(self.path("out.wav")))


if __name__ == "__main__":
    unittest.main()
