"""wavfx demo: the built-in signal and a recording without a device."""
from harness import *  # noqa: F401,F403 (the shared harness)


class DemoTest(WavfxCase):
    def test_demo_runs_without_a_device_and_checks_its_recording(self):
        result = run("demo", env=self.no_device, cwd=self.dir.name, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("returned 999", result.stdout)
        self.assertIn("sample for sample the tone", result.stdout)
        self.assertEqual(result.stderr, "")
        samples = self.assert_valid_recording(self.path("wavfx-demo/recording.wav"))
        self.assertEqual(len(samples), 16000)
        self.assertEqual(sorted(os.listdir(self.path("wavfx-demo"))),
                         ["recording.wav", "tone-clipped.wav", "tone-spectrum.svg", "tone.svg", "tone.wav"], "the played tone is gone")


if __name__ == "__main__":
    unittest.main()
