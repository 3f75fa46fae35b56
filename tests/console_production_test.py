#!/usr/bin/python3
"""The console program's production-line options end to end against the simulated device:
device choice with several devices, the cause of each failure, --log (also after SIGKILL),
--label, --retries, --skip-current, and the usage errors and small cases around them.

    console_production_test.py LUMARIS_UPDATE [UNITTEST ARGUMENT...]
"""
import json
import os
import re
import signal
import subprocess
import unittest

import console_harness as harness
from console_harness import FAST, STEADY, InScratchFolder, run, run_json, untouched, written


class DeviceChoice(unittest.TestCase):
    """--device among several devices: only the chosen one changes."""

    def test_several_devices_and_no_choice_touch_none(self):
        for more in ("application", "bootloader,application"):
            with self.subTest(more):
                ran = run_json(["--more-devices", more] + FAST)
                self.assertTrue(ran.code == 2 and ran.result["outcome"] == "device-choice-needed"
                                and "--device" in ran.result["message"]
                                and all(written(s) == 0 and s["mode_switches"] == 0 for s in ran.sims),
                                f"no --device with {more}: exit {ran.code}, {ran.result}, {ran.sims}")
                self.assertEqual([e["index"] for e in ran.of("device_found")], list(range(len(ran.sims))),
                                 f"no --device with {more}: the devices are listed")

    def test_device_1_of_two(self):
        ran = run_json(["--device", "1", "--more-devices", "application"] + FAST)
        sims = ran.sims
        self.assertTrue(ran.code == 0 and ran.result["device_index"] == 1 and written(sims[0]) == 0
                        and sims[0]["mode_switches"] == 0
                        and sims[1]["signature_valid"] and sims[1]["pages_matching_image"] == sims[1]["image_pages"],
                        f"--device 1: exit {ran.code}, {sims}")

    def test_device_2_of_three(self):
        ran = run_json(["--device", "2", "--more-devices", "unknown,application:0x83:0.80"] + FAST)
        sims = ran.sims
        self.assertTrue(ran.code == 0 and written(sims[0]) == written(sims[1]) == 0 and sims[2]["signature_valid"]
                        and ran.result["device_index"] == 2, f"--device 2 of three: exit {ran.code}, {sims}")

    def test_beside_a_bootloader_nothing_restarts(self):
        # Device 1 waits in its bootloader: device 2, in its application, is not restarted beside it, as the two
        # could not be told apart afterwards.
        ran = run_json(["--device", "2", "--more-devices", "bootloader,application:0x83:0.80"] + FAST)
        self.assertTrue(ran.code == 2 and ran.result["outcome"] == "another-bootloader-present"
                        and "--device 1" in ran.result["message"]
                        and all(written(s) == 0 and s["mode_switches"] == 0 and s["run_commands"] == 0
                                for s in ran.sims),
                        f"--device 2 beside a bootloader: exit {ran.code}, {ran.result}, {ran.sims}")

    def test_choosing_the_bootloader_updates_it(self):
        ran = run_json(["--device", "1", "--more-devices", "bootloader,application:0x83:0.80"] + FAST)
        sims = ran.sims
        self.assertTrue(ran.code == 0 and sims[1]["signature_valid"] and written(sims[0]) == written(sims[2]) == 0
                        and sims[0]["mode_switches"] == sims[2]["mode_switches"] == 0,
                        f"--device 1, the bootloader: exit {ran.code}, {sims}")

    def test_device_12_of_13(self):
        # A bus of many devices, each with its own kind, type and version: only the one chosen changes.
        more = ",".join(["application"] * 9 + ["application:0x84:2.00", "unknown", "application:0x83:0.80"])
        ran = run_json(["--device", "12", "--more-devices", more] + FAST)
        sims = ran.sims
        self.assertTrue(len(sims) == 13 and ran.code == 0 and ran.result["device_index"] == 12
                        and [i for i, s in enumerate(sims) if written(s) or s["mode_switches"]] == [12]
                        and sims[12]["pages_matching_image"] == sims[12]["image_pages"],
                        f"--device 12 of 13: exit {ran.code}, {[(i, written(s)) for i, s in enumerate(sims)]}")

    def test_a_fault_belongs_to_its_device(self):
        # One on the bystander leaves the update alone, one on the chosen device ends it with its cause.
        for fault, want_code in (("late-reply:7@0", 0), ("late-reply:7@1", 4)):
            with self.subTest(fault):
                ran = run_json(["--device", "1", "--more-devices", "application", "--fault", fault] + FAST)
                failure, sims = ran.of("failure"), ran.sims
                self.assertTrue(ran.code == want_code and written(sims[0]) == 0
                                and (want_code == 0) == sims[1]["signature_valid"]
                                and (want_code == 0 or failure[0]["cause"] == "no-reply"),
                                f"--fault {fault} with --device 1: exit {ran.code}, {failure[:1]}, {sims}")

    def test_a_bootloader_plugged_in_during_the_restart(self):
        # Which is which cannot be told, and neither gets the flash key.
        ran = run_json(["--more-devices", "bootloader+100", "--restart-delay", "200", "--restart-wait", "400"]
                       + FAST[:4])
        self.assertTrue(ran.code == 1 and ran.result["outcome"] == "bus-changed-during-restart"
                        and all(written(s) == 0 for s in ran.sims) and ran.sims[0]["mode_switches"] == 1,
                        f"a bootloader plugged in during the restart: exit {ran.code}, {ran.result}, {ran.sims}")

    def test_an_unknown_device_is_refused(self):
        ran = run_json(["--device", "1", "--more-devices", "unknown"] + FAST)
        self.assertTrue(ran.code == 1 and ran.result["outcome"] == "unknown-device",
                        f"--device on an unknown device: {ran.result}")

    def test_a_device_that_is_not_there(self):
        ran = run_json(["--device", "5"] + FAST)
        self.assertTrue(ran.code == 1 and ran.result["outcome"] == "no-device"
                        and "device 5" in ran.result["message"], f"--device 5: {ran.result}")

    def test_list_with_nothing_attached(self):
        code, out, _ = run(["--list", "--no-device"])
        self.assertEqual((code, out), (0, "no devices attached\n"), "--list, nothing attached")


