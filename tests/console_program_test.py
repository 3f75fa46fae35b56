#!/usr/bin/python3
"""The console program end to end against the simulated device, on the real clock.

Each update case runs with --json and --sim-summary: the JSON lines must all
parse, the result must follow from the events before it, and it must agree
with what the simulated device's flash holds and which packets it was sent
(the summary line on standard error). Then the human output (progress lines,
the progress bar on a terminal, -q, -v), --list, --info (its SHA-256 against
one computed here from the HEX file), --version, --help and usage errors.

    console_program_test.py LUMARIS_UPDATE FIRMWARE_HEX [UNITTEST ARGUMENT...]
"""
import hashlib
import os
import pty
import re
import subprocess
import unittest

import console_harness as harness
from console_harness import FAST, on_terminal, run, terminal_lines


def run_json(args):
    # -v: the window program's boxes and texts too, which some checks look at.
    return harness.run_json(["-v"] + args)


# ---------------------------------------------------------------- updates, JSON

# args, exit code, outcome, device_state at the end, and what the simulated
# device must show: "image" (holds the image, signature valid), "untouched"
# (flash unchanged, no flash key, erase, page or signature packet),
# "key-only" (the flash key and nothing more) or "broken" (no valid
# signature).
UPDATED = [
    ([], 0, "updated", "runs-image", "image"),
    (["--bootloader"], 0, "updated", "runs-image", "image"),
    (["--yes", "--installed", "2.00"], 0, "updated", "runs-image", "image"),
]
DECLINED = [
    (["--no", "--installed", "2.00"], 3, "declined", "kept-application", "untouched"),
    (["--installed", "0x0200"], 3, "declined", "kept-application", "untouched"),  # no terminal: No
    (["--no", "--installed", "2.00", "--no-valid-app"], 1, "declined", "no-valid-application", "untouched"),
]
# A refused image over a valid application sends the run command: the device runs its old firmware again.
REFUSED = [
    (["--type", "0x84"], 1, "refused", "kept-application", "untouched"),
    (["--type", "0x84", "--bootloader"], 1, "refused", "kept-application", "untouched"),
    (["--type", "0x84", "--no-valid-app"], 1, "refused", "no-valid-application", "untouched"),
]
NO_DEVICE = [
    (["--no-device"], 1, "no-device", "none", None),
    (["--check", "--no-device"], 1, "no-device", "none", None),
]
# Packets: 1 the mode switch, 2 the info, 3 the flash key, 4 and 5 the
# signature page's select and erase, then four a page (select, erase,
# two halves), the checksum coming with the second half.
FAULTS = [
    (["--fault", "wrong-checksum:21"], 4, "programming-failed", "no-valid-application", "broken"),
    (["--fault", "vanish:40"], 4, "programming-failed", "no-valid-application", "broken"),
    (["--fault", "missing-reply:2"], 1, "no-bootloader", "unchanged", "untouched"),
    (["--fault", "bad-ack:3"], 1, "failed", "bootloader-application-kept", "key-only"),
]
# The run command after a No fails: the device waits in its bootloader; neither 0 nor 3 claims more.
RUN_NOT_SENT = [
    (["--installed", "2.00", "--no", "--fault", "fail-status:3"], 1, "run-not-sent", "bootloader-application-kept",
     "untouched"),
    (["--check", "--fault", "fail-status:3"], 1, "run-not-sent", "bootloader-application-kept", "untouched"),
]
CHECKS = [
    (["--check"], 0, "would-program", "kept-application", "untouched"),
    (["--check", "--installed", "2.00"], 3, "would-ask", "kept-application", "untouched"),
    (["--check", "--type", "0x84"], 1, "would-refuse", "kept-application", "untouched"),
]


