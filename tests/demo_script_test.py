#!/usr/bin/python3
"""scripts/demo.sh, the README's main job: it builds the console program and
updates a simulated device. With a firmware file that the embedding tool
refuses, the build's output is shown, with the tool's file:line: error line,
and the script fails without running the program. A firmware file that does
not exist is named.

    demo_script_test.py SOURCE_DIR WORK_DIR
"""
import os
import subprocess
import sys
import unittest

SOURCE = WORK = None


class DemoScript(unittest.TestCase):
    def run_demo(self, *args):
        env = dict(os.environ, LUMARIS_DEMO_BUILD_DIR=os.path.join(WORK, "build"))
        return subprocess.run([os.path.join(SOURCE, "scripts", "demo.sh"), *args, "--yes"],
                              capture_output=True, text=True, env=env, timeout=540)

    def test_a_refused_firmware_file_fails_the_demo_with_the_tools_reason(self):
        with open(os.path.join(SOURCE, "firmware", "demo.hex")) as f:
            lines = f.read().splitlines()
        lines[4] = lines[4][:-2] + "%02X" % ((int(lines[4][-2:], 16) + 1) & 0xFF)
        bad = os.path.join(WORK, "bad sum.hex")
        with open(bad, "w") as f:
            f.write("".join(line + "\n" for line in lines))
        done = self.run_demo("--firmware", bad)
        self.assertNotEqual(done.returncode, 0)
        self.assertEqual(done.stdout, "", "the program must not run")
        self.assertIn("demo: building…\n", done.stderr)
        self.assertIn(f"{bad}:5: error: bad record checksum", done.stderr)
        self.assertIn(f"{bad}: error: image refused, nothing embedded", done.stderr)

    def test_the_demo_updates_a_simulated_device(self):
        done = self.run_demo()
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.splitlines()[-1], "device runs firmware 1.00 (updated)")

    def test_a_missing_firmware_file_is_named(self):
        missing = os.path.join(WORK, "missing.hex")
        done = self.run_demo("--firmware", missing)
        self.assertEqual(done.returncode, 2)
        self.assertEqual(done.stderr, f"demo: no firmware file {missing}\n")


if __name__ == "__main__":
    SOURCE, WORK = sys.argv[1:3]
    os.makedirs(WORK, exist_ok=True)
    unittest.main(argv=sys.argv[:1], verbosity=2)
