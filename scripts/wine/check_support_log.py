#!/usr/bin/env python3
"""Checks the window program's support log after a Wine scenario.

    check_support_log.py LOG run [--after COPY] [--failure PAGE CAUSE] [--problem TEXT] OUTCOME DEVICE_STATE

LOG holds whole JSON lines only, and its last run (from its last
`run_started`) was written by the window program ("program":"window"
in run_started, and no other program named in the run) and ends with a `result`
whose outcome and device state are the ones given. With --failure, that run
holds a `failure` of that page and cause. Every line of the run carries
the run_started's `run_id`. The run names the USB library it bound
(`usb_library`); with --problem, it names none, and `usb_library_problem`
holds TEXT. With --after, LOG starts with
COPY's bytes (what the log held before the run) and adds exactly one run.
Says what differs and exits 1 otherwise.
"""
import json
import sys


def fail(message):
    print(f"    support log: {message}")
    sys.exit(1)


def lines_of(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as error:
        fail(f"cannot be read: {error}")
    if data and not data.endswith(b"\n"):
        fail("its last line is not whole")
    objects = []
    for number, raw in enumerate(data.splitlines(), 1):
        try:
            objects.append(json.loads(raw))
        except ValueError:
            fail(f"line {number} is not JSON: {raw[:80]!r}")
    return data, objects


def main(argv):
    args = argv[1:]
    if len(args) < 4 or args[1] != "run":
        print(__doc__)
        return 2
    path, after, failure, problem = args[0], None, None, None
    rest = args[2:]
    while rest and rest[0].startswith("--"):
        if rest[0] == "--after":
            after, rest = rest[1], rest[2:]
        elif rest[0] == "--failure":
            failure, rest = (int(rest[1]), rest[2]), rest[3:]
        elif rest[0] == "--problem":
            problem, rest = rest[1], rest[2:]
        else:
            print(__doc__)
            return 2
    outcome, device_state = rest

    data, lines = lines_of(path)
    starts = [i for i, line in enumerate(lines) if line.get("event") == "run_started"]
    if not starts:
        fail("holds no run_started")
    run = lines[starts[-1]:]
    started = run[0]
    if started.get("program") != "window":
        fail(f"run_started names program {started.get('program')!r}, not 'window'")
    for key in ("utc", "program_version", "image_version", "image_sha256"):
        if not started.get(key):
            fail(f"run_started has no {key}")
    run_id = started.get("run_id")
    if not isinstance(run_id, str) or len(run_id) != 32:
        fail(f"run_started has no run id of 32 digits: {run_id!r}")
    strangers = [line for line in run if line.get("run_id") != run_id]
    if strangers:
        fail(f"lines of the run without its run id: {strangers[:1]}")
    if problem is None and not started.get("usb_library"):
        fail(f"run_started names no USB library: {started}")
    if problem is not None and (started.get("usb_library") is not None
                                or problem not in started.get("usb_library_problem", "")):
        fail(f"run_started does not say the library's problem {problem!r}: {started}")
    result = run[-1]
    if result.get("event") != "result":
        fail(f"the run ends with {result.get('event')!r}, not a result")
    others = [line for line in run if line.get("program", "window") != "window"]
    if others:
        fail(f"lines of the run name another program: {others[:1]}")
    got = (result.get("outcome"), result.get("device_state"))
    if got != (outcome, device_state):
        fail(f"the result says {got}, not {(outcome, device_state)}")
    if "attempts" not in result:
        fail("the result has no attempts")
    if failure is not None:
        page, cause = failure
        found = [line for line in run if line.get("event") == "failure"]
        if not any(line.get("page") == page and line.get("cause") == cause for line in found):
            fail(f"no failure of page {page} with cause {cause} in the run: {found}")
    if after is not None:
        with open(after, "rb") as f:
            before = f.read()
        if not data.startswith(before):
            fail("what the log held before the run has changed")
        if len(starts) != before.count(b'"event":"run_started"') + 1:
            fail(f"{len(starts)} runs now, not one more than before")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