# fault, exit code, failure object (subset), words of the human line
CAUSES = [
    ("late-reply:7", 4, {"command": "erase-page", "page": 10, "page_index": 1, "cause": "no-reply", "window_ms": 100},
     "page 10 (1 of 53): no reply to the erase within 100 ms"),
    ("bad-ack:7", 4, {"command": "erase-page", "cause": "bad-reply", "byte": "0x01"}, "reply 0x01 to the erase"),
    ("short-read:2", 1, {"command": "get-info", "page": None, "cause": "short-read"},
     "the reply to the identification request came short"),
    ("fail-status:8", 4, {"command": "write-half 0", "page": 10, "cause": "write-failed"},
     "page 10 (1 of 53): the first half's write could not be sent"),
    ("vanish:40", 4, {"cause": "device-gone"}, "the device left the bus"),
    ("wrong-checksum:21", 4, {"command": "write-half 1", "page": 13, "page_index": 4, "cause": "checksum-mismatch"},
     "page 13 (4 of 53): checksum 0x"),
    ("missing-reply:3", 1, {"command": "flash-key", "cause": "no-reply"}, "no reply to the flash key within 100 ms"),
    ("fail-read:5", 4, {"command": "erase-page", "page": 62, "page_index": None, "cause": "read-failed"},
     "page 62: the reply to the erase could not be read"),
]


