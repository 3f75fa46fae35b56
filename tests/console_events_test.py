#!/usr/bin/python3
"""Every JSON event the console program writes has exactly the keys
docs/console.md gives it, in that order: the table of events there is read
and checked over real runs against the simulated device that together
produce every event kind.

    console_events_test.py LUMARIS_UPDATE DOCS_CONSOLE_MD [UNITTEST ARGUMENT...]
"""
import json
import os
import re
import signal
import unittest

import console_harness as harness
from console_harness import FAST, SLOW, run_json, run_json_reacting


def documented(docs):
    """event -> (keys always there, [(key, the case it is there in)])."""
    table, inside = {}, False
    with open(docs, encoding="utf-8") as f:
        for line in f:
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
                                               "vanish:40", "fail-read:5", "fail-count:2")]
    events = []
    for args in cases:
        fast = FAST[:4] if "--restart-wait" in args else FAST
        events += run_json(args + ([] if args[0] in ("--info", "--version") else fast), summary=False).events
    with open(log) as f:
        events += [json.loads(line) for line in f]
    # Stop requests while pages are written: deferred once, stopped on the second.
    for count in (1, 2):
        events += run_json_reacting(SLOW + ["--restart-wait", "auto"],
                                    [(lambda e: e["event"] == "page_programmed" and e["index"] == 5,
                                      [signal.SIGINT] * count)], summary=False).events
    return events


class DocumentedEvents(unittest.TestCase):
    """The events of every run against the table in docs/console.md."""

    @classmethod
    def setUpClass(cls):
        cls.docs = harness.argument("DOCS_CONSOLE_MD")
        cls.table = documented(cls.docs)
        cls.events = runs(harness.scratch_folder(cls))

    def test_the_table_is_read(self):
        self.assertTrue(len(self.table) >= 25 and "result" in self.table and "failure" in self.table,
                        f"the event table in {self.docs}: {self.table}")

    def test_each_event_has_the_documented_keys_in_order(self):
        for name in sorted({e["event"] for e in self.events}):
            with self.subTest(name):
                self.assertIn(name, self.table, f"event {name} is not documented")
                always, sometimes = self.table[name]
                for event in (e for e in self.events if e["event"] == name):
                    want = ["event", "t_ms"] + ([] if name in ("info", "version") else ["run_id"]) + always
                    for key, case in sometimes:
                        if key.endswith("_hex") and key in event and key[:-4] in want:
                            want.insert(want.index(key[:-4]) + 1, key)
                        elif case == event.get("cause"):
                            want.append(key)
                    self.assertEqual(list(event), want, f"{name}: keys against the documented ones")

    def test_a_results_failure_has_the_documented_keys(self):
        for event in (e for e in self.events if e["event"] == "result" and e["failure"] is not None):
            with self.subTest(event["failure"]["cause"]):
                failure = [k for k in self.table["failure"][0]] + [k for k, case in self.table["failure"][1]
                                                                   if case == event["failure"]["cause"]]
                self.assertEqual(list(event["failure"]), failure, "result's failure: keys against the documented ones")

    def test_every_documented_event_is_produced(self):
        missing = set(self.table) - {e["event"] for e in self.events}
        self.assertFalse(missing, f"documented events no run produced: {sorted(missing)}")

    def test_each_results_exit_code_is_the_documented_one(self):
        # The outcome table of docs/console.md, the first to name each outcome: "| `outcome` | N |".
        documented_codes = {}
        with open(self.docs, encoding="utf-8") as f:
            for line in f:
                match = re.match(r"\| ((?:`[a-z-]+`(?:, )?)+) \| ([0-9]+(?: or [0-9]+)?) \|", line)
                if match:
                    for outcome in re.findall(r"`([a-z-]+)`", match.group(1)):
                        documented_codes.setdefault(outcome, {int(c) for c in match.group(2).split(" or ")})
        results = [e for e in self.events if e["event"] == "result"]
        self.assertTrue(len(results) > 10 and "bus-changed-during-update" in documented_codes, documented_codes)
        for result in results:
            with self.subTest(result["outcome"]):
                self.assertIn(result["exit_code"], documented_codes.get(result["outcome"], set()),
                              f"{result['outcome']}: exit {result['exit_code']}, documented {documented_codes}")
        code, out, _ = harness.run(["--help"])
        self.assertTrue(code == 0 and re.search(r"^  5  the bus changed while the image was written "
                                                r"\(bus-changed-during-update\)", out, re.M), "--help on exit 5")

    def test_every_failure_cause_is_covered(self):
        causes = {e["cause"] for e in self.events if e["event"] == "failure"}
        self.assertTrue(causes >= {"no-reply", "bad-reply", "checksum-mismatch", "short-read", "write-failed",
                                   "device-gone", "read-failed"}, f"failure causes covered: {sorted(causes)}")


if __name__ == "__main__":
    harness.main("LUMARIS_UPDATE", "DOCS_CONSOLE_MD")
