#!/usr/bin/python3
"""--show-log end to end: a log written by the program's own --log (several runs and outcomes),
runs of the window program written by hand beside them, a foreign line, a cut last line, an
empty file, a file that cannot be read, --last N and --json.

    console_show_log_test.py LUMARIS_UPDATE [UNITTEST ARGUMENT...]
"""
import json
import os
import resource
import subprocess
import sys
import unittest

import console_harness as harness
from console_harness import FAST, json_lines, run

FAST = ["--reply-delay", "0", "--erase-delay", "0", "--bootloader"]

# A run of the window program as its support log writes it: the same events with "program":"window".
WINDOW_RUN = [
    {"event": "run_started", "t_ms": 0, "utc": "2026-01-02T03:04:05Z", "program": "window",
     "program_version": "9.8.7", "image_version": "1.00", "image_sha256": "00", "label": None},
    {"event": "failure", "t_ms": 300, "command": "erase", "page": 22, "page_index": 11, "cause": "no-reply",
     "window_ms": 100},
    {"event": "result", "t_ms": 301, "program": "window", "command": "update", "outcome": "programming-failed",
     "exit_code": 4, "device_state": "no-valid-application", "device_type": "0x83", "installed_version": "0.90",
     "image_version": "1.00", "program_version": "9.8.7", "utc": "2026-01-02T03:04:05Z", "attempts": 1,
     "failure": {"command": "erase", "page": 22, "page_index": 11, "cause": "no-reply", "window_ms": 100},
     "message": "no valid application on the device: run the update again"},
]


def runs_of(out):
    """The runs shown: each starts with an unindented line; the summary line is last."""
    lines = out.splitlines()
    runs = []
    for line in lines[:-1]:
        if not line.startswith(" "):
            runs.append([])
        runs[-1].append(line)
    return runs, lines[-1] if lines else ""