class FailureCauses(unittest.TestCase):
    def test_each_fault_names_its_cause(self):
        for fault, want_code, want, words in CAUSES:
            with self.subTest(fault):
                ran = run_json(["--fault", fault] + FAST)
                failure, result = ran.of("failure"), ran.events[-1]
                self.assertTrue(ran.code == want_code and result["exit_code"] == ran.code,
                                f"{fault}: exit {ran.code}, the result's {result['exit_code']}")
                self.assertTrue(failure and all(failure[0].get(k) == v for k, v in want.items())
                                and result["failure"] == {k: v for k, v in failure[0].items()
                                                          if k not in ("event", "t_ms", "run_id")},
                                f"{fault}: failure {failure[:1]}, result {result.get('failure')}")
                _, out, _ = run(["--fault", fault] + FAST)
                self.assertIn(words, out, f"{fault}: the human line")


class RunLog(InScratchFolder):
    """--log: the run's lines, appended, whole after SIGKILL; one that cannot be opened."""

    def test_the_log_holds_every_event_and_the_next_run_is_appended(self):
        log = os.path.join(self.folder, "line.jsonl")
        ran = run_json(["--log", log, "--label", "SN-0042"] + FAST)
        with open(log) as f:
            lines = [json.loads(l) for l in f]
        self.assertTrue(ran.code == 0 and lines[0]["event"] == "run_started" and lines[0]["label"] == "SN-0042"
                        and re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", lines[0]["utc"])
                        and lines[0]["options"][:2] == ["--json", "--sim-summary"]
                        and lines[1:] == [{**e} for e in lines[1:]] and lines[-1]["event"] == "result"
                        and lines[-1]["label"] == "SN-0042" and lines[-1]["device_index"] == 0
                        and lines[-1]["image_sha256"] == lines[0]["image_sha256"], f"--log: {lines[:1]} {lines[-1:]}")
        self.assertEqual([e["event"] for e in lines[1:]], [e["event"] for e in ran.events],
                         "--log holds every event shown")
        # Human output on the screen, the log still complete.
        code, _, _ = run(["--log", log] + FAST)
        with open(log) as f:
            self.assertTrue(code == 0 and sum(1 for l in f if '"run_started"' in l) == 2,
                            f"--log appends a second run: exit {code}")

    def test_every_line_is_json_after_sigkill(self):
        # Killed at a packet: every line of the log is JSON.
        killed = os.path.join(self.folder, "killed.jsonl")
        p = subprocess.Popen([harness.PROGRAM, "--json", "--log", killed, "--reply-delay", "2", "--erase-delay", "5",
                              "--restart-wait", "auto"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        with p:
            for line in p.stdout:
                if '"page_programmed"' in line and '"index":10,' in line:
                    p.send_signal(signal.SIGKILL)
                    break
            p.wait(timeout=60)
        with open(killed) as f:
            text = f.read()
        self.assertTrue(p.returncode == -signal.SIGKILL and text.endswith("\n")
                        and all(json.loads(l) for l in text.splitlines()) and '"index":10,' in text,
                        f"--log after SIGKILL: exit {p.returncode}, {text[-200:]!r}")

    def test_a_log_that_cannot_be_opened_stops_before_the_device(self):
        # Exit 2 before the device is touched.
        code, out, err = run(["--log", os.path.join(self.folder, "no", "such.jsonl"), "--sim-summary"] + FAST)
        self.assertTrue(code == 2 and out == "" and "No such file or directory" in err and "sim_device" not in err,
                        f"unwritable log: {code} {err!r}")


class Retries(unittest.TestCase):
    def test_a_late_reply_is_retried(self):
        ran = run_json(["--retries", "2", "--fault", "late-reply:7"] + FAST)
        attempts = ran.of("attempt")
        self.assertTrue(ran.code == 0 and ran.result["attempts"] == 2 and len(attempts) == 1
                        and attempts[0]["cause"] == "no-reply" and ran.sims[0]["signature_valid"],
                        f"--retries 2 late reply: exit {ran.code}, {attempts}, {ran.result}")

    def test_a_refused_image_is_not_retried(self):
        ran = run_json(["--retries", "2", "--type", "0x84"] + FAST)
        self.assertTrue(ran.code == 1 and ran.result["attempts"] == 1 and not ran.of("attempt"),
                        f"a refused image is retried: {ran.result}")

    def test_a_checksum_mismatch_is_not_retried(self):
        ran = run_json(["--retries", "2", "--fault", "wrong-checksum:21"] + FAST)
        self.assertTrue(ran.code == 4 and ran.result["attempts"] == 1, f"a checksum mismatch is retried: {ran.result}")

    def test_a_failed_retry_keeps_what_the_first_attempt_left(self):
        # The device vanishes half-way: the retry finds no device at all, and the result must still say that the
        # first attempt left it without a valid application (exit 4), not merely that the second one failed.
        ran = run_json(["--retries", "1", "--fault", "vanish:40"] + FAST)
        self.assertTrue(ran.code == 4 and ran.result["exit_code"] == 4
                        and ran.result["device_state"] == "no-valid-application"
                        and not ran.sims[0]["signature_valid"],
                        f"a failed retry hides the broken device: exit {ran.code}, {ran.result}")

    def test_a_retry_that_fails_before_writing_keeps_exit_4(self):
        # Attempt 1 erases the unit and loses a reply (packet 150); attempt 2 fails at its first packet, the
        # identification request, before it writes anything. What attempt 2 found (no-bootloader, exit 1) must
        # not hide what attempt 1 left: a unit without a valid application, exit 4.
        ran = run_json(["--yes", "--retries", "1", "--fault", "missing-reply:150,fail-status:151@0"] + FAST)
        result, sim = ran.result, ran.sims[0]
        self.assertTrue(ran.code == 4 and result["exit_code"] == 4 and result["outcome"] == "programming-failed"
                        and result["device_state"] == "no-valid-application" and result["attempts"] == 2
                        and "since attempt 1" in result["message"] and len(ran.of("attempt")) == 1,
                        f"a retry that fails before writing: exit {ran.code}, {result}")
        self.assertTrue(not sim["signature_valid"] and sim["flash_changed"] and sim["flash_key_packets"] == 1
                        and sim["fault"]["acted"],
                        f"attempt 1 alone wrote to the unit, and attempt 2 met its fault: {sim}")

    def test_the_installed_version_is_the_one_from_before_the_run(self):
        # Attempt 1 erases the unit and attempt 2 finds no version on it: the result keeps the version the unit
        # held before the run.
        ran = run_json(["--retries", "1", "--fault", "missing-reply:150"] + FAST)
        self.assertTrue(ran.code == 0 and ran.result["attempts"] == 2 and ran.result["installed_version"] == "0.90"
                        and ran.result["device_type"] == "0x83" and ran.sims[0]["signature_valid"],
                        f"installed_version after a retry: exit {ran.code}, {ran.result}")

    def test_each_attempt_is_announced_after_the_one_before(self):
        # Each attempt after the first is announced with its own number, after what the one before it showed.
        ran = run_json(["-v", "--retries", "2", "--fault", "late-reply:7"] + FAST)
        kinds = [e["event"] for e in ran.events]
        attempts = ran.of("attempt")
        self.assertTrue(ran.code == 0 and [(a["attempt"], a["of"]) for a in attempts] == [(2, 3)],
                        f"--retries 2, one late reply: exit {ran.code}, attempts announced {attempts}")
        first = kinds[:kinds.index("attempt")] if "attempt" in kinds else kinds
        self.assertTrue("box" in first and "failure" in first,
                        f"--retries: the first attempt's box is written before the next attempt starts: {kinds}")


class SkipCurrent(unittest.TestCase):
    def test_the_same_version_is_left_alone(self):
        ran = run_json(["--skip-current", "--installed", "1.00"] + FAST)
        self.assertTrue(ran.code == 0 and ran.result["outcome"] == "current" and written(ran.sims[0]) == 0
                        and ran.sims[0]["run_commands"] == 1, f"--skip-current: {ran.result}, {ran.sims}")

    def test_without_it_the_same_version_is_written(self):
        ran = run_json(["--installed", "1.00"] + FAST)
        self.assertTrue(ran.code == 0 and ran.result["outcome"] == "updated" and ran.sims[0]["halves_written"] > 0,
                        f"same version, no skip: {ran.result}")

    def test_check_names_the_same_version(self):
        for extra in ([], ["--skip-current"]):
            with self.subTest(extra=extra):
                code, out, _ = run(["--check", "--installed", "1.00"] + extra + FAST)
                self.assertTrue(code == 0 and "same version installed" in out, f"--check {extra}: {out!r}")


class Reproductions(unittest.TestCase):
    """Runs that once wrote to, or started, a unit that was not chosen, or called an erased unit untouched."""

    def test_a_retry_after_the_unit_left_takes_no_other_unit(self):
        # With several on the bus it cannot be proven which one is the chosen one.
        for args in (["--more-devices", "application,application", "--device", "1", "--fault", "vanish:100@1",
                      "--retries", "1", "--yes", "--restart-wait", "auto", "--label", "SN-0042"],
                     ["--bootloader", "--more-devices", "bootloader,application,application:0x83:2.00", "--device",
                      "0", "--fault", "vanish:191@0", "--retries", "3", "--label", "SN-0042"]):
            with self.subTest(args=args):
                ran = run_json(args + STEADY)
                chosen = int(args[args.index("--device") + 1])
                result = ran.result
                self.assertTrue(ran.code == 4 and result["outcome"] == "programming-failed"
                                and result["device_state"] == "no-valid-application"
                                and result["label"] == "SN-0042" and result["attempts"] == 1
                                and all(untouched(s) for i, s in enumerate(ran.sims) if i != chosen),
                                f"{args}: exit {ran.code}, {result}, {ran.sims}")

    def test_erased_then_a_second_unit_the_result_says_what_attempt_1_left(self):
        # Erased by attempt 1; a unit plugged in meanwhile: the retry cannot tell the two apart, and the result
        # says what attempt 1 left (exit 4), not a device choice.
        ran = run_json(["--fault", "missing-reply:150", "--retries", "1", "--restart-wait", "auto",
                        "--more-devices", "bootloader+800"] + STEADY)
        self.assertTrue(ran.code == 4 and ran.result["outcome"] == "programming-failed"
                        and ran.result["device_state"] == "no-valid-application" and untouched(ran.sims[1])
                        and not ran.of("attempt"),
                        f"erased, then a second unit: exit {ran.code}, {ran.result}, {ran.sims}")

    def test_a_unit_plugged_in_during_the_fixed_wait(self):
        # The same with the fixed wait: the unit arrives during the wait, and nothing is written at all.
        ran = run_json(["--fault", "missing-reply:150", "--retries", "1", "--restart-wait", "2000",
                        "--more-devices", "bootloader+1200"] + STEADY)
        self.assertTrue(ran.code == 1 and ran.result["outcome"] == "bus-changed-during-restart"
                        and all(written(s) == 0 for s in ran.sims) and untouched(ran.sims[1]),
                        f"a unit plugged in during the fixed wait: exit {ran.code}, {ran.result}")

    def test_a_bootloader_before_the_run(self):
        # A bootloader waits before the run: the chosen unit in its application is not restarted beside it.
        ran = run_json(["--more-devices", "bootloader,application+300", "--device", "0", "--yes",
                        "--restart-wait", "auto"])
        self.assertTrue(ran.code == 2 and ran.result["outcome"] == "another-bootloader-present"
                        and all(untouched(s) for s in ran.sims),
                        f"a bootloader before the run: exit {ran.code}, {ran.result}")

    def test_a_newcomer_during_a_long_restart(self):
        # The chosen unit takes longer than the fixed wait and a fresh unit comes meanwhile: the newcomer cannot
        # be told from it, but the chosen unit's return during the update keeps the run from saying "updated".
        ran = run_json(["--yes", "--more-devices", "bootloader+1000", "--restart-delay", "2500",
                        "--restart-wait", "2000", "--label", "SN-0043"] + STEADY)
        self.assertTrue(ran.code == 5 and ran.result["outcome"] == "bus-changed-during-update"
                        and written(ran.sims[0]) == 0 and ran.result["label"] == "SN-0043"
                        and "may not be the chosen one" in ran.result["message"],
                        f"a newcomer during a long restart: exit {ran.code}, {ran.result}")

    def test_selecting_the_signature_page_fails(self):
        # Nothing was erased, so exit 1, and the device keeps its application.
        for fault in ("fail-status:4", "bad-ack:4"):
            with self.subTest(fault):
                ran = run_json(["--fault", fault] + FAST)
                self.assertTrue(ran.code == 1 and ran.result["outcome"] == "failed"
                                and ran.result["device_state"] == "bootloader-application-kept"
                                and ran.sims[0]["erase_packets"] == 0 and ran.sims[0]["signature_valid"],
                                f"{fault}: exit {ran.code}, {ran.result}")

    def test_a_failed_mode_switch_ends_the_run(self):
        # The mode switch's write fails: nothing restarts, and the run ends there, without a second switch.
        ran = run_json(["--fault", "fail-status:1"] + FAST)
        self.assertTrue(ran.code == 1 and ran.result["outcome"] == "no-bootloader"
                        and "could not be asked to restart" in ran.result["message"]
                        and not ran.of("restart_requested") and untouched(ran.sims[0]),
                        f"a failed mode switch: exit {ran.code}, {ran.result}, {ran.sims}")

    def test_device_2_unknown_is_named(self):
        ran = run_json(["--device", "2", "--more-devices", "application,unknown"] + FAST)
        self.assertTrue(ran.code == 1 and ran.result["outcome"] == "unknown-device"
                        and ran.result["message"].startswith('device 2 ("LX-7 sensor") is not a Lumaris device'),
                        f"--device 2 unknown: {ran.result}")


class DeviceGone(unittest.TestCase):
    """The chosen device leaves the bus half-way with --retries."""

    def test_a_device_that_left_is_not_retried(self):
        # One, two and three devices, --retries 2.
        for more in ([], ["--more-devices", "application"], ["--more-devices", "application,application"]):
            chosen = len(more and more[1].split(","))
            with self.subTest(devices=chosen + 1):
                args = ["--fault", f"vanish:100@{chosen}", "--retries", "2"] + (["--device", str(chosen)] if more
                                                                              else [])
                ran = run_json(args + more + FAST)
                self.assertTrue(ran.code == 4 and ran.result["device_state"] == "no-valid-application"
                                and not ran.of("attempt")
                                and all(untouched(s) for i, s in enumerate(ran.sims) if i != chosen),
                                f"device-gone with {len(ran.sims)} device(s): exit {ran.code}, {ran.result}, "
                                f"{ran.sims}")

    def test_a_lost_reply_keeps_the_device_and_is_retried(self):
        # Lost replies keep the device on the bus: with two devices the retry proves it and updates it.
        ran = run_json(["--device", "1", "--more-devices", "application", "--fault", "late-reply:7@1",
                        "--retries", "1"] + FAST)
        self.assertTrue(ran.code == 0 and ran.result["attempts"] == 2 and untouched(ran.sims[0])
                        and ran.sims[1]["signature_valid"],
                        f"a lost reply with two devices: exit {ran.code}, {ran.result}")


# When a device is plugged in, in ms after the restart wait began (it begins about 100 ms after the start,
# once the mode switch's reply window has passed); the chosen device is off the bus from then for 500 ms.
HOT_PLUG_MS = (100, 300, 1000, 2500)
HOT_PLUG = [(kind, ms, wait) for kind in ("bootloader", "application", "unknown") for ms in HOT_PLUG_MS
            for wait in ("auto", "2000")]


class HotPlug(unittest.TestCase):
    def test_a_unit_plugged_in_during_a_restart(self):
        runs = harness.started(lambda case: run_json(["--yes", "--restart-wait", case[2], "--more-devices",
                                                      f"{case[0]}+{case[1] + 100}", "--label", "SN-7"] + STEADY),
                               HOT_PLUG)
        for case, ran in zip(HOT_PLUG, runs):
            with self.subTest(kind=case[0], after_ms=case[1], wait=case[2]):
                self.judge(*case, ran.result())

    def judge(self, kind, after_ms, wait, ran):
        code, sims, result = ran.code, ran.sims, ran.result
        what = f"{kind} at {after_ms} ms, --restart-wait {wait}: exit {code}, {result['outcome']}, {sims}"
        self.assertEqual(result["exit_code"], code, what)
        # Never "updated" unless the chosen unit holds the image and the newcomer is untouched.
        if result["outcome"] == "updated":
            self.assertTrue(sims[0]["signature_valid"] and sims[0]["pages_matching_image"] == sims[0]["image_pages"]
                            and untouched(sims[1]), what)
        # The newcomer is written only where it cannot be told from the chosen unit: a bootloader that came
        # while the chosen unit was away, with nothing else on the bus; and then the run does not say updated.
        if written(sims[1]):
            self.assertTrue(kind == "bootloader" and after_ms < 500 and result["outcome"] != "updated" and code != 0,
                            what)
        self.assertTrue(sims[1]["run_commands"] == 0 or written(sims[1]), what)
        away = after_ms < 500  # the chosen unit is off the bus
        if kind != "bootloader" and away:
            self.assertTrue(result["outcome"] == "bus-changed-during-restart" and code == 1
                            and all(written(s) == 0 for s in sims), what)
        if wait == "2000" and after_ms < 2000:
            # The fixed wait watches to its end: nothing is written to any unit.
            self.assertTrue(result["outcome"] == "bus-changed-during-restart" and all(written(s) == 0 for s in sims),
                            what)
            # Back and still the one bootloader: the chosen unit is sent back to its application.
            if not away and kind != "bootloader":
                self.assertTrue(result["device_state"] == "kept-application" and sims[0]["run_commands"] == 1, what)
        if after_ms == 2500 and wait == "auto":
            self.assertTrue(untouched(sims[1]), what)


USAGE = [
    ["--help", "--json"], ["--type", "0x10000000000000083"], ["--retries", "6"], ["--device", "x"],
    ["--list", "--device", "1"], ["--no-device", "--installed", "2.00"], ["--no-device", "--more-devices", "bootloader"],
    ["--check", "--retries", "1"], ["--log", ""],
]


class OptionValues(unittest.TestCase):
    """Usage errors of the production options and the edges of their values."""

    def test_each_bad_command_line_is_refused_on_one_line(self):
        for args in USAGE:
            with self.subTest(args=args):
                code, out, err = run(args)
                self.assertTrue(code == 2 and out == "" and len(err.splitlines()) == 1,
                                f"{args}: exit {code}, {err!r}")

    def test_a_restart_wait_of_60000_is_taken(self):
        code, _, err = run(["--check", "--restart-wait", "60000", "--no-device"])
        self.assertTrue(code == 1 and "60000" not in err, f"--restart-wait 60000 refused: {err!r}")

    def test_the_first_value_beyond_each_bound_is_refused(self):
        for args in (["--label", ""], ["--retries", "6"], ["--device", "128"], ["--device", "0x80"],
                     ["--list", "--skip-current"]):
            with self.subTest(args=args):
                code, out, err = run(args)  # alone: FAST's --restart-wait would conflict with --list by itself
                self.assertTrue(code == 2 and out == "" and len(err.splitlines()) == 1,
                                f"{args} accepted: exit {code}, {err!r}")

    def test_the_last_value_within_each_bound_is_taken(self):
        ran = run_json(["--retries", "5"] + FAST)
        self.assertTrue(ran.code == 0 and ran.result["outcome"] == "updated",
                        f"--retries 5 refused: exit {ran.code}, {ran.result}")
        for device in ("127", "0x7F"):
            with self.subTest(device=device):
                ran = run_json(["--device", device] + FAST)
                self.assertTrue(ran.code == 1 and ran.result["outcome"] == "no-device"
                                and written(ran.sims[0]) == 0, f"--device {device}: exit {ran.code}, {ran.result}")


if __name__ == "__main__":
    harness.main("LUMARIS_UPDATE")
