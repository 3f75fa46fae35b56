#!/usr/bin/env python3
"""The console commands the README shows ("The console program in ten lines")
run as shown: each ./lumaris-update line is run, with its options unchanged,
against the simulated device in a scratch folder, and must exit 0 with output.
Usage: readme_commands_test.py LUMARIS_UPDATE README_MD
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile

PROGRAM, README = sys.argv[1], sys.argv[2]


def shown_commands():
    text = open(README, encoding="utf-8").read()
    section = text.split("## The console program in ten lines", 1)[1]
    block = re.search(r"```sh\n(.*?)```", section, re.S).group(1)
    return [shlex.split(line, comments=True) for line in block.splitlines() if line.startswith("./lumaris-update")]


def main():
    failures = []
    commands = shown_commands()
    if len(commands) < 4:
        failures.append(f"only {len(commands)} ./lumaris-update lines found in {README}")
    with tempfile.TemporaryDirectory() as folder:
        for words in commands:
            p = subprocess.run([PROGRAM] + words[1:], cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                               text=True, timeout=60)
            if p.returncode != 0 or not p.stdout:
                failures.append(f"{' '.join(words)}: exit {p.returncode}, {p.stderr.strip()!r}")
        for log in re.findall(r"--log (\S+)", " ".join(" ".join(w) for w in commands)):
            if not os.path.getsize(os.path.join(folder, log)):
                failures.append(f"--log {log}: nothing written")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(commands)} commands; {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