class UpdateOutcomes(harness.WordsAndJson):
    """Each run's exit code, result and events against each other and against the simulated device,
    and the same run in words against its JSON result."""

    def run_table(self, cases):
        # Each row twice, in JSON and in words (no --json, -v or --sim-summary), two runs at a time.
        forms = [(run_json, case) for case in cases] + [(run, case) for case in cases]
        runs = harness.started(lambda form: form[0](form[1][0] + FAST), forms)
        for case, in_json, in_words in zip(cases, runs, runs[len(cases):]):
            name = " ".join(case[0]) or "(no options)"
            with self.subTest(name):
                ran = in_json.result()
                self.judge(case, ran)
                self.judge_words(name, in_words.result(), ran)

    def judge_words(self, name, words, ran):
        """The run in words ends with the JSON result's exit code and message, in the program's own voice."""
        self.assertSaidAlike(words, ran, name)
        said = [l for l in (words.out + words.err).splitlines() if "window program" in l]
        self.assertFalse(said, f"{name}: a line in words speaks of the window program")

    def judge(self, case, ran):
        args, want_code, want_outcome, want_state, device = case
        code, events, summary = ran.code, ran.events, ran.summary
        name = " ".join(args) or "(no options)"
        self.assertEqual(code, want_code, f"{name}: exit code")
        self.assertTrue(events and events[-1]["event"] == "result", f"{name}: the last line is not the result")
        result = events[-1]
        self.assertEqual(result["exit_code"], code, f"{name}: the result's exit code against the program's")
        self.assertEqual(result["outcome"], want_outcome, f"{name}: outcome")
        self.assertEqual(result["device_state"], want_state, f"{name}: device state")
        kinds = [e["event"] for e in events]
        pages = ran.of("page_programmed")
        self.assertEqual(result["pages_programmed"], sum(p["written"] for p in pages),
                         f"{name}: pages programmed != page events")
        self.assertEqual(result["pages_verified"], sum(p["verified"] for p in pages),
                         f"{name}: pages verified != page events")
        # The run's pages, not the image's: 0 when programming did not start (a refused or declined image).
        started = [e["pages"] for e in ran.of("programming_started")]
        self.assertEqual(result["pages_total"], started[0] if started else 0,
                         f"{name}: pages_total against the pages the run set out to program {started}")
        self.assertEqual([p["index"] for p in pages], list(range(1, len(pages) + 1)),
                         f"{name}: page indexes out of order")
        self.assertTrue(all(isinstance(e.get("t_ms"), int) for e in events), f"{name}: an event without its time")
        boxes = ran.of("box")
        self.assertTrue(all({"text", "caption", "style", "answer"} <= e.keys() for e in boxes),
                        f"{name}: a box lacks a field")
        if "--check" in args:
            self.assertEqual(kinds.count("check_verdict"),
                             1 if want_outcome.startswith("would") or want_outcome == "run-not-sent" else 0,
                             f"{name}: check verdicts")
            self.assertFalse(any(b["style"] & 0x0F == 4 for b in boxes), f"{name}: the check asked a question")
        if code == 0 and "--check" not in args:
            total = result["pages_total"]
            self.assertTrue(total > 0 and result["pages_verified"] == total and result["signature_confirmed"]
                            and result["run_sent"],
                            f"{name}: exit 0 without every page verified, the signature confirmed and the run "
                            f"command sent: {result}")
            self.assertEqual(result["message"], f"device runs firmware {result['image_version']} (updated)",
                             f"{name}: message")
        # A No over no valid application names the step that installs the image, not one that declines again.
        if want_outcome == "declined" and want_state == "no-valid-application":
            self.assertIn("--yes installs the image", result["message"], name)
            self.assertNotIn("run the update again", result["message"], name)
        if code == 3 and "--check" not in args:
            self.assertTrue(result["pages_programmed"] == 0 and "kept firmware" in result["message"],
                            f"{name}: exit 3 message {result['message']!r}, {result['pages_programmed']} pages")
        if device is None:
            self.assertEqual(summary, {"sim_device": None}, f"{name}: a device was attached")
            return
        self.assertIsNotNone(summary, f"{name}: no summary of the simulated device")
        writes = (summary["flash_key_packets"], summary["erase_packets"], summary["halves_written"],
                  summary["signature_packets"])
        if device == "image":
            self.assertTrue(summary["pages_matching_image"] == summary["image_pages"] and summary["signature_valid"],
                            f"{name}: the device does not hold the image with a valid signature: {summary}")
            self.assertEqual(result["pages_verified"], summary["image_pages"],
                             f"{name}: verified pages != the image's pages")
        elif device == "key-only":
            self.assertTrue(not summary["flash_changed"] and writes == (1, 0, 0, 0) and summary["signature_valid"],
                            f"{name}: more than the flash key reached the device: {summary}")
        elif device == "untouched":
            self.assertTrue(not summary["flash_changed"] and writes == (0, 0, 0, 0),
                            f"{name}: something was written to the device: {summary}")
        else:
            self.assertFalse(summary["signature_valid"], f"{name}: the signature is valid after a failure: {summary}")
        # A device with a valid application goes back to it after a check or a No.
        if device == "untouched" and want_state == "kept-application":
            self.assertTrue(summary["run_commands"] == 1 and result["run_sent"], f"{name}: no run command: {summary}")
        # A refused image names both types, and no step that refuses again.
        if want_outcome in ("refused", "would-refuse"):
            message = result["message"]
            self.assertIn("this firmware is for type 0x83; the device is type 0x84", message, f"{name}: refusal")
            self.assertNotIn("run again", message, f"{name}: refusal")
            self.assertNotIn("run the update again", message, f"{name}: refusal")

    def test_updates(self):
        self.run_table(UPDATED)

    def test_declined(self):
        self.run_table(DECLINED)

    def test_refused_image(self):
        self.run_table(REFUSED)

    def test_no_device(self):
        self.run_table(NO_DEVICE)

    def test_device_faults(self):
        self.run_table(FAULTS)

    def test_run_command_not_sent(self):
        self.run_table(RUN_NOT_SENT)

    def test_check_verdicts(self):
        self.run_table(CHECKS)


