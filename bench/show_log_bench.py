#!/usr/bin/python3
"""--show-log on a 100 MB log beside jq, in one run on one machine.

    show_log_bench.py LUMARIS_UPDATE [MEGABYTES]

Writes one shift's lines (runs of the console program against the simulated
device: updates, failures, a retry, a declined image; every event, as --log
writes them) again and again into one file of about MEGABYTES (100), then
times, five times each, `lumaris-update --show-log FILE`, the same with
--json, and `jq -c 'select(.event=="result")' FILE`, which prints the same
runs' result lines. Prints the median seconds, the ratio to jq and the
program's peak memory (its maximum resident set, read from the kernel for
each run). Lines from different copies carry the same run ids, as the runs
of a log that was copied into itself would: the reader's work is the same.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

QUICK = ["--reply-delay", "0", "--erase-delay", "0", "--restart-wait", "auto"]
SHIFT = [[], ["--fault", "late-reply:40"], ["--retries", "1", "--fault", "late-reply:40"],
         ["--installed", "2.00", "--no"], ["--label", "SN-0042"], ["--fault", "wrong-checksum:21"]]


def measure(args, times=5):
    """Median seconds over `times` runs, and the peak memory of one run (KiB)."""
    # GNU time's own child is a fork of that small program, not of this
    # interpreter, whose pages would count in the peak.
    timed = subprocess.run(["/usr/bin/time", "-f", "%M", *args], stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True, check=True)
    peak = int(timed.stderr.strip().splitlines()[-1])
    seconds = []
    for _ in range(times):
        start = time.perf_counter()
        subprocess.run(args, stdout=subprocess.DEVNULL, check=True)
        seconds.append(time.perf_counter() - start)
    return statistics.median(seconds), peak


def main():
    program = os.path.abspath(sys.argv[1])
    megabytes = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    jq = shutil.which("jq")
    if not jq:
        raise SystemExit("show_log_bench: jq is not installed (scripts/install-deps.sh bench)")
    with tempfile.TemporaryDirectory() as folder:
        shift = os.path.join(folder, "shift.jsonl")
        for args in SHIFT:
            subprocess.run([program, "--yes", "--log", shift, *QUICK, *args], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        with open(shift, "rb") as f:
            lines = f.read()
        log = os.path.join(folder, "log.jsonl")
        copies = max(1, (megabytes << 20) // len(lines))
        with open(log, "wb") as f:
            for _ in range(copies):
                f.write(lines)
        size = os.path.getsize(log)
        runs = copies * lines.count(b'"event":"result"')
        print(f"--show-log on {size / 1e6:.0f} MB, {runs} runs ({copies} copies of a shift of {len(SHIFT)} runs)")
        print("| command | median of 5 (s) | jq / it | peak memory (MiB) |")
        print("|---|---|---|---|")
        jq_seconds, jq_peak = measure([jq, "-c", 'select(.event=="result")', log])
        for name, args in (("lumaris-update --show-log", [program, "--show-log", log]),
                           ("lumaris-update --show-log --json", [program, "--show-log", log, "--json"])):
            seconds, peak = measure(args)
            print(f"| `{name}` | {seconds:.2f} | {jq_seconds / seconds:.1f} | {peak / 1024:.1f} |")
        print(f"| `jq -c 'select(.event==\"result\")'` | {jq_seconds:.2f} | 1.0 | {jq_peak / 1024:.1f} |")


if __name__ == "__main__":
    main()
