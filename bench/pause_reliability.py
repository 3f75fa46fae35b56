#!/usr/bin/python3
"""How an update fares when the PC pauses: a reliability figure, not a timing.

Runs the native console program against its simulated device RUNS times
(`--yes --json --restart-wait auto`). In each run, once programming is under
way (after a page chosen per run, and a few milliseconds more so that the
pause lands anywhere in a page), the program is stopped with SIGSTOP for
PAUSE_MS and continued with SIGCONT, as a loaded CPU, a scan or a virtual
machine's hiccup would. A run counts as updated only when the program exits 0
with the result "updated". Prints each run's end and then "N of RUNS updated".

    bench/pause_reliability.py [--program PATH] [--runs 20] [--pause-ms 200] [--seed 1]

The choice of page and delay is seeded, so two builds are paused at the same
places.
"""
import argparse
import json
import os
import random
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def one_run(program, pause_ms, page, delay_ms):
    """Returns (updated, how it ended)."""
    proc = subprocess.Popen([program, "--yes", "--json", "--restart-wait", "auto"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, text=True)
    paused = False
    result = None
    for line in proc.stdout:
        try:
            event = json.loads(line)
        except ValueError:
            continue
        if event.get("event") == "page_programmed" and not paused and event.get("index") == page:
            time.sleep(delay_ms / 1000)
            proc.send_signal(signal.SIGSTOP)
            time.sleep(pause_ms / 1000)
            proc.send_signal(signal.SIGCONT)
            paused = True
        if event.get("event") == "result":
            result = event
    code = proc.wait()
    if result is None:
        return False, f"exit {code}, no result"
    failure = result.get("failure") or {}
    cause = f", {failure.get('cause')} at {failure.get('command')} of page {failure.get('page')}" if failure else ""
    ended = f"exit {code}, {result.get('outcome')}{cause}" + ("" if paused else " (never paused)")
    return code == 0 and result.get("outcome") == "updated" and paused, ended


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", default=os.path.join(HERE, "..", "build", "native", "console", "lumaris-update"))
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--pause-ms", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if not os.access(args.program, os.X_OK):
        sys.exit(f"pause_reliability: {args.program} is not built (cmake --build --preset native)")
    rng = random.Random(args.seed)
    updated = 0
    for run in range(1, args.runs + 1):
        # The built-in image has 53 pages; pause somewhere among the first 45.
        page, delay_ms = rng.randint(1, 45), rng.uniform(0, 25)
        ok, ended = one_run(args.program, args.pause_ms, page, delay_ms)
        updated += ok
        print(f"run {run:2}: paused {args.pause_ms} ms {delay_ms:4.1f} ms after page {page:2}: {ended}", flush=True)
    print(f"{updated} of {args.runs} updated")
    return 0 if updated == args.runs else 1


if __name__ == "__main__":
    sys.exit(main())