class RestartWaits(unittest.TestCase):
    """--restart-wait auto and fixed, against devices that restart quickly, late, never, or not at all."""

    def test_auto_goes_on_once_the_bootloader_shows(self):
        # A device that restarts in 300 ms: auto goes on as soon as the bootloader is there.
        ran = run_json(["--restart-delay", "300"] + FAST)
        awaited = ran.of("restart_awaited")
        self.assertTrue(ran.code == 0 and len(awaited) == 1 and awaited[0]["end"] == "bootloader-seen"
                        and 300 <= awaited[0]["waited_ms"] <= 400,
                        f"auto wait, 300 ms restart: {awaited}, exit {ran.code}")
        # The polls are silent: no box before the bootloader appears, one device_found per discovery.
        before = ran.events[:ran.events.index(awaited[0])]
        self.assertFalse(any(e["event"] == "box" for e in before), "auto wait: a box while polling")
        self.assertEqual(len(ran.of("device_found")), 2, "auto wait: polls reported as devices found")

    def test_auto_ends_after_10_s_without_the_device(self):
        # One that never comes back: the wait ends after 10,000 ms and the update fails without writing, the
        # switched device's state unknown.
        ran = run_json(["--restart-delay", "60000"] + FAST)
        awaited = ran.of("restart_awaited")
        self.assertTrue(ran.code == 1 and awaited and awaited[0]["end"] == "timed-out"
                        and 10000 <= awaited[0]["waited_ms"] <= 10100
                        and ran.result["outcome"] == "switched-device-missing"
                        and ran.result["device_state"] == "unknown" and not ran.summary["flash_changed"],
                        f"auto wait, no return: {awaited}, exit {ran.code}, {ran.result}")

    def test_a_lone_device_not_back_after_a_short_wait_is_missing(self):
        # A lone device that is not back when a short wait ends: the switched device is missing, its state unknown
        # (not "unchanged": it was restarted).
        ran = run_json(["--restart-delay", "60000", "--restart-wait", "100"] + FAST[:4])
        self.assertTrue(ran.code == 1 and ran.result["outcome"] == "switched-device-missing"
                        and ran.result["device_state"] == "unknown" and ran.of("switched_device_missing")
                        and not ran.summary["flash_changed"],
                        f"lone device not back: exit {ran.code}, {ran.result}")

    def test_no_wait_for_a_device_in_its_bootloader(self):
        # A device found in its bootloader restarts nothing: no wait at all.
        ran = run_json(["--bootloader", "--reply-delay", "0", "--erase-delay", "0"])
        self.assertTrue(ran.code == 0 and not ran.of("restart_awaited") and ran.result["elapsed_ms"] < 1500,
                        f"no wait for a device already in its bootloader: exit {ran.code}, {ran.result}")

    def test_a_bootloader_beside_the_chosen_device_stops_the_restart(self):
        # A bystander in its bootloader beside a chosen device in its application: after a restart the two could
        # not be told apart, so the chosen one is not restarted, and nothing is written to any device.
        for wait in (["--restart-wait", "2000"], ["--restart-wait", "auto"]):
            with self.subTest(wait[1]):
                ran = run_json(wait + ["--device", "0", "--more-devices", "bootloader", "--restart-delay", "60000",
                                       "--reply-delay", "0", "--erase-delay", "0"])
                result, summary = ran.result, ran.summary
                self.assertTrue(ran.code == 2 and result.get("outcome") == "another-bootloader-present"
                                and result.get("device_state") == "unchanged"
                                and "--device 1" in result.get("message", "")
                                and [e["index"] for e in ran.of("bootloader_waiting")] == [1]
                                and summary["flash_key_packets"] == summary["erase_packets"]
                                == summary["halves_written"] == 0
                                and summary["mode_switches"] == 0
                                and not any(e["text"] == "OK" for e in ran.of("box")),
                                f"bystander with {wait}: exit {ran.code}, {result}, {summary}")

    def test_a_fixed_wait_takes_its_time(self):
        ran = run_json(["--restart-wait", "700", "--reply-delay", "0", "--erase-delay", "0"])
        awaited = ran.of("restart_awaited")
        self.assertTrue(ran.code == 0 and awaited and awaited[0] == {**awaited[0], "waited_ms": 700, "end": "waited"},
                        f"fixed wait 700: {awaited}")


