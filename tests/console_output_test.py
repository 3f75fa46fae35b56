#!/usr/bin/env python3
"""The console program's output end to end against the simulated device: a run log that stays
whole (a full file system, two stations appending at once, paths that are not a log) and a
screen that nobody reads.
Usage: console_output_test.py LUMARIS_UPDATE
"""
import json
import os
import resource
import signal
import subprocess
import sys
import tempfile

PROGRAM = sys.argv[1]
FAST = ["--reply-delay", "0", "--erase-delay", "0", "--restart-wait", "auto"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def run(args, timeout=60, **kw):
    kw.setdefault("stdout", subprocess.PIPE)
    try:
        p = subprocess.run([PROGRAM] + args, stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                           timeout=timeout, **kw)
    except subprocess.TimeoutExpired:
        return None, "", f"no end within {timeout} s"
    return p.returncode, p.stdout, p.stderr


def sim_summaries(err):
    return [json.loads(l) for l in err.splitlines() if l.startswith('{"sim_device"')]


def parses(line):
    try:
        json.loads(line)
        return True
    except ValueError:
        return False


def limit_file_size(size):
    """A file system with `size` bytes left, for the files this process writes."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return apply


def check_full_file_system(folder):
    log = os.path.join(folder, "full.jsonl")
    # Room for a few lines of the first run: one line is cut.
    code, _, err = run(["--log", log, "--sim-summary"] + FAST, preexec_fn=limit_file_size(1500))
    sims = sim_summaries(err)
    text = open(log).read()
    check(code == 0 and sims and sims[0]["signature_valid"] and 0 < len(text) <= 1500 and not text.endswith("\n")
          and err.count("the log " + log + " cannot be written") == 1,
          f"a full log: the update goes on, its failure noted once: exit {code}, {len(text)} bytes, {err!r}")
    # The next run finds the cut line and ends it: its own lines parse.
    code, _, _ = run(["--log", log, "--label", "SN-2"] + FAST)
    lines = open(log).read().splitlines()
    broken = [i for i, l in enumerate(lines) if not parses(l)]
    second = [json.loads(l) for l in lines[broken[-1] + 1:]] if broken else []
    check(code == 0 and len(broken) == 1 and second and second[0]["event"] == "run_started"
          and second[0]["label"] == "SN-2" and second[-1]["event"] == "result",
          f"the run after a full disk: broken lines {broken} of {len(lines)}")
    # The screen and the log fail apart, and each is noted.
    code, _, err = run(["--log", os.path.join(folder, "full2.jsonl")] + FAST, stdout=open("/dev/full", "w"),
                       preexec_fn=limit_file_size(1500))
    check(code == 0 and "standard output cannot be written" in err and "the log " in err,
          f"a full screen and a full log are both noted: exit {code}, {err!r}")


def check_two_stations(folder):
    """Two stations append lines of 10 KB (their labels) to one log at the same time."""
    log = os.path.join(folder, "shared.jsonl")
    runs = 15
    script = 'for i in $(seq {n}); do "$0" --no-device --log "$1" --label "$2"; done'.format(n=runs)
    labels = ["A" * 10240, "B" * 10240]
    stations = [subprocess.Popen(["sh", "-c", script, PROGRAM, log, label], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL) for label in labels]
    for s in stations:
        s.wait(timeout=120)
    lines = open(log).read().splitlines()
    whole = all(parses(l) for l in lines)
    check(whole, f"two stations: {sum(not parses(l) for l in lines)} of {len(lines)} lines mixed or cut")
    if whole:
        results = [json.loads(l)["label"] for l in lines if '"event":"result"' in l]
        check(sorted(results) == sorted(labels * runs), f"two stations: {len(results)} results")


def check_not_a_log(folder):
    hex_file = os.path.join(folder, "firmware.hex")
    content = ":100000000102030405060708090A0B0C0D0E0F1068\n:00000001FF\n"
    with open(hex_file, "w") as f:
        f.write(content)
    link = os.path.join(folder, "station.jsonl")
    os.symlink(hex_file, link)
    fifo = os.path.join(folder, "fifo")
    os.mkfifo(fifo)
    for name, path, why in (("a FIFO", fifo, "FIFO"), ("a firmware file", hex_file, "Intel HEX"),
                            ("a link to a firmware file", link, "Intel HEX"), ("a device", "/dev/null", "device"),
                            ("a folder", folder, "folder")):
        code, out, err = run(["--log", path, "--sim-summary", "--yes"] + FAST, timeout=20)
        check(code == 2 and out == "" and why in err and "sim_device" not in err,
              f"--log at {name}: exit {code}, {err!r}")
    check(open(hex_file).read() == content, "the firmware file is left as it was")
    # A link to a log is a log.
    log = os.path.join(folder, "real.jsonl")
    os.symlink(log, os.path.join(folder, "today.jsonl"))
    for _ in range(2):
        code, _, _ = run(["--log", os.path.join(folder, "today.jsonl"), "--no-device"])
    check(code == 1 and sum('"run_started"' in l for l in open(log)) == 2, "--log through a link to a log")


def main():
    with tempfile.TemporaryDirectory() as folder:
        for f in (check_full_file_system, check_two_stations, check_not_a_log):
            sub = os.path.join(folder, f.__name__)
            os.mkdir(sub)
            f(sub)
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