class ShowLog(unittest.TestCase):
    """One log of five runs: updated, failed, a window run, declined, and a window run killed while writing,
    with a foreign line among them."""

    @classmethod
    def setUpClass(cls):
        cls.folder = harness.scratch_folder(cls)
        cls.log = log = os.path.join(cls.folder, "runs.jsonl")
        run(["--log", log] + FAST)                                              # updated
        run(["--log", log, "--fault", "late-reply:40"] + FAST)                  # programming-failed
        with open(log, "a") as f:
            f.write("this line is not JSON\n")
            for event in WINDOW_RUN:
                f.write(json.dumps(event) + "\n")
        run(["--log", log, "--installed", "2.00", "--no"] + FAST)               # declined
        with open(log, "a") as f:                                               # a window run killed while writing
            f.write(json.dumps(dict(WINDOW_RUN[0], utc="2026-01-03T00:00:00Z")) + "\n")
            f.write('{"event":"page_programmed","t_ms":5,"page":2,"pa')
        with open(log) as f:
            whole = f.read().splitlines()
        cls.results = [l for l in whole if l.startswith("{") and l.endswith("}") and json.loads(l)["event"] == "result"]

    def shown(self, *args):
        """The runs --show-log shows, and its summary line."""
        code, out, err = run(["--show-log", self.log, *args])
        self.assertTrue(code == 0 and err == "", f"--show-log {args}: exit {code}, stderr {err!r}")
        return out, *runs_of(out)

    def test_five_runs_in_words_newest_last(self):
        out, runs, _ = self.shown()
        self.assertEqual(len(runs), 5, f"five runs, newest last: {out}")
        updated, failed, window, declined, killed = runs
        with self.subTest("updated"):
            self.assertTrue("console program" in updated[0] and any("0.90 before, 1.00 after" in l for l in updated)
                            and any("outcome: updated (exit 0)" in l for l in updated)
                            and any(l.strip().startswith("device now: runs-image") for l in updated),
                            f"updated: {updated}")
        with self.subTest("programming-failed"):
            self.assertTrue(any("outcome: programming-failed (exit 4)" in l for l in failed)
                            and any("cause: write-half 1, page 18: no-reply" in l for l in failed)
                            and any("next: run the update again" in l for l in failed)
                            and any("none after" in l for l in failed), f"programming-failed: {failed}")
        with self.subTest("window run"):
            self.assertTrue(window[0].startswith("2026-01-02T03:04:05Z") and "window program 9.8.7" in window[0]
                            and any("cause: erase, page 22: no-reply" in l for l in window)
                            and any("device 0x83" in l for l in window), f"window run: {window}")
            # The window program has no exit code to name.
            self.assertFalse(any("(exit " in l for l in window), f"window run: {window}")
        with self.subTest("declined"):
            self.assertTrue(any("outcome: declined (exit 3)" in l for l in declined)
                            and any("2.00 before, 2.00 after" in l for l in declined)
                            and any("kept-application" in l for l in declined), f"declined: {declined}")
        with self.subTest("killed window run"):
            self.assertTrue("window program" in killed[0] and any("outcome: killed" in l for l in killed)
                            and any("next:" in l for l in killed), f"killed window run: {killed}")

    def test_every_run_says_device_outcome_state_and_next(self):
        out, runs, _ = self.shown()
        self.assertTrue(all(any(l.strip().startswith(k) for l in r) for r in runs
                            for k in ("device ", "outcome:", "device now:", "next:")),
                        f"every run says device, outcome, device now and next: {out}")

    def test_the_summary_counts_the_foreign_line_and_the_killed_run(self):
        _, _, summary = self.shown()
        self.assertTrue("1 line(s) skipped" in summary and "1 killed" in summary and "cut short" in summary,
                        f"the summary counts the foreign line and the killed run: {summary!r}")

    def test_last_2(self):
        code, out, _ = run(["--show-log", self.log, "--last", "2"])
        runs, summary = runs_of(out)
        self.assertTrue(code == 0 and len(runs) == 2 and any("declined" in l for l in runs[0])
                        and "killed" in "".join(runs[1]) and "the last 2 shown" in summary, f"--last 2: {out}")

    def test_json_shows_each_runs_result_line(self):
        code, out, _ = run(["--show-log", self.log, "--json"])
        objects = json_lines(out)
        self.assertTrue(code == 0 and [o for o in objects if o["event"] == "result"]
                        == [json.loads(l) for l in self.results] and len(self.results) == 4 and out.isascii(),
                        f"--json: each run's result line, in ASCII: {out}")
        self.assertTrue(objects[-2]["event"] == "run_killed"
                        and objects[-1] == {"event": "show_log", "runs": 5, "killed": 1, "skipped_lines": 1,
                                            "too_long_lines": 0, "lines_without_run_id": 4,
                                            "cut_last_line": True},
                        f"--json: the killed run and the summary: {objects[-2:]}")

    def test_json_last_1(self):
        code, out, _ = run(["--show-log", self.log, "--json", "--last", "1"])
        self.assertTrue(code == 0 and [o["event"] for o in json_lines(out)] == ["run_killed", "show_log"],
                        f"--json --last 1: {out}")

    def test_an_empty_file(self):
        empty = os.path.join(self.folder, "empty.jsonl")
        open(empty, "w").close()
        code, out, err = run(["--show-log", empty])
        self.assertTrue(code == 0 and out.startswith("0 run(s)") and err == "",
                        f"empty file: exit {code}, {out!r}, {err!r}")

    def test_a_file_that_cannot_be_read_is_named(self):
        for path, reason in ((os.path.join(self.folder, "missing.jsonl"), "No such file"), (self.folder, "folder")):
            with self.subTest(reason):
                code, out, err = run(["--show-log", path])
                self.assertTrue(code == 2 and out == "" and path in err and reason in err,
                                f"{path}: exit {code}, {err!r}")

    def test_usage_errors(self):
        log = self.log
        for args, words in ((["--show-log", log, "--check"], "conflicts"),
                            (["--show-log", log, "--type", "0x84"], "conflicts"),
                            (["--last", "2"], "--show-log"), (["--show-log", log, "--last", "0"], "--last"),
                            (["--show-log"], "needs a value")):
            with self.subTest(args=args):
                code, out, err = run(args)
                self.assertTrue(code == 2 and words in err, f"{args}: exit {code}, {err!r}")


