"""wavfx help, manual page, completion and docs/wavfx.md made from the command table."""
from harness import *  # noqa: F401,F403 (the shared harness)


class HelpTest(WavfxCase):
    @unittest.skipUnless(os.environ.get("WAVFX_MADE"), "needs the build's manual page and completion")
    def test_help_manual_completion_and_markdown_follow_the_command_table(self):
        import tomllib
        cli = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools", "wavfx", "cli")
        with open(os.path.join(cli, "commands.toml"), "rb") as f:
            table = tomllib.load(f)
        made = os.environ["WAVFX_MADE"]
        with open(os.path.join(made, "wavfx.1")) as f:
            manual = f.read().replace("\\-", "-")
        if shutil.which("groff"):
            lint = subprocess.run(["groff", "-man", "-ww", "-z", os.path.join(made, "wavfx.1")], capture_output=True)
            self.assertEqual(lint.stderr, b"", "groff -man -ww is clean")
        alsa = self.write("alsa.conf", b'pcm.mic { type null hint { show on description "Test microphone" } }\n')
        # The completion asks the wavfx it completes for the devices.
        self.write("wavfx", ('#!/bin/sh\nexec %s "$@"\n' % " ".join(COMMAND)).encode())
        self.write("fake", b"#!/bin/sh\necho 'hw:CARD=X,DEV=0'\n")
        for script in ("wavfx", "fake"):
            os.chmod(self.path(script), 0o755)

        def complete(line):
            script = ('source "$1"; COMP_LINE=$2; COMP_POINT=${#COMP_LINE}; _wavfx; printf "%s\\n" "${COMPREPLY[@]}"')
            result = subprocess.run(["bash", "-c", script, "_", os.path.join(made, "wavfx.bash"), line],
                                    env=dict(os.environ, ALSA_CONFIG_PATH=alsa,
                                             PATH=self.dir.name + os.pathsep + os.environ["PATH"]),
                                    capture_output=True, text=True)
            return result.stdout.split()

        shared = {o["name"]: o for o in table["shared"]}
        for command in table["command"]:
            name = command["name"]
            options = command.get("option", []) + [shared[s] for s in command.get("shared", [])]
            spellings = [f for o in options for f in (["-" + o["short"]] if "short" in o else []) +
                         ["--" + n for n in [o["name"]] + o.get("aliases", [])]]
            helped = run(name, "--help", text=True).stdout
            with self.subTest(command=name):
                self.assertIn('.SS "%s"' % name, manual)
                self.assertIn(name, complete("wavfx " + name[:2]))
                self.assertEqual(sorted(complete("wavfx %s -" % name)), sorted(spellings))
                for spelled in spellings:
                    self.assertIn(spelled, manual)
                    self.assertIn(spelled, helped)
        self.assertEqual(complete("wavfx record x.wav -D m"), ["mic"])
        self.assertEqual(complete("wavfx record --device="), ["mic"])
        self.assertEqual(complete(self.path("fake") + " record -D hw:CARD=X,"), ["X,DEV=0"], "what bash has not split")
        self.assertEqual(complete("wavfx distort -t 5 -o "), [], "folders: bash's own completion")
        manual_page = subprocess.run([sys.executable, os.path.join(cli, "generate.py"), os.path.join(cli, "commands.toml"),
                                      "--markdown", os.path.join(cli, "..", "..", "..", "docs", "wavfx.md"), "--check"],
                                     capture_output=True, text=True)
        self.assertEqual(manual_page.returncode, 0, manual_page.stderr)


if __name__ == "__main__":
    unittest.main()
