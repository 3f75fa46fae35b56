#!/usr/bin/python3
"""The console commands the README shows ("The console program in ten lines")
run as shown: each ./lumaris-update line is run, with its options unchanged,
against the simulated device in a scratch folder, and must exit 0 with output.

    readme_commands_test.py LUMARIS_UPDATE README_MD [UNITTEST ARGUMENT...]
"""
import os
import re
import shlex
import unittest

import console_harness as harness
from console_harness import run


def shown_commands(readme):
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    section = text.split("## The console program in ten lines", 1)[1]
    block = re.search(r"```sh\n(.*?)```", section, re.S).group(1)
    return [shlex.split(line, comments=True) for line in block.splitlines() if line.startswith("./lumaris-update")]


class ReadmeCommands(unittest.TestCase):
    """The commands run one after another in one scratch folder, as a reader would type them."""

    @classmethod
    def setUpClass(cls):
        cls.readme = harness.argument("README_MD")
        cls.commands = shown_commands(cls.readme)
        cls.folder = harness.scratch_folder(cls)
        cls.ran = [run(words[1:], cwd=cls.folder) for words in cls.commands]

    def test_the_readme_shows_the_commands(self):
        self.assertGreaterEqual(len(self.commands), 4, f"./lumaris-update lines found in {self.readme}")

    def test_each_command_runs_as_shown(self):
        for words, (code, out, err) in zip(self.commands, self.ran):
            with self.subTest(" ".join(words)):
                self.assertTrue(code == 0 and out, f"{' '.join(words)}: exit {code}, {err.strip()!r}")

    def test_each_log_is_written(self):
        for log in re.findall(r"--log (\S+)", " ".join(" ".join(w) for w in self.commands)):
            with self.subTest(log):
                self.assertTrue(os.path.getsize(os.path.join(self.folder, log)), f"--log {log}: nothing written")


if __name__ == "__main__":
    harness.main("LUMARIS_UPDATE", "README_MD")
