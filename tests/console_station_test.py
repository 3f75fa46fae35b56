#!/usr/bin/python3
"""The console program at a station, end to end against the simulated device:
the restart wait it uses by default, the sentence each outcome ends with, and
judged by what the simulated device holds (--sim-summary) as well as by the
human line, the exit code and the JSON result.

    console_station_test.py LUMARIS_UPDATE [TEST_NAME...]

Each case runs alone, e.g.
    console_station_test.py build/native/console/lumaris-update SlowRestart.test_the_default_wait_updates_it
"""
import json
import subprocess
import sys
import unittest

PROGRAM = None
# A device that answers at once: only the restart takes time.
QUICK = ["--reply-delay", "0", "--erase-delay", "0"]


def run(args, timeout=60):
    p = subprocess.run([PROGRAM, *args], stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def run_json(args, timeout=60):
    """Exit code, JSON events, the simulated devices' summaries."""
    code, out, err = run(["--json", "--sim-summary", *args], timeout)
    events = [json.loads(line) for line in out.splitlines()]
    sims = [json.loads(line) for line in err.splitlines() if line.startswith('{"sim_device"')]
    return code, events, sims


def holds_image(sim):
    return sim["signature_valid"] and sim["pages_matching_image"] == sim["image_pages"]


def written(sim):
    return sim["flash_key_packets"] + sim["erase_packets"] + sim["halves_written"] + sim["signature_packets"]


class StationCase(unittest.TestCase):
    def words_and_json(self, args):
        """Runs `args` in words and in JSON: the same exit code, and the last
        line in words is the JSON result's message. Returns the lines in
        words, the JSON events and the devices' summaries."""
        code, out, _ = run(args)
        json_code, events, sims = run_json(args)
        lines = out.splitlines()
        result = events[-1]
        self.assertEqual(result["event"], "result")
        self.assertEqual((code, result["exit_code"]), (json_code, json_code), (lines[-1:], result))
        self.assertEqual(lines[-1], result["message"])
        return code, lines, result, events, sims


class SlowRestart(StationCase):
    """A device that takes 3 s to come back from its restart."""

    SLOW = ["--yes", "--restart-delay", "3000", *QUICK]

    def test_the_default_wait_updates_it(self):
        code, events, sims = run_json(self.SLOW)
        awaited = [e for e in events if e["event"] == "restart_awaited"]
        self.assertEqual((code, events[-1]["outcome"]), (0, "updated"))
        self.assertEqual(awaited[0]["end"], "bootloader-seen")
        self.assertGreaterEqual(awaited[0]["waited_ms"], 3000)
        self.assertTrue(holds_image(sims[0]), sims)

    def test_the_window_programs_fixed_wait_gives_up_and_names_auto(self):
        code, lines, result, _, sims = self.words_and_json(["--restart-wait", "2000", *self.SLOW])
        self.assertEqual((code, result["outcome"], result["device_state"]), (1, "switched-device-missing", "unknown"))
        self.assertIn("when the 2000 ms wait ended: nothing was written; run the update again with "
                      "--restart-wait auto", lines[-1])
        self.assertEqual(written(sims[0]), 0, sims)


class DeviceChoice(StationCase):
    def test_quiet_still_lists_the_devices_its_last_line_refers_to(self):
        args = ["--more-devices", "unknown,bootloader", *QUICK]
        code, out, err = run(["-q", *args])
        lines = out.splitlines()
        self.assertEqual(code, 2, err)
        self.assertEqual(lines, ['device 0: "2021" (application)', 'device 1: "LX-7 sensor" (unknown)',
                                 'device 2: "ar5w2~" (bootloader)',
                                 "2 Lumaris devices are attached: choose one with --device N (N as listed above); "
                                 "nothing was written"])
        json_code, events, sims = run_json(["-q", *args])
        self.assertEqual((json_code, events[-1]["outcome"], events[-1]["message"]),
                         (2, "device-choice-needed", lines[-1]))
        self.assertEqual([e["index"] for e in events if e["event"] == "device_found"], [0, 1, 2])
        self.assertTrue(all(written(s) == 0 and s["mode_switches"] == 0 for s in sims), sims)


class Retries(StationCase):
    def test_each_attempt_names_what_ended_the_one_before(self):
        # Packet 23 is the erase of page 14.
        code, lines, result, events, sims = self.words_and_json(
            ["--yes", "--retries", "2", "--fault", "missing-reply:23", *QUICK])
        self.assertEqual((code, result["outcome"], result["attempts"]), (0, "updated", 2))
        self.assertEqual([l for l in lines if l.startswith("attempt")],
                         ["attempt 2 of 3 after: no reply to the erase of page 14"])
        attempts = [e for e in events if e["event"] == "attempt"]
        self.assertEqual([(a["attempt"], a["of"], a["cause"]) for a in attempts], [(2, 3, "no-reply")])
        self.assertTrue(holds_image(sims[0]), sims)

    def test_quiet_puts_the_attempt_line_on_standard_error(self):
        code, out, err = run(["-q", "--yes", "--retries", "1", "--fault", "missing-reply:23", *QUICK])
        self.assertEqual((code, out), (0, "device runs firmware 1.00 (updated)\n"))
        self.assertIn("attempt 2 of 2 after: no reply to the erase of page 14\n", err)


if __name__ == "__main__":
    PROGRAM = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)