class HostileAndShared(unittest.TestCase):
    """Logs as they come back from a line or a customer: shared by stations, with retries, with bytes meant
    for a terminal, too long, or not a file at all."""

    @classmethod
    def setUpClass(cls):
        cls.folder = harness.scratch_folder(cls)

    def path(self, name):
        return os.path.join(self.folder, name)

    def test_three_stations_sharing_one_log_each_under_its_own_label(self):
        # The stations run at once; SN-B's unit stops answering at packet 140, after erasing its flash.
        log = self.path("shared.jsonl")
        stations = {"SN-A": ["--restart-delay", "300"],
                    "SN-B": ["--restart-delay", "100", "--fault", "missing-reply:140"],
                    "SN-C": ["--restart-delay", "900"]}
        procs = [subprocess.Popen([harness.PROGRAM, "--json", "--yes", "--reply-delay", "1", "--label", label,
                                   "--log", log] + extra, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  stdin=subprocess.DEVNULL) for label, extra in stations.items()]
        codes = [p.wait(timeout=60) for p in procs]
        self.assertEqual(codes, [0, 4, 0])
        code, out, err = run(["--show-log", log])
        runs, summary = runs_of(out)
        self.assertTrue(code == 0 and len(runs) == 3 and "killed" not in out, f"{summary}\n{out}")
        outcomes = {next(l.split("label ")[1] for l in r if "label " in l):
                    next(l for l in r if "outcome:" in l) for r in runs}
        self.assertEqual({label: "programming-failed" in words for label, words in outcomes.items()},
                         {"SN-A": False, "SN-B": True, "SN-C": False}, out)

    def test_a_retry_shows_its_attempts_and_the_first_failure(self):
        log = self.path("retried.jsonl")
        code, _, _ = run(["--log", log, "--retries", "1", "--fault", "late-reply:40"] + FAST)
        with open(log) as f:
            result = [json.loads(l) for l in f if '"event":"result"' in l][-1]
        self.assertTrue(code == 0 and result["attempts"] == 2 and result["failure"]["cause"] == "no-reply",
                        f"exit {code}, the result keeps the first failure: {result}")
        _, out, _ = run(["--show-log", log])
        self.assertIn("attempts: 2 (the 1st failed: write-half 1, page 18: no-reply", out)

    def test_what_is_not_a_log_file_is_refused_at_once(self):
        fifo = self.path("fifo")
        os.mkfifo(fifo)
        hex_file = self.path("firmware.hex")
        with open(hex_file, "w") as f:
            f.write(":100000000102030405060708090A0B0C0D0E0F1068\n")
        for path, words in ((fifo, "FIFO"), ("/dev/zero", "device"), (hex_file, "Intel HEX")):
            with self.subTest(path):
                code, out, err = run(["--show-log", path], timeout=10)
                self.assertTrue(code == 2 and out == "" and words in err, f"exit {code}, {err!r}")

    def test_a_huge_line_is_skipped_in_little_memory(self):
        log = self.path("huge.jsonl")
        with open(log, "w") as f:
            f.write('{"event":"note","x":"' + "x" * (30 << 20) + '"}\n')
            f.write('{"event":"result","outcome":"updated","device_state":"runs-image","message":"m"}\n')
        # The peak memory of the program alone, measured in a child of its own.
        probe = ("import resource, subprocess, sys; p = subprocess.run(sys.argv[1:], capture_output=True); "
                 "print(p.returncode, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss); "
                 "sys.stdout.write(p.stdout.decode())")
        done = subprocess.run([sys.executable, "-c", probe, harness.PROGRAM, "--show-log", log],
                              capture_output=True, text=True, timeout=60)
        head, _, out = done.stdout.partition("\n")
        code, peak_kib = map(int, head.split())
        self.assertTrue(code == 0 and "1 run(s)" in out and "1 line(s) skipped that are longer than" in out, out)
        self.assertLess(peak_kib, 64 * 1024, f"peak {peak_kib} KiB for a 30 MB line")

    def test_bytes_meant_for_a_terminal_are_shown_escaped(self):
        log = self.path("hostile.jsonl")
        with open(log, "wb") as f:
            f.write(b'{"event":"run_started","run_id":"a1","utc":"\\u001b]0;owned\\u0007","label":"SN\\u202e1",'
                    b'"label_hex":null}\n'
                    b'{"event":"result","run_id":"a1","outcome":"failed","exit_code":"\\u001b[2J","device_state":'
                    b'"unchanged","message":"\\u009b31m","failure":{"command":"erase","page":"\\u001b[H",'
                    b'"cause":"no-reply","window_ms":"\\r"}}\n'
                    b'{"event":"run_started","run_id":"b2","label":"\xce\x80","label_hex":"CE80FF"}\n')
        for args in ([], ["--json"]):
            with self.subTest(args=args):
                code, out, _ = run(["--show-log", log, *args], text=False)
                bad = [b for b in set(out) if (b < 0x20 and b != 0x0A) or b == 0x7F]
                self.assertTrue(code == 0 and not bad and b"\xe2\x80\xae" not in out and b"\xc2\x9b" not in out,
                                f"controls {bad} in {out!r}")
                if args:
                    self.assertTrue(out.isascii() and all(json.loads(l) for l in out.splitlines()), out)
                else:
                    self.assertIn(b"label \xce\x80\\xFF\n", out, "a label not UTF-8 shown from label_hex")

    def test_output_that_cannot_be_written_is_no_success(self):
        log = self.path("many.jsonl")
        with open(log, "w") as f:
            for i in range(400):
                f.write(json.dumps({"event": "result", "run_id": f"r{i}", "outcome": "updated",
                                    "device_state": "runs-image", "message": "m" * 100}, separators=(",", ":")) + "\n")
        shown = self.path("shown.txt")

        def limit():  # a 4 KiB file-size limit on what it writes
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        with open(shown, "w") as out:
            code, _, err = run(["--show-log", log], stdout=out, preexec_fn=limit)
        self.assertTrue(code == 2 and "standard output cannot be written" in err, f"exit {code}, {err!r}")

    def test_an_option_value_is_echoed_escaped(self):
        code, _, err = run(["--device", "1\x1b[2J"])
        self.assertTrue(code == 2 and "\x1b" not in err and "\\x1B[2J" in err, repr(err))


if __name__ == "__main__":
    harness.main("LUMARIS_UPDATE")
