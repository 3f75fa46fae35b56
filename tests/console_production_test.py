#!/usr/bin/env python3
"""The console program's production-line options end to end against the simulated device:
device choice with several devices, the cause of each failure, --log (also after SIGKILL),
--label, --retries, --skip-current, and the usage errors and small cases around them.
Usage: console_production_test.py LUMARIS_UPDATE
"""
import concurrent.futures
import json
import os
import re
import signal
import subprocess
import sys
import tempfile

PROGRAM = sys.argv[1]
FAST = ["--reply-delay", "0", "--erase-delay", "0", "--restart-wait", "auto"]
# Replies 3 ms late, well inside their 100 ms window: an update takes about 800 ms, longer than a restart.
STEADY = ["--reply-delay", "3", "--erase-delay", "0"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def run(args):
    p = subprocess.run([PROGRAM] + args, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    return p.returncode, p.stdout, p.stderr


def run_json(args):
    code, out, err = run(["--json", "--sim-summary"] + args)
    events = [json.loads(line) for line in out.splitlines()]
    summaries = [json.loads(l) for l in err.splitlines() if l.startswith('{"sim_device"')]
    return code, events, summaries


def written(s):
    return s["flash_key_packets"] + s["erase_packets"] + s["halves_written"] + s["signature_packets"]


def check_device_choice():
    for more in ("application", "bootloader,application"):
        code, events, sims = run_json(["--more-devices", more] + FAST)
        check(code == 2 and events[-1]["outcome"] == "device-choice-needed" and "--device" in events[-1]["message"]
              and all(written(s) == 0 and s["mode_switches"] == 0 for s in sims),
              f"no --device with {more}: exit {code}, {events[-1:]}, {sims}")
        check([e["index"] for e in events if e["event"] == "device_found"] == list(range(len(sims))),
              f"no --device with {more}: the devices are listed")
    code, events, sims = run_json(["--device", "1", "--more-devices", "application"] + FAST)
    check(code == 0 and events[-1]["device_index"] == 1 and written(sims[0]) == 0 and sims[0]["mode_switches"] == 0
          and sims[1]["signature_valid"] and sims[1]["pages_matching_image"] == sims[1]["image_pages"],
          f"--device 1: exit {code}, {sims}")
    code, events, sims = run_json(["--device", "2", "--more-devices", "unknown,application:0x83:0.80"] + FAST)
    check(code == 0 and written(sims[0]) == written(sims[1]) == 0 and sims[2]["signature_valid"]
          and events[-1]["device_index"] == 2, f"--device 2 of three: exit {code}, {sims}")
    # Device 1 waits in its bootloader: device 2, in its application, is not restarted beside it, as the two
    # could not be told apart afterwards. Choosing the bootloader itself updates it.
    code, events, sims = run_json(["--device", "2", "--more-devices", "bootloader,application:0x83:0.80"] + FAST)
    check(code == 2 and events[-1]["outcome"] == "another-bootloader-present" and "--device 1" in events[-1]["message"]
          and all(written(s) == 0 and s["mode_switches"] == 0 and s["run_commands"] == 0 for s in sims),
          f"--device 2 beside a bootloader: exit {code}, {events[-1:]}, {sims}")
    code, events, sims = run_json(["--device", "1", "--more-devices", "bootloader,application:0x83:0.80"] + FAST)
    check(code == 0 and sims[1]["signature_valid"] and written(sims[0]) == written(sims[2]) == 0
          and sims[0]["mode_switches"] == sims[2]["mode_switches"] == 0, f"--device 1, the bootloader: exit {code}")
    # A bus of many devices, each with its own kind, type and version: only the one chosen changes.
    more = ",".join(["application"] * 9 + ["application:0x84:2.00", "unknown", "application:0x83:0.80"])
    code, events, sims = run_json(["--device", "12", "--more-devices", more] + FAST)
    check(len(sims) == 13 and code == 0 and events[-1]["device_index"] == 12
          and [i for i, s in enumerate(sims) if written(s) or s["mode_switches"]] == [12]
          and sims[12]["pages_matching_image"] == sims[12]["image_pages"],
          f"--device 12 of 13: exit {code}, {[(i, written(s)) for i, s in enumerate(sims)]}")
    # A fault belongs to its device: one on the bystander leaves the update alone, one on the
    # chosen device ends it with its cause.
    for fault, want_code in (("late-reply:7@0", 0), ("late-reply:7@1", 4)):
        code, events, sims = run_json(["--device", "1", "--more-devices", "application", "--fault", fault] + FAST)
        failure = [e for e in events if e["event"] == "failure"]
        check(code == want_code and written(sims[0]) == 0 and (want_code == 0) == sims[1]["signature_valid"]
              and (want_code == 0 or failure[0]["cause"] == "no-reply"),
              f"--fault {fault} with --device 1: exit {code}, {failure[:1]}, {sims}")
    # A second bootloader plugged in while the chosen device restarts: which is which cannot be
    # told, and neither gets the flash key.
    code, events, sims = run_json(["--more-devices", "bootloader+100", "--restart-delay", "200",
                                   "--restart-wait", "400"] + FAST[:4])
    check(code == 1 and events[-1]["outcome"] == "bus-changed-during-restart"
          and all(written(s) == 0 for s in sims) and sims[0]["mode_switches"] == 1,
          f"a bootloader plugged in during the restart: exit {code}, {events[-1:]}, {sims}")
    code, events, _ = run_json(["--device", "1", "--more-devices", "unknown"] + FAST)
    check(code == 1 and events[-1]["outcome"] == "unknown-device", f"--device on an unknown device: {events[-1:]}")
    code, events, _ = run_json(["--device", "5"] + FAST)
    check(code == 1 and events[-1]["outcome"] == "no-device" and "device 5" in events[-1]["message"], "--device 5")
    code, out, _ = run(["--list", "--no-device"])
    check(code == 0 and out == "no devices attached\n", f"--list, nothing attached: {out!r}")


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


def check_causes():
    for fault, want_code, want, words in CAUSES:
        code, events, _ = run_json(["--fault", fault] + FAST)
        failure = [e for e in events if e["event"] == "failure"]
        result = events[-1]
        check(code == want_code and result["exit_code"] == code, f"{fault}: exit {code}")
        check(failure and all(failure[0].get(k) == v for k, v in want.items())
              and result["failure"] == {k: v for k, v in failure[0].items() if k not in ("event", "t_ms")},
              f"{fault}: failure {failure[:1]}, result {result.get('failure')}")
        code, out, err = run(["--fault", fault] + FAST)
        check(words in out, f"{fault}: human line {words!r} not in {out!r}")


def check_log():
    with tempfile.TemporaryDirectory() as folder:
        log = os.path.join(folder, "line.jsonl")
        code, events, _ = run_json(["--log", log, "--label", "SN-0042"] + FAST)
        lines = [json.loads(l) for l in open(log)]
        check(code == 0 and lines[0]["event"] == "run_started" and lines[0]["label"] == "SN-0042"
              and re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", lines[0]["utc"])
              and lines[0]["options"][:2] == ["--json", "--sim-summary"]
              and lines[1:] == [{**e} for e in lines[1:]] and lines[-1]["event"] == "result"
              and lines[-1]["label"] == "SN-0042" and lines[-1]["device_index"] == 0
              and lines[-1]["image_sha256"] == lines[0]["image_sha256"], f"--log: {lines[:1]} {lines[-1:]}")
        check([e["event"] for e in lines[1:]] == [e["event"] for e in events], "--log holds every event shown")
        # Human output on the screen, the log still complete.
        code, out, _ = run(["--log", log] + FAST)
        check(code == 0 and sum(1 for l in open(log) if '"run_started"' in l) == 2, "--log appends a second run")
        # Killed at a packet: every line of the log is JSON.
        killed = os.path.join(folder, "killed.jsonl")
        p = subprocess.Popen([PROGRAM, "--json", "--log", killed, "--reply-delay", "2", "--erase-delay", "5",
                              "--restart-wait", "auto"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        for line in p.stdout:
            if '"page_programmed"' in line and '"index":10,' in line:
                p.send_signal(signal.SIGKILL)
                break
        p.wait(timeout=60)
        text = open(killed).read()
        check(p.returncode == -signal.SIGKILL and text.endswith("\n") and all(json.loads(l) for l in text.splitlines())
              and '"index":10,' in text, f"--log after SIGKILL: {text[-200:]!r}")
        # A log that cannot be opened: exit 2 before the device is touched.
        code, out, err = run(["--log", os.path.join(folder, "no", "such.jsonl"), "--sim-summary"] + FAST)
        check(code == 2 and out == "" and "No such file or directory" in err and "sim_device" not in err,
              f"unwritable log: {code} {err!r}")


def check_retries_and_skip():
    code, events, sims = run_json(["--retries", "2", "--fault", "late-reply:7"] + FAST)
    attempts = [e for e in events if e["event"] == "attempt"]
    check(code == 0 and events[-1]["attempts"] == 2 and len(attempts) == 1 and attempts[0]["cause"] == "no-reply"
          and sims[0]["signature_valid"], f"--retries 2 late reply: exit {code}, {attempts}, {events[-1]}")
    code, events, _ = run_json(["--retries", "2", "--type", "0x84"] + FAST)
    check(code == 1 and events[-1]["attempts"] == 1 and not any(e["event"] == "attempt" for e in events),
          "a refused image is retried")
    code, events, _ = run_json(["--retries", "2", "--fault", "wrong-checksum:21"] + FAST)
    check(code == 4 and events[-1]["attempts"] == 1, "a checksum mismatch is retried")
    # The device vanishes half-way: the retry finds no device at all, and the result must still say that the
    # first attempt left it without a valid application (exit 4), not merely that the second one failed.
    code, events, sims = run_json(["--retries", "1", "--fault", "vanish:40"] + FAST)
    check(code == 4 and events[-1]["exit_code"] == 4 and events[-1]["device_state"] == "no-valid-application"
          and not sims[0]["signature_valid"], f"a failed retry hides the broken device: exit {code}, {events[-1:]}")
    # Attempt 1 erases the unit and attempt 2 finds no version on it: the result keeps the version the unit
    # held before the run.
    code, events, sims = run_json(["--retries", "1", "--fault", "missing-reply:150"] + FAST)
    check(code == 0 and events[-1]["attempts"] == 2 and events[-1]["installed_version"] == "0.90"
          and events[-1]["device_type"] == "0x83" and sims[0]["signature_valid"],
          f"installed_version after a retry: exit {code}, {events[-1:]}")
    code, events, sims = run_json(["--skip-current", "--installed", "1.00"] + FAST)
    check(code == 0 and events[-1]["outcome"] == "current" and written(sims[0]) == 0 and sims[0]["run_commands"] == 1,
          f"--skip-current: {events[-1:]}, {sims}")
    code, events, sims = run_json(["--installed", "1.00"] + FAST)
    check(code == 0 and events[-1]["outcome"] == "updated" and sims[0]["halves_written"] > 0, "same version, no skip")
    for extra in ([], ["--skip-current"]):
        code, out, _ = run(["--check", "--installed", "1.00"] + extra + FAST)
        check(code == 0 and "same version installed" in out, f"--check {extra}: {out!r}")


def untouched(s):
    return written(s) == 0 and s["mode_switches"] == 0 and s["run_commands"] == 0


def check_reproductions():
    """Runs that once wrote to, or started, a unit that was not chosen, or called an erased unit untouched."""
    # A retry after the chosen unit left the bus takes no other unit: with several on the bus it cannot be
    # proven which one is the chosen one.
    for args in (["--more-devices", "application,application", "--device", "1", "--fault", "vanish:100@1",
                  "--retries", "1", "--yes", "--restart-wait", "auto", "--label", "SN-0042"],
                 ["--bootloader", "--more-devices", "bootloader,application,application:0x83:2.00", "--device", "0",
                  "--fault", "vanish:191@0", "--retries", "3", "--label", "SN-0042"]):
        code, events, sims = run_json(args + STEADY)
        chosen = int(args[args.index("--device") + 1])
        result = events[-1]
        check(code == 4 and result["outcome"] == "programming-failed" and result["device_state"] == "no-valid-application"
              and result["label"] == "SN-0042" and result["attempts"] == 1
              and all(untouched(s) for i, s in enumerate(sims) if i != chosen),
              f"{args}: exit {code}, {result}, {sims}")
    # Erased by attempt 1; a unit plugged in meanwhile: the retry cannot tell the two apart, and the result
    # says what attempt 1 left (exit 4), not a device choice.
    code, events, sims = run_json(["--fault", "missing-reply:150", "--retries", "1", "--restart-wait", "auto",
                                   "--more-devices", "bootloader+800"] + STEADY)
    check(code == 4 and events[-1]["outcome"] == "programming-failed"
          and events[-1]["device_state"] == "no-valid-application" and untouched(sims[1])
          and not any(e["event"] == "attempt" for e in events),
          f"erased, then a second unit: exit {code}, {events[-1:]}, {sims}")
    # The same with the fixed wait: the unit arrives during the wait, and nothing is written at all.
    code, events, sims = run_json(["--fault", "missing-reply:150", "--retries", "1", "--restart-wait", "2000",
                                   "--more-devices", "bootloader+1200"] + STEADY)
    check(code == 1 and events[-1]["outcome"] == "bus-changed-during-restart" and all(written(s) == 0 for s in sims)
          and untouched(sims[1]), f"a unit plugged in during the fixed wait: exit {code}, {events[-1:]}")
    # A bootloader waits before the run: the chosen unit in its application is not restarted beside it.
    code, events, sims = run_json(["--more-devices", "bootloader,application+300", "--device", "0", "--yes",
                                   "--restart-wait", "auto"])
    check(code == 2 and events[-1]["outcome"] == "another-bootloader-present" and all(untouched(s) for s in sims),
          f"a bootloader before the run: exit {code}, {events[-1:]}")
    # The chosen unit takes longer than the fixed wait and a fresh unit comes meanwhile: the newcomer cannot
    # be told from it, but the chosen unit's return during the update keeps the run from saying "updated".
    code, events, sims = run_json(["--yes", "--more-devices", "bootloader+1000", "--restart-delay", "2500",
                                   "--restart-wait", "2000", "--label", "SN-0043"] + STEADY)
    check(code == 1 and events[-1]["outcome"] == "bus-changed-during-update" and written(sims[0]) == 0
          and events[-1]["label"] == "SN-0043" and "may not be the chosen one" in events[-1]["message"],
          f"a newcomer during a long restart: exit {code}, {events[-1:]}")
    # Selecting the signature page fails: nothing was erased, so exit 1, and the device keeps its application.
    for fault in ("fail-status:4", "bad-ack:4"):
        code, events, sims = run_json(["--fault", fault] + FAST)
        check(code == 1 and events[-1]["outcome"] == "failed"
              and events[-1]["device_state"] == "bootloader-application-kept" and sims[0]["erase_packets"] == 0
              and sims[0]["signature_valid"], f"{fault}: exit {code}, {events[-1:]}")
    # The mode switch's write fails: nothing restarts, and the run ends there, without a second switch.
    code, events, sims = run_json(["--fault", "fail-status:1"] + FAST)
    check(code == 1 and events[-1]["outcome"] == "no-bootloader" and "could not be asked to restart" in
          events[-1]["message"] and not any(e["event"] == "restart_requested" for e in events)
          and untouched(sims[0]), f"a failed mode switch: exit {code}, {events[-1:]}, {sims}")
    code, events, _ = run_json(["--device", "2", "--more-devices", "application,unknown"] + FAST)
    check(code == 1 and events[-1]["outcome"] == "unknown-device"
          and events[-1]["message"].startswith('device 2 ("LX-7 sensor") is not a Lumaris device'),
          f"--device 2 unknown: {events[-1:]}")


def check_retries_after_device_gone():
    """One, two and three devices; the chosen one leaves the bus half-way with --retries 2."""
    for more in ([], ["--more-devices", "application"], ["--more-devices", "application,application"]):
        chosen = len(more and more[1].split(","))
        args = ["--fault", f"vanish:100@{chosen}", "--retries", "2"] + (["--device", str(chosen)] if more else [])
        code, events, sims = run_json(args + more + FAST)
        check(code == 4 and events[-1]["device_state"] == "no-valid-application"
              and not any(e["event"] == "attempt" for e in events)
              and all(untouched(s) for i, s in enumerate(sims) if i != chosen),
              f"device-gone with {len(sims)} device(s): exit {code}, {events[-1:]}, {sims}")
    # Lost replies keep the device on the bus: with two devices the retry proves it and updates it.
    code, events, sims = run_json(["--device", "1", "--more-devices", "application", "--fault", "late-reply:7@1",
                                   "--retries", "1"] + FAST)
    check(code == 0 and events[-1]["attempts"] == 2 and untouched(sims[0]) and sims[1]["signature_valid"],
          f"a lost reply with two devices: exit {code}, {events[-1:]}")


# When a device is plugged in, in ms after the restart wait began (it begins about 100 ms after the start,
# once the mode switch's reply window has passed); the chosen device is off the bus from then for 500 ms.
HOT_PLUG_MS = (100, 300, 1000, 2500)


def hot_plug_case(kind, after_ms, wait):
    code, events, sims = run_json(["--yes", "--restart-wait", wait, "--more-devices", f"{kind}+{after_ms + 100}",
                                   "--label", "SN-7"] + STEADY)
    result = events[-1]
    what = f"{kind} at {after_ms} ms, --restart-wait {wait}: exit {code}, {result['outcome']}, {sims}"
    check(result["exit_code"] == code, what)
    # Never "updated" unless the chosen unit holds the image and the newcomer is untouched.
    if result["outcome"] == "updated":
        check(sims[0]["signature_valid"] and sims[0]["pages_matching_image"] == sims[0]["image_pages"]
              and untouched(sims[1]), what)
    # The newcomer is written only where it cannot be told from the chosen unit: a bootloader that came
    # while the chosen unit was away, with nothing else on the bus; and then the run does not say updated.
    if written(sims[1]):
        check(kind == "bootloader" and after_ms < 500 and result["outcome"] != "updated" and code != 0, what)
    check(sims[1]["run_commands"] == 0 or written(sims[1]), what)
    away = after_ms < 500  # the chosen unit is off the bus
    if kind != "bootloader" and away:
        check(result["outcome"] == "bus-changed-during-restart" and code == 1 and all(written(s) == 0 for s in sims),
              what)
    if wait == "2000" and after_ms < 2000:
        # The fixed wait watches to its end: nothing is written to any unit.
        check(result["outcome"] == "bus-changed-during-restart" and all(written(s) == 0 for s in sims), what)
        # Back and still the one bootloader: the chosen unit is sent back to its application.
        if not away and kind != "bootloader":
            check(result["device_state"] == "kept-application" and sims[0]["run_commands"] == 1, what)
    if after_ms == 2500 and wait == "auto":
        check(untouched(sims[1]), what)


def check_hot_plug():
    cases = [(kind, ms, wait) for kind in ("bootloader", "application", "unknown") for ms in HOT_PLUG_MS
             for wait in ("auto", "2000")]
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        list(pool.map(lambda c: hot_plug_case(*c), cases))


USAGE = [
    ["--help", "--json"], ["--type", "0x10000000000000083"], ["--retries", "6"], ["--device", "x"],
    ["--list", "--device", "1"], ["--no-device", "--installed", "2.00"], ["--no-device", "--more-devices", "bootloader"],
    ["--check", "--retries", "1"], ["--log", ""],
]


def check_usage():
    for args in USAGE:
        code, out, err = run(args)
        check(code == 2 and out == "" and len(err.splitlines()) == 1, f"{args}: exit {code}, {err!r}")
    code, out, err = run(["--check", "--restart-wait", "60000", "--no-device"])
    check(code == 1 and "60000" not in err, f"--restart-wait 60000 refused: {err!r}")


def check_option_bounds():
    # The edges of the option values: the last value allowed is taken, the first one beyond it is not.
    for args in (["--label", ""], ["--retries", "6"], ["--device", "128"], ["--device", "0x80"],
                 ["--list", "--skip-current"]):
        code, out, err = run(args)  # alone: FAST's --restart-wait would conflict with --list by itself
        check(code == 2 and out == "" and len(err.splitlines()) == 1, f"{args} accepted: exit {code}, {err!r}")
    code, events, _ = run_json(["--retries", "5"] + FAST)
    check(code == 0 and events[-1]["outcome"] == "updated", f"--retries 5 refused: exit {code}, {events[-1:]}")
    for device in ("127", "0x7F"):
        code, events, sims = run_json(["--device", device] + FAST)
        check(code == 1 and events[-1]["outcome"] == "no-device" and written(sims[0]) == 0,
              f"--device {device}: exit {code}, {events[-1:]}")


def check_attempts_in_order():
    # Each attempt after the first is announced with its own number, after what the one before it showed.
    code, events, _ = run_json(["--retries", "2", "--fault", "late-reply:7"] + FAST)
    kinds = [e["event"] for e in events]
    attempts = [e for e in events if e["event"] == "attempt"]
    check(code == 0 and [(a["attempt"], a["of"]) for a in attempts] == [(2, 3)],
          f"--retries 2, one late reply: attempts announced {attempts}")
    first = kinds[:kinds.index("attempt")] if "attempt" in kinds else kinds
    check("box" in first and "failure" in first,
          f"--retries: the first attempt's box is written before the next attempt starts: {kinds}")
    # A device that left the bus is retried only once it is provably back (check_retries_after_device_gone:
    # one that never comes back ends the retries).

def main():
    for f in (check_device_choice, check_causes, check_log, check_retries_and_skip, check_reproductions,
              check_retries_after_device_gone, check_hot_plug, check_usage, check_option_bounds,
              check_attempts_in_order):
        f()
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
