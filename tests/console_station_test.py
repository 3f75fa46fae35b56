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


class SlowRestart(unittest.TestCase):
    """A device that takes 3 s to come back from its restart."""

    SLOW = ["--yes", "--restart-delay", "3000", *QUICK]

    def test_the_default_wait_updates_it(self):
        code, events, sims = run_json(self.SLOW)
        awaited = [e for e in events if e["event"] == "restart_awaited"]
        self.assertEqual((code, events[-1]["outcome"]), (0, "updated"))
        self.assertEqual(awaited[0]["end"], "bootloader-seen")
        self.assertGreaterEqual(awaited[0]["waited_ms"], 3000)
        self.assertTrue(holds_image(sims[0]), sims)

    def test_the_window_programs_fixed_wait_gives_up_and_writes_nothing(self):
        code, events, sims = run_json(["--restart-wait", "2000", *self.SLOW])
        result = events[-1]
        self.assertEqual((code, result["exit_code"], result["outcome"], result["device_state"]),
                         (1, 1, "switched-device-missing", "unknown"))
        self.assertEqual(written(sims[0]), 0, sims)


if __name__ == "__main__":
    PROGRAM = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)
