#!/usr/bin/python3
"""The console program at a station, end to end against the simulated device:
the restart wait it uses by default, the sentence each outcome ends with, and
judged by what the simulated device holds (--sim-summary) as well as by the
human line, the exit code and the JSON result.

    console_station_test.py LUMARIS_UPDATE [UNITTEST ARGUMENT...]

Each case runs alone, e.g.
    console_station_test.py build/native/console/lumaris-update SlowRestart.test_the_default_wait_updates_it
"""
import json
import os
import re
import signal
import subprocess
import unittest

import console_harness as harness
from console_harness import QUICK, WordsAndJson, holds_image, run, run_json, untouched, written


class SlowRestart(WordsAndJson):
    """A device that takes 3 s to come back from its restart."""

    SLOW = ["--yes", "--restart-delay", "3000", *QUICK]

    def test_the_default_wait_updates_it(self):
        ran = run_json(self.SLOW)
        awaited = ran.of("restart_awaited")
        self.assertEqual((ran.code, ran.result["outcome"]), (0, "updated"))
        self.assertEqual(awaited[0]["end"], "bootloader-seen")
        self.assertGreaterEqual(awaited[0]["waited_ms"], 3000)
        self.assertTrue(holds_image(ran.summary), ran.sims)

    def test_the_window_programs_fixed_wait_gives_up_and_names_auto(self):
        lines, ran = self.words_and_json(["--restart-wait", "2000", *self.SLOW])
        result = ran.result
        self.assertEqual((ran.code, result["outcome"], result["device_state"]),
                         (1, "switched-device-missing", "unknown"))
        self.assertIn("when the 2000 ms wait ended: nothing was written; run the update again with "
                      "--restart-wait auto", lines[-1])
        self.assertEqual(written(ran.summary), 0, ran.sims)


class DeviceChoice(WordsAndJson):
    def test_quiet_still_lists_the_devices_its_last_line_refers_to(self):
        lines, ran = self.words_and_json(["-q", "--more-devices", "unknown,bootloader", *QUICK])
        self.assertEqual(ran.code, 2, ran.err)
        self.assertEqual(lines, ['device 0: "2021" (application)', 'device 1: "LX-7 sensor" (unknown)',
                                 'device 2: "ar5w2~" (bootloader)',
                                 "2 Lumaris devices are attached: choose one with --device N (N as listed above); "
                                 "nothing was written"])
        self.assertEqual(ran.result["outcome"], "device-choice-needed")
        self.assertEqual([e["index"] for e in ran.of("device_found")], [0, 1, 2])
        self.assertTrue(all(untouched(s) for s in ran.sims), ran.sims)


class Retries(WordsAndJson):
    def test_each_attempt_names_what_ended_the_one_before(self):
        # Packet 23 is the erase of page 14.
        lines, ran = self.words_and_json(["--yes", "--retries", "2", "--fault", "missing-reply:23", *QUICK])
        result = ran.result
        self.assertEqual((ran.code, result["outcome"], result["attempts"]), (0, "updated", 2))
        self.assertEqual([l for l in lines if l.startswith("attempt")],
                         ["attempt 2 of 3 after: no reply to the erase of page 14"])
        self.assertEqual([(a["attempt"], a["of"], a["cause"]) for a in ran.of("attempt")], [(2, 3, "no-reply")])
        self.assertTrue(holds_image(ran.summary), ran.sims)

    def test_quiet_puts_the_attempt_line_on_standard_error(self):
        code, out, err = run(["-q", "--yes", "--retries", "1", "--fault", "missing-reply:23", *QUICK])
        self.assertEqual((code, out), (0, "device runs firmware 1.00 (updated)\n"))
        self.assertIn("attempt 2 of 2 after: no reply to the erase of page 14\n", err)


