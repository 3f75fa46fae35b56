#!/usr/bin/python3
"""The console program stopped while it runs: Ctrl+C typed on its terminal,
SIGINT, SIGTERM and SIGHUP (also from a terminal that is closed), in each
phase of an update, and a reader that closes the pipe half-way.

Before flash writing is unlocked the run stops: nothing is written, a device
that was switched into its bootloader is told to run its application again,
and the program ends with exit code 130 and a result. Once writing is
unlocked, one request is answered with a line and the update finishes; a
second one stops it (exit 130, no valid application). In every case the last
line (or JSON object) is the result, on a line of its own. Each case is judged
by the simulated device as well (--sim-summary on standard error).

    console_interrupt_test.py LUMARIS_UPDATE [UNITTEST ARGUMENT...]
"""
import os
import pty
import select
import signal
import subprocess
import time
import unittest

import console_harness as harness
from console_harness import SLOW, on_terminal, run_json_reacting, sim_summaries, terminal_lines

# A restart long enough to be stopped during the wait, which (by default) ends when the bootloader is back.
RESTARTING = SLOW + ["--restart-delay", "2000"]


def programming(event):
    return event["event"] == "page_programmed" and event["index"] == 5


def waiting(event):
    return event["event"] == "restart_requested"


# what, args, when, signals, exit code, outcome, state, what the simulated device shows
BEFORE_WRITING = [
    ("SIGINT while waiting for the restart", RESTARTING, waiting, [signal.SIGINT], 130, "interrupted",
     "kept-application", {"flash_changed": False, "erase_packets": 0, "run_commands": 1}),
    ("SIGTERM while waiting for the restart", RESTARTING, waiting, [signal.SIGTERM], 130, "interrupted",
     "kept-application", {"flash_changed": False, "erase_packets": 0, "run_commands": 1}),
    ("SIGINT over an invalid application", RESTARTING + ["--no-valid-app"], waiting, [signal.SIGINT], 130,
     "interrupted", "no-valid-application", {"flash_changed": False, "run_commands": 0}),
    ("SIGHUP while waiting for the restart", RESTARTING, waiting, [signal.SIGHUP], 130, "interrupted",
     "kept-application", {"flash_changed": False, "erase_packets": 0, "run_commands": 1}),
]
WHILE_PROGRAMMING = [
    ("one SIGINT while programming", SLOW, programming, [signal.SIGINT], 0, "updated", "runs-image",
     {"signature_valid": True, "pages_matching_image": 53, "run_commands": 1}),
    ("two SIGINTs while programming", SLOW, programming, [signal.SIGINT, signal.SIGINT], 130, "interrupted",
     "no-valid-application", {"signature_valid": False, "signature_packets": 0, "run_commands": 0}),
    ("SIGINT then SIGTERM while programming", SLOW, programming, [signal.SIGINT, signal.SIGTERM], 130,
     "interrupted", "no-valid-application", {"signature_valid": False, "run_commands": 0}),
    ("one SIGHUP while programming", SLOW, programming, [signal.SIGHUP], 0, "updated", "runs-image",
     {"signature_valid": True, "pages_matching_image": 53, "run_commands": 1}),
    ("two SIGHUPs while programming", SLOW, programming, [signal.SIGHUP, signal.SIGHUP], 130, "interrupted",
     "no-valid-application", {"signature_valid": False, "signature_packets": 0, "run_commands": 0}),
]


class StopSignals(unittest.TestCase):
    """SIGINT and SIGTERM sent while the program writes JSON lines."""

    def run_table(self, cases):
        for what, args, when, signals, code_wanted, outcome, state, device in cases:
            with self.subTest(what):
                ran = run_json_reacting(args, [(when, signals)])
                result, summary = ran.result, ran.summary
                self.assertTrue(ran.code == code_wanted and result.get("event") == "result"
                                and result.get("outcome") == outcome and result.get("device_state") == state
                                and result.get("exit_code") == code_wanted,
                                f"{what}: exit {ran.code}, last object {result}")
                self.assertTrue(summary is not None and all(summary.get(k) == v for k, v in device.items()),
                                f"{what}: the device shows {summary}, wanted {device}")
                deferred = ran.of("stop_deferred")
                if when is programming:
                    self.assertTrue(len(deferred) == 1 and 0 < deferred[0]["pages_left"] <= 53 - 5,
                                    f"{what}: one stop_deferred event with the pages left: {deferred}")
                    self.assertIn("press Ctrl+C again", ran.err, f"{what}: the deferral line on standard error")
                else:
                    self.assertFalse(deferred, f"{what}: a stop was deferred before writing")

    def test_before_writing_the_run_stops_and_the_device_keeps_its_state(self):
        self.run_table(BEFORE_WRITING)

    def test_while_programming_one_request_is_deferred_and_a_second_stops(self):
        self.run_table(WHILE_PROGRAMMING)

    def test_a_request_before_the_first_page_is_deferred(self):
        # The flash key is set once programming starts: a request before the first page is written is deferred
        # like any later one, and only a second one stops the run. Each reply takes 30 ms (within the 100 ms
        # window even on a loaded machine), so about 200 ms pass before the first page is written and the first
        # request almost always arrives before it; if it comes later, the check still holds.
        ran = run_json_reacting(
            ["--reply-delay", "30", "--erase-delay", "30"],
            [(lambda e: e["event"] == "programming_started", [signal.SIGINT]),
             (lambda e: e["event"] == "stop_deferred", [signal.SIGINT])])
        deferred = ran.of("stop_deferred")
        result, summary = ran.result, ran.summary
        self.assertEqual(len(deferred), 1, f"SIGINT at programming_started: one stop_deferred event: {deferred}")
        self.assertTrue(ran.code == 130 and result.get("outcome") == "interrupted"
                        and result.get("device_state") == "no-valid-application",
                        f"SIGINT at programming_started, then again: exit {ran.code}, last object {result}")
        self.assertTrue(summary is not None and summary.get("erase_packets", 0) >= 1
                        and summary.get("run_commands") == 0,
                        f"SIGINT at programming_started: the device shows {summary}")


