#!/usr/bin/env python3
"""Every JSON event the console program writes has exactly the keys
docs/console.md gives it, in that order: the table of events there is read
and checked over real runs against the simulated device that together
produce every event kind.
Usage: console_events_test.py LUMARIS_UPDATE DOCS_CONSOLE_MD
"""
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

PROGRAM, DOCS = sys.argv[1], sys.argv[2]
FAST = ["--reply-delay", "0", "--erase-delay", "0", "--restart-wait", "auto"]
SLOW = ["--reply-delay", "1", "--erase-delay", "30", "--restart-wait", "auto"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def documented():
    """event -> (keys always there, [(key, the case it is there in)])."""
    table, inside = {}, False
    for line in open(DOCS):
        if line.startswith("| Event | Keys"):
            inside = True
        elif inside and not line.startswith("|"):
            break
        match = re.match(r"\| `([a-z_]+)` \|([^|]*)\|", line)
        if not inside or not match:
            continue
        always, _, sometimes = match.group(2).partition(";")
        table[match.group(1)] = (re.findall(r"`(\w+)`", always),
                                 re.findall(r"`(\w+)` \(([^)]+)\)", sometimes))
    return table


def runs(folder):
    """The JSON objects of runs that together produce every reachable event."""
    log = os.path.join(folder, "log.jsonl")
    # A label with a byte that is not UTF-8 (0x80, passed as Python passes such a byte): label_hex, options_hex.
    cases = [["-v", "--log", log, "--label", "SN-1"], ["--installed", "2.00", "--no"],
             ["--check", "--log", log, "--label", "\u03a9\udc80"],
             ["--skip-current", "--installed", "1.00"], ["--retries", "1", "--fault", "late-reply:7"],
             # A bootloader waits beside the chosen device, which is not restarted.
             ["--device", "0", "--more-devices", "bootloader", "--restart-delay", "60000", "--restart-wait", "100"],
             # The restarted device is not back when the fixed wait ends.
             ["--restart-delay", "60000", "--restart-wait", "100"],
             # A second bootloader plugged in while the chosen device restarts.
             ["--more-devices", "bootloader+100", "--restart-delay", "200", "--restart-wait", "400"],
             # A device plugged in while the program waits for one.
             ["--wait-device", "--plug-in-after", "100"],
             ["--list"], ["--info"],
             ["--version"]]
    cases += [["--fault", fault] for fault in ("bad-ack:7", "wrong-checksum:21", "short-read:2", "fail-status:8",
                                               "vanish:40", "fail-read:5")]
    events = []
    for args in cases:
        fast = FAST[:4] if "--restart-wait" in args else FAST
        p = subprocess.run([PROGRAM, "--json"] + args + ([] if args[0] in ("--info", "--version") else fast),
                           stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        events += [json.loads(line) for line in p.stdout.splitlines()]
    events += [json.loads(line) for line in open(log)]
    # Stop requests while pages are written: deferred once, stopped on the second.
    for count in (1, 2):
        p = subprocess.Popen([PROGRAM, "--json"] + SLOW, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        for line in p.stdout:
            events.append(json.loads(line))
            if events[-1]["event"] == "page_programmed" and events[-1]["index"] == 5:
                for _ in range(count):
                    p.send_signal(signal.SIGINT)
                    time.sleep(0.1)  # two signals at once may arrive as one
        p.wait(timeout=60)
    return events


def main():
    table = documented()
    check(len(table) >= 25 and "result" in table and "failure" in table, f"the event table in {DOCS}: {table}")
    with tempfile.TemporaryDirectory() as folder:
        events = runs(folder)
    seen = set()
    for event in events:
        name = event["event"]
        seen.add(name)
        if not check(name in table, f"event {name} is not documented"):
            continue
        always, sometimes = table[name]
        want = ["event", "t_ms"] + always
        for key, case in sometimes:
            if key.endswith("_hex") and key in event and key[:-4] in want:
                want.insert(want.index(key[:-4]) + 1, key)
            elif case == event.get("cause"):
                want.append(key)
        check(list(event) == want, f"{name}: keys {list(event)}, documented {want}")
        if name == "result" and event["failure"] is not None:
            failure = [k for k in table["failure"][0]] + [k for k, case in table["failure"][1]
                                                          if case == event["failure"]["cause"]]
            check(list(event["failure"]) == failure, f"result's failure: keys {list(event['failure'])}, documented "
                  f"{failure}")
    missing = set(table) - seen
    check(not missing, f"documented events no run produced: {sorted(missing)}")
    causes = {e["cause"] for e in events if e["event"] == "failure"}
    check(causes >= {"no-reply", "bad-reply", "checksum-mismatch", "short-read", "write-failed", "device-gone",
                     "read-failed"},
          f"failure causes covered: {sorted(causes)}")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(events)} events of {len(seen)} kinds; {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