class WaitDevice(WordsAndJson):
    def test_a_device_plugged_in_after_a_second_is_updated(self):
        lines, ran = self.words_and_json(["--wait-device", "--plug-in-after", "1000", "--yes", *QUICK])
        result = ran.result
        self.assertEqual((ran.code, result["outcome"]), (0, "updated"))
        self.assertEqual(lines[0], "waiting for a Lumaris device to be attached (Ctrl+C stops)")
        self.assertEqual({k: ran.events[0][k] for k in ("event", "device", "seconds")},
                         {"event": "waiting_for_device", "device": None, "seconds": None})
        self.assertGreaterEqual(result["elapsed_ms"], 1000)
        self.assertTrue(holds_image(ran.summary), ran.sims)

    def test_a_device_already_attached_starts_at_once(self):
        lines, ran = self.words_and_json(["--wait-device", "5", "--yes", *QUICK])
        self.assertEqual((ran.code, ran.result["outcome"]), (0, "updated"))
        self.assertFalse(ran.of("waiting_for_device"))
        self.assertFalse([l for l in lines if l.startswith("waiting")])

    def test_the_device_that_device_names_is_awaited_and_the_other_left_alone(self):
        _, ran = self.words_and_json(
            ["--wait-device", "10", "--device", "1", "--more-devices", "application+1000", "--yes", *QUICK])
        result, sims = ran.result, ran.sims
        self.assertEqual((ran.code, result["outcome"], result["device_index"]), (0, "updated", 1))
        self.assertEqual([(e["device"], e["seconds"]) for e in ran.of("waiting_for_device")], [(1, 10)])
        self.assertTrue(holds_image(sims[1]), sims)
        self.assertEqual((written(sims[0]), sims[0]["mode_switches"]), (0, 0), sims)

    def test_none_within_the_time_given_is_no_device(self):
        cases = [
            # name, args, last line
            ("no device at all", ["--no-device"], "no Lumaris device was attached within 2 s: nothing was written"),
            ("not device 1", ["--device", "1"], "no device 1 was attached within 2 s: nothing was written"),
        ]
        for name, args, line in cases:
            with self.subTest(name):
                lines, ran = self.words_and_json(["--wait-device", "2", *args, *QUICK])
                result = ran.result
                self.assertEqual((ran.code, result["outcome"], result["device_state"]), (1, "no-device", "none"))
                self.assertEqual(lines[-1], line)
                self.assertGreaterEqual(result["elapsed_ms"], 2000)
                self.assertTrue(all(written(s) == 0 and s["mode_switches"] == 0 for s in ran.sims
                                    if s["sim_device"] is not None), ran.sims)

    def test_usage_errors_name_the_option(self):
        cases = [
            (["--wait-device", "0"], '--wait-device: "0" is not a number of seconds in 1..86400'),
            (["--wait-device=86401"], '--wait-device: "86401" is not a number of seconds in 1..86400'),
            (["--wait-device", "5s"], '--wait-device: "5s" is not a number of seconds in 1..86400'),
            (["--list", "--wait-device"], "--wait-device conflicts with --list"),
            (["--wait-device", "--wait-device"], "--wait-device is given more than once"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                code, out, err = run([*args, "--no-device"])
                self.assertEqual((code, out), (2, ""))
                self.assertIn(message, err)

    def test_ctrl_c_while_waiting_ends_130_with_a_result(self):
        for form in ([], ["--json"]):
            with self.subTest(form=form or "words"):
                p = subprocess.Popen([harness.PROGRAM, *form, "--wait-device", "--no-device"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True)
                first = p.stdout.readline()  # the program says it waits: its stop handling is in place
                p.send_signal(signal.SIGINT)
                out, err = p.communicate(timeout=30)
                self.assertEqual(p.returncode, 130, err)
                last = out.splitlines()[-1]
                if form:
                    self.assertEqual(json.loads(first)["event"], "waiting_for_device")
                    result = json.loads(last)
                    self.assertEqual((result["event"], result["outcome"], result["exit_code"], result["device_state"]),
                                     ("result", "interrupted", 130, "none"))
                    last = result["message"]
                self.assertEqual(last, "interrupted while waiting for a device: nothing was written")


DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "console.md")


def read_docs():
    with open(DOCS, encoding="utf-8") as f:
        return f.read()


def help_options():
    """Each option line of --help: {name: (value placeholder or "", description)}."""
    code, out, _ = run(["--help"])
    assert code == 0
    options, current = {}, None
    for line in out.splitlines():
        head = re.match(r"  (-\S+(?: \S+)*?)(?: {2,}(.*)|$)", line)
        if head:
            current = []
            for part in re.split(r", | \| ", head.group(1)):
                name, _, value = part.partition(" ")
                options[name] = (value, current)
            current.append(head.group(2) or "")
        elif current is not None and line.startswith(" " * 24):
            current.append(line.strip())
        else:
            current = None
    return {name: (value, " ".join(text)) for name, (value, text) in options.items()}


def docs_options():
    """Each option of the command and option tables of docs/console.md, and of
    its list of the simulated device's options: {name: (placeholder, row)}."""
    text = read_docs()
    options = {}
    for row in re.findall(r"^\| (`-.*?)(?<!\\)\|(.*)$", text, re.M):
        for item in re.findall(r"`(-[^`]+)`", row[0]):
            name, _, value = item.replace("\\|", "|").partition(" ")
            options[name] = (value, row[1])
    sim = re.search(r"the options of the simulated device follow \(([^)]*)\)", text, re.S)
    for item in re.findall(r"`(-[^`]+)`", sim.group(1)):
        name, _, value = item.partition(" ")
        options[name] = (value, "")
    return options


class HelpAndDocs(unittest.TestCase):
    def test_every_option_of_help_is_in_the_docs_with_its_value_and_ranges(self):
        helped, documented = help_options(), docs_options()
        self.assertGreaterEqual(len(helped), 30, helped)
        self.assertEqual(sorted(helped), sorted(documented))
        for name, (value, description) in helped.items():
            with self.subTest(name):
                self.assertEqual(value, documented[name][0])
                if documented[name][1]:
                    for numbers in re.findall(r"\d+\.\.\d+", description):
                        self.assertIn(numbers, documented[name][1].replace(",", ""))

    def test_the_second_ctrl_c_is_worded_alike(self):
        _, out, _ = run(["--help"])
        docs = read_docs()
        for text in (" ".join(out.split()), " ".join(docs.split())):
            self.assertIn("a second one stops after the current exchange", text)
            self.assertNotIn("stops at once", text)
        self.assertNotIn("(new)", out)


if __name__ == "__main__":
    harness.main("LUMARIS_UPDATE")