class CtrlCOnATerminal(unittest.TestCase):
    """Ctrl+C typed on the program's terminal."""

    def test_once_while_programming_the_update_finishes(self):
        # The notice starts a line of its own, the update finishes.
        code, out = on_terminal(SLOW, b"page 5 of 53", [b"\x03"])
        lines = terminal_lines(out)
        notice = [l for l in lines if "stopping now would leave the device without firmware" in l]
        self.assertTrue(code == 0 and lines[-2] == "device runs firmware 1.00 (updated)",
                        f"Ctrl+C once: exit {code}, {lines[-3:]}")
        self.assertTrue(len(notice) == 1 and notice[0].startswith("stopping now"),
                        f"Ctrl+C once: the notice is a line of its own: {notice}")

    def test_twice_while_programming_the_last_line_says_what_the_device_holds(self):
        # Stopped, and the last line says what the device holds, not the progress bar's remains.
        code, out = on_terminal(SLOW, b"page 5 of 53", [b"\x03", b"\x03"])
        lines = terminal_lines(out)
        self.assertTrue(code == 130 and lines[-2] == "interrupted while programming: no valid application on the "
                        "device: run the update again", f"Ctrl+C twice: exit {code}, {lines[-3:]}")

    def test_at_the_question_nothing_is_written(self):
        # The answer is No, nothing is written, and the run says it was interrupted.
        code, out = on_terminal(["--installed", "2.00"] + SLOW, b"answer [y/N]", [b"\x03"])
        last = out.replace("\r\n", "\n").rstrip("\n").split("\n")[-1]
        self.assertTrue(code == 130 and last.startswith("interrupted: nothing was written"),
                        f"Ctrl+C at the question: {code} {last!r}")


def hang_up(args, after, *, deadline=60):
    """Runs the program on a pseudo-terminal and closes the terminal once `after` (bytes) has
    appeared on it, as a closed terminal window or SSH session does: the program gets SIGHUP and
    its screen is gone. Returns its exit code."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(harness.PROGRAM, [harness.PROGRAM] + args)
    shown, end = b"", time.monotonic() + deadline
    try:
        while after not in shown and time.monotonic() < end:
            if select.select([fd], [], [], 0.05)[0]:
                try:
                    chunk = os.read(fd, 4096)
                except OSError:  # the program ended and closed the terminal
                    break
                if not chunk:
                    break
                shown += chunk
    finally:
        os.close(fd)
    while time.monotonic() < end:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    raise AssertionError(f"{args}: still running {deadline} s after it started; killed")


class ClosedTerminal(harness.InScratchFolder):
    def test_the_update_goes_on_and_the_log_gets_its_result(self):
        # The hang-up is a stop request like any other: while pages are written the first one is deferred,
        # and the update ends with its result in the log, although the screen is gone.
        log = os.path.join(self.folder, "hangup.jsonl")
        code = hang_up(["--log", log] + SLOW, b"page 5 of 53")
        with open(log) as f:
            events = harness.json_lines(f.read(), "the log")
        kinds = [e["event"] for e in events]
        self.assertTrue(code == 0 and kinds.count("run_started") == 1 and kinds[-1] == "result"
                        and "stop_deferred" in kinds and events[-1]["outcome"] == "updated"
                        and events[-1]["exit_code"] == 0 and events[-1]["pages_verified"] == 53,
                        f"the terminal closed while programming: exit {code}, log {kinds[-4:]}, {events[-1:]}")


class ClosedPipe(unittest.TestCase):
    def test_the_update_goes_on_after_the_reader_stops(self):
        # The reader stops reading after the first progress line: the update goes on to its end and its exit code.
        p = subprocess.Popen([harness.PROGRAM, "--sim-summary"] + SLOW, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        for line in p.stdout:
            if line.startswith(b"page "):
                break
        p.stdout.close()
        err = p.stderr.read().decode()
        p.stderr.close()
        code = p.wait(timeout=60)
        summaries = sim_summaries(err)
        summary = summaries[0] if summaries else None
        self.assertTrue(code == 0 and summary and summary["signature_valid"] and summary["run_commands"] == 1,
                        f"closed pipe: exit {code}, {summary}")
        self.assertEqual(err.count("standard output cannot be written"), 1,
                         f"closed pipe: noted once on standard error: {err!r}")


if __name__ == "__main__":
    harness.main("LUMARIS_UPDATE")