# ---------------------------------------------------------------- human output

class HumanOutput(unittest.TestCase):
    """Progress lines, the last line in words, -q and -v, and the progress bar on a terminal."""

    def test_progress_lines_and_the_last_line(self):
        code, out, _ = run(FAST)
        lines = out.splitlines()
        progress = [l for l in lines if re.match(r"page \d+ of 53 \(\d+%\), \d+\.\d s$", l)]
        indexes = [int(l.split()[1]) for l in progress]
        self.assertEqual(indexes, [6, 11, 16, 22, 27, 32, 38, 43, 48, 53], "progress lines at every tenth")
        # The percentage is rounded down: 100 % only for the last page.
        shown = [(int(l.split()[1]), int(re.search(r"\((\d+)%\)", l).group(1))) for l in progress]
        self.assertTrue(all(percent == index * 100 // 53 for index, percent in shown),
                        f"progress percentages: {shown}")
        self.assertTrue(code == 0 and lines[-1] == "device runs firmware 1.00 (updated)",
                        f"human update: exit {code}, last line {lines[-1:]}")
        self.assertFalse(any(l.strip() == "Working" for l in lines), "the loader's line reached the human output")

    def test_quiet_declined(self):
        code, out, _ = run(["-q", "--no", "--installed", "2.00"] + FAST)
        self.assertEqual((code, out), (3, "kept firmware 2.00: the older image was declined\n"), "-q declined")

    def test_quiet_failure(self):
        code, out, err = run(["-q", "--fault", "wrong-checksum:21"] + FAST)
        self.assertTrue(code == 4 and out == "no valid application on the device: run the update again\n"
                        and re.fullmatch(r"page 13 \(4 of 53\): checksum 0x[0-9A-F]{4}, expected 0x[0-9A-F]{4}\n",
                                         err),
                        f"-q failed: exit {code}, {out!r} {err!r}")
        # Boxes: not as raw lines in normal or quiet output, only with -v.
        self.assertNotRegex(out, re.compile(r"^box ", re.M), "-q: a raw box line")

    def test_boxes_as_raw_lines_only_with_verbose(self):
        code, out, _ = run(["--fault", "wrong-checksum:21"] + FAST)
        self.assertTrue(not re.search(r"^box ", out, re.M) and "window program would show" not in out,
                        f"box lines: {out!r}")
        code, out, _ = run(["-v", "--fault", "wrong-checksum:21"] + FAST)
        self.assertTrue(any(re.fullmatch(r'box "Error" caption " "( \(\d+ times\))?', l) for l in out.splitlines()),
                        f"-v: the raw box line: {out!r}")

    def test_a_refusal_speaks_in_its_own_voice(self):
        # A refusal has no failed exchange to explain it, yet no line speaks of the window program; its raw
        # boxes, texts and loader line are -v's, in JSON as in words.
        code, out, err = run(["--type", "0x84"] + FAST)
        self.assertTrue(code == 1 and "window program" not in out + err and not re.search(r"^box ", out, re.M),
                        f"refused image, default output: exit {code}, {out!r} {err!r}")
        for verbose, want in (([], set()), (["-v"], {"box", "text", "loader_output"})):
            with self.subTest(verbose=verbose):
                ran = harness.run_json(["--type", "0x84"] + verbose + FAST, summary=False)
                kinds = {e["event"] for e in ran.events}
                self.assertTrue(ran.code == 1 and kinds & {"box", "text", "loader_output"} == want
                                and {"device_found", "device_identified", "image_prepared", "result"} <= kinds,
                                f"refused image, --json {verbose}: events {sorted(kinds)}")

    def test_verbose_shows_the_packets(self):
        code, out, _ = run(["-v", "--bootloader"] + FAST)
        lines = out.splitlines()
        self.assertTrue("  > 00" in lines and any(re.fullmatch(r"  < (.. ){4}00 5A 3D C2 83", l) for l in lines),
                        "-v: the info packet and its reply")
        self.assertEqual(sum(l.startswith("  > 03 00 ") for l in lines), 53, "-v: 53 first halves sent")
        ran = run_json(["--bootloader"] + FAST)  # run_json passes -v
        self.assertTrue(any(e["bytes"] == "05" for e in ran.of("packet_sent")), "-v --json: the run command")

    def test_one_progress_bar_redrawn_in_place_on_a_terminal(self):
        master, slave = pty.openpty()
        p = subprocess.Popen([harness.PROGRAM] + FAST, stdin=subprocess.DEVNULL, stdout=slave,
                             stderr=subprocess.PIPE)
        os.close(slave)
        chunks = []
        while True:
            try:
                data = os.read(master, 4096)
            except OSError:
                break
            if not data:
                break
            chunks.append(data)
        p.wait(timeout=60)
        p.stderr.close()
        os.close(master)
        text = b"".join(chunks).decode()
        bars = re.findall(r"\r\[[#.]{30}\] page (\d+) of 53 +(\d+)% \d+\.\d s", text)
        self.assertTrue(p.returncode == 0 and len(bars) == 53 and bars[-1] == ("53", "100"),
                        f"terminal progress bar: exit {p.returncode}, {len(bars)} bars, {bars[-3:]}")
        wrong = [(page, percent) for page, percent in bars if int(percent) != int(page) * 100 // 53]
        self.assertFalse(wrong, "terminal progress bar: percentages not rounded down")
        self.assertNotRegex(text, re.compile(r"^page \d+ of 53 \(", re.M), "terminal: progress lines as well as the bar")
        lines = terminal_lines(text)
        self.assertNotIn("", lines[:-1], f"terminal: an empty line after the bar: {lines[-4:]}")


# What is typed at the question on a terminal, and whether it reads as Yes.
TERMINAL_ANSWERS = [(b"Y\n", True), (b"y\n", True), (b" y\n", True), (b"yes\n", True), (b"n\n", False),
                    (b"\n", False), (b"N\n", False), (b"x y\n", False)]


class TerminalAnswers(unittest.TestCase):
    def test_each_answer_to_the_question(self):
        for answer, yes in TERMINAL_ANSWERS:
            with self.subTest(answer=answer):
                code, out = on_terminal(["--installed", "2.00"] + FAST, b"answer [y/N]: ", [answer])
                last = out.replace("\r\n", "\n").rstrip("\n").split("\n")[-1]
                want = (0, "device runs firmware 1.00 (updated)") if yes else (
                    3, "kept firmware 2.00: the older image was declined")
                self.assertEqual((code, last), want, f"answer {answer!r} on a terminal: exit code, last line")


class DeviceList(unittest.TestCase):
    def test_every_kind_of_device_listed(self):
        ran = run_json(["--list", "--more-devices", "bootloader,unknown,application"])
        found = [(e["index"], e["kind"], e["id"]) for e in ran.of("device_found")]
        self.assertEqual(ran.code, 0)
        self.assertEqual(found, [(0, "application", "2021"), (1, "bootloader", "ar5w2~"), (2, "unknown", "LX-7 sensor"),
                                 (3, "application", "2021")], "--list")
        self.assertTrue(ran.result["event"] == "result" and ran.result["outcome"] == "listed",
                        f"--list: result {ran.result}")
        self.assertIsNone(ran.result.get("device_index", 0), f"--list acts on no device: {ran.result}")

    def test_in_words(self):
        code, out, _ = run(["--list", "--bootloader", "--sim-summary"])
        self.assertEqual((code, out), (0, 'device 0: "ar5w2~" (bootloader)\n'), "--list human")

    def test_writes_nothing(self):
        _, _, err = run(["--list", "--sim-summary"])
        summary = harness.sim_summaries(err)[0]
        self.assertTrue(summary["mode_switches"] == 0 and not summary["flash_changed"],
                        f"--list wrote to the device: {summary}")

    def test_no_device(self):
        ran = run_json(["--list", "--no-device"])
        self.assertEqual((ran.code, [e["event"] for e in ran.events]), (0, ["result"]), "--list with no device")


class NoDeviceCount(unittest.TestCase):
    """The library gives no device count (fail-count:1, the first count of the run): each command that looks at
    the bus ends at once, before a device is touched, as a failure that changed nothing."""

    COMMANDS = [["--list"], [], ["--check"], ["--wait-device", "1"]]

    def test_each_command_ends_no_device_count_with_exit_1(self):
        for command in self.COMMANDS:
            name = " ".join(command) or "(update)"
            with self.subTest(name):
                args = command + ["--fault", "fail-count:1"]
                ran = harness.run_json(args)
                result, bus = ran.result, [l for l in ran.err.splitlines() if l.startswith('{"sim_bus"')]
                self.assertTrue(ran.code == 1 and [e["event"] for e in ran.events] == ["result"]
                                and result["outcome"] == "no-device-count" and result["exit_code"] == 1
                                and result["device_state"] == "unknown"
                                and result["message"] == "the USB library gave no device count",
                                f"{name}: exit {ran.code}, {ran.events}")
                self.assertTrue(harness.untouched(ran.summary) and len(bus) == 1 and '"acted":true' in bus[0],
                                f"{name}: the device is untouched and the count failed: {ran.summary}, {bus}")
                code, out, err = run(args)
                self.assertEqual((code, out, err), (1, "", "lumaris-update: the USB library gave no device count\n"),
                                 f"{name} in words")


class ProgramFacts(unittest.TestCase):
    """--info against the HEX file read here, --version and --help."""

    def test_info_describes_the_firmware_file(self):
        flash, pages = harness.flash_image(harness.argument("FIRMWARE_HEX"))
        ran = run_json(["--info"])
        info = ran.of("info")
        self.assertTrue(ran.code == 0 and len(info) == 1, f"--info: one info object: exit {ran.code}, {info}")
        i = info[0]
        self.assertEqual(i["sha256"], hashlib.sha256(flash).hexdigest(), "--info sha256")
        self.assertEqual((i["first_page"], i["last_page"], i["pages"]), (pages[0], pages[-1], len(pages)),
                         f"--info pages {i}")
        last = pages[-1] * 512
        self.assertEqual(i["image_type"], f"0x{flash[last + 0x1FB]:02X}", "--info type")
        self.assertEqual(i["image_version"], f"{flash[last + 0x1FC]}.{flash[last + 0x1FD]:02d}", "--info version")

    def test_info_in_words(self):
        flash, _ = harness.flash_image(harness.argument("FIRMWARE_HEX"))
        _, out, _ = run(["--info"])
        self.assertTrue(hashlib.sha256(flash).hexdigest() in out and "Working" not in out, f"--info human: {out!r}")

    def test_version(self):
        code, out, _ = run(["--version"])
        self.assertEqual(code, 0)
        self.assertRegex(out, r"^lumaris-update \d+\.\d+\.\d+, built-in firmware \d+\.\d\d for device type "
                              r"0x[0-9A-F]{2}\n\Z", "--version")

    def test_help_lists_every_option_and_exit_code(self):
        _, out, _ = run(["--help"])
        for option in ["--check", "--list", "--info", "--version", "--yes", "--no", "--json", "-q", "-v",
                       "--restart-wait", "--type", "--installed", "--fault", "--no-device", "--more-devices"]:
            with self.subTest(option):
                self.assertRegex(out, r"(^|\s|,)" + re.escape(option) + r"\b", f"--help does not list {option}")
        for exit_code in ("0", "1", "2", "3", "4", "5", "130"):
            with self.subTest(exit_code=exit_code):
                self.assertRegex(out, re.compile(rf"^  {exit_code}  ", re.M),
                                 f"--help does not explain exit code {exit_code}")


# argv, words the one error line must hold
USAGE_CASES = [
    (["--yes", "--no"], ["--no", "--yes"]),
    (["--fault", "vanish:3", "--fault", "bad-ack:4"], ["--fault", "more than once"]),
    (["--check", "--list"], ["--list", "--check"]),
    (["-q", "-v"], ["-v", "-q"]),
    (["--restart-wait", "fast"], ["--restart-wait", '"fast"', "0..60000"]),
    (["--restart-wait", "60001"], ["--restart-wait", '"60001"', "0..60000"]),
    (["--reply-delay", "010"], ["--reply-delay", '"010"', "0..10000"]),
    (["--reply-delay=-1"], ["--reply-delay", '"-1"', "0..10000"]),
    # A value that looks like an option is taken only when written with "=".
    (["--reply-delay", "-1"], ["--reply-delay", '"-1"', "--reply-delay=-1"]),
    (["--label", "--json"], ["--label needs a value", '"--json"', "--label=--json"]),
    (["--label", "--log", "station.jsonl"], ["--label needs a value", '"--log"', "--label=--log"]),
    (["--reply-delay", " 5"], ["--reply-delay", '" 5"']),
    (["--reply-delay", "0x"], ["--reply-delay", '"0x"']),
    (["--type", "0x100"], ["--type", '"0x100"', "0..255"]),
    (["--installed", "1.5"], ["--installed", '"1.5"', "1.10"]),
    (["--installed", "256.00"], ["--installed", '"256.00"']),
    (["--installed", "0x10000"], ["--installed", '"0x10000"']),
    (["--fault", "melt:3"], ["--fault", '"melt:3"']),
    (["--fault", "vanish:0"], ["--fault", '"vanish:0"']),
    (["--fault", "vanish:3@1"], ["--fault", "no device 1"]),
    (["--fault", "vanish:3@1,bad-ack:4@1", "--more-devices", "bootloader"], ["--fault", "device 1 twice"]),
    (["--fault", "vanish:3,bad-ack:4"], ["--fault", "bus twice"]),
    (["--fault", "fail-count:1@0"], ["--fault", '"fail-count:1@0"', "no @D"]),  # a count names no device
    (["--more-devices", "toaster"], ["--more-devices", '"toaster"']),
    (["--reply-delay"], ["--reply-delay", "needs a value"]),
    (["--frobnicate"], ["--frobnicate"]),
    (["--check", "--yes"], ["--yes", "--check"]),
    (["--info", "--restart-wait", "auto"], ["--restart-wait", "--info"]),
    (["--json=yes"], ["--json", "no value"]),
    (["--no-device", "--type", "0x83"], ["--no-device"]),
]


class UsageErrors(unittest.TestCase):
    def test_each_bad_command_line_is_refused_on_one_line(self):
        for args, words in USAGE_CASES:
            with self.subTest(args=args):
                code, out, err = run(args)
                lines = err.splitlines()
                self.assertTrue(code == 2 and out == "" and len(lines) == 1 and all(w in lines[0] for w in words),
                                f"{args}: exit {code}, stderr {err!r}, wanted {words}")

    def test_accepted_forms_of_numbers_and_versions(self):
        for args in (["--installed", "1.10"], ["--installed", "0x010A"], ["--installed", "266"], ["--reply-delay=0x0"],
                     ["--restart-wait=auto"]):
            with self.subTest(args=args):
                code, _, err = run(["--list"] + args if "--restart-wait" not in args[0]
                                   else ["--check", "--no-device"] + args)
                self.assertTrue(code in (0, 1) and "conflicts" not in err and "is not" not in err,
                                f"{args} refused: exit {code}, {err!r}")

    def test_a_label_that_starts_with_a_dash_is_written_with_equals(self):
        ran = run_json(["--label=-SN-7"] + FAST)
        self.assertTrue(ran.code == 0 and ran.events[-1]["label"] == "-SN-7", f"--label=-SN-7: {ran.events[-1:]}")

    def test_installed_read_as_a_version_or_a_number(self):
        for form in ("1.10", "0x010A"):
            with self.subTest(form):
                ran = run_json(["--check", "--installed", form] + FAST)
                identified = ran.of("device_identified")
                self.assertTrue(identified and identified[0]["installed_version"] == "1.10",
                                f"--installed {form} reads 1.10: {identified}")


if __name__ == "__main__":
    harness.main("LUMARIS_UPDATE", "FIRMWARE_HEX")
