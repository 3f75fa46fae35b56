#!/usr/bin/env python3
"""The console program end to end against the simulated device, on the real clock.

Each update case runs with --json and --sim-summary: the JSON lines must all
parse, the result must follow from the events before it, and it must agree
with what the simulated device's flash holds and which packets it was sent
(the summary line on standard error). Then the human output (progress lines,
the progress bar on a terminal, -q, -v), --list, --info (its SHA-256 against
one computed here from the HEX file), --version, --help and usage errors.
Usage: console_program_test.py LUMARIS_UPDATE FIRMWARE_HEX
"""
import concurrent.futures
import hashlib
import json
import os
import pty
import re
import subprocess
import sys

PROGRAM = sys.argv[1]
FIRMWARE_HEX = sys.argv[2]
FAST = ["--reply-delay", "0", "--erase-delay", "0", "--restart-wait", "auto"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def run(args, stdin=subprocess.DEVNULL, timeout=60):
    p = subprocess.run([PROGRAM] + args, stdin=stdin, capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def run_json(args):
    # -v: the window program's boxes and texts too, which some checks look at.
    code, out, err = run(["--json", "-v", "--sim-summary"] + args)
    lines = out.splitlines()
    events = []
    for line in lines:
        try:
            events.append(json.loads(line))
        except ValueError:
            failures.append(f"{args}: a line on standard output is not JSON: {line!r}")
    summaries = [json.loads(line) for line in err.splitlines() if line.startswith('{"sim_device"')]
    return code, events, (summaries[0] if summaries else None)


def image_from_hex(path):
    """The 64,512-byte flash image the program makes of the HEX file: 0xFF where no data."""
    flash = bytearray(b"\xff" * 0xFC00)
    pages = set()
    for line in open(path):
        line = line.strip()
        if not line.startswith(":"):
            continue
        record = bytes.fromhex(line[1:])
        count, address, kind = record[0], record[1] << 8 | record[2], record[3]
        if kind == 0:
            flash[address:address + count] = record[4:4 + count]
            for a in range(address, address + count):
                pages.add(a >> 9)
    return bytes(flash), sorted(pages)


# ---------------------------------------------------------------- updates, JSON

# args, exit code, outcome, device_state at the end, and what the simulated
# device must show: "image" (holds the image, signature valid), "untouched"
# (flash unchanged, no flash key, erase, page or signature packet) or
# "broken" (no valid signature).
UPDATE_CASES = [
    ([], 0, "updated", "runs-image", "image"),
    (["--bootloader"], 0, "updated", "runs-image", "image"),
    (["--yes", "--installed", "2.00"], 0, "updated", "runs-image", "image"),
    (["--no", "--installed", "2.00"], 3, "declined", "kept-application", "untouched"),
    (["--installed", "0x0200"], 3, "declined", "kept-application", "untouched"),  # no terminal: No
    (["--no", "--installed", "2.00", "--no-valid-app"], 1, "declined", "no-valid-application", "untouched"),
    # A refused image over a valid application sends the run command: the device runs its old firmware again.
    (["--type", "0x84"], 1, "refused", "kept-application", "untouched"),
    (["--type", "0x84", "--bootloader"], 1, "refused", "kept-application", "untouched"),
    (["--type", "0x84", "--no-valid-app"], 1, "refused", "no-valid-application", "untouched"),
    (["--no-device"], 1, "no-device", "none", None),
    # Packets: 1 the mode switch, 2 the info, 3 the flash key, 4 and 5 the
    # signature page's select and erase, then four a page (select, erase,
    # two halves), the checksum coming with the second half.
    (["--fault", "wrong-checksum:21"], 4, "programming-failed", "no-valid-application", "broken"),
    (["--fault", "vanish:40"], 4, "programming-failed", "no-valid-application", "broken"),
    (["--fault", "missing-reply:2"], 1, "no-bootloader", "unchanged", "untouched"),
    (["--fault", "bad-ack:3"], 1, "failed", "bootloader-application-kept", "key-only"),
    # The run command after a No fails: the device waits in its bootloader; neither 0 nor 3 claims more.
    (["--installed", "2.00", "--no", "--fault", "fail-status:3"], 1, "run-not-sent", "bootloader-application-kept",
     "untouched"),
    (["--check", "--fault", "fail-status:3"], 1, "run-not-sent", "bootloader-application-kept", "untouched"),
    (["--check"], 0, "would-program", "kept-application", "untouched"),
    (["--check", "--installed", "2.00"], 3, "would-ask", "kept-application", "untouched"),
    (["--check", "--type", "0x84"], 1, "would-refuse", "kept-application", "untouched"),
    (["--check", "--no-device"], 1, "no-device", "none", None),
]


def check_update(case):
    args, want_code, want_outcome, want_state, device = case
    code, events, summary = run_json(args + FAST)
    name = " ".join(args) or "(no options)"
    check(code == want_code, f"{name}: exit code {code}, expected {want_code}")
    if not check(events and events[-1]["event"] == "result", f"{name}: the last line is not the result"):
        return
    result = events[-1]
    check(result["exit_code"] == code, f"{name}: result says exit code {result['exit_code']}, program gave {code}")
    check(result["outcome"] == want_outcome, f"{name}: outcome {result['outcome']}, expected {want_outcome}")
    check(result["device_state"] == want_state, f"{name}: device state {result['device_state']}, expected {want_state}")
    kinds = [e["event"] for e in events]
    pages = [e for e in events if e["event"] == "page_programmed"]
    check(result["pages_programmed"] == sum(p["written"] for p in pages), f"{name}: pages programmed != page events")
    check(result["pages_verified"] == sum(p["verified"] for p in pages), f"{name}: pages verified != page events")
    # The run's pages, not the image's: 0 when programming did not start (a refused or declined image).
    started = [e["pages"] for e in events if e["event"] == "programming_started"]
    check(result["pages_total"] == (started[0] if started else 0),
          f"{name}: pages_total {result['pages_total']}, the run set out to program {started}")
    check([p["index"] for p in pages] == list(range(1, len(pages) + 1)), f"{name}: page indexes out of order")
    check(all(isinstance(e.get("t_ms"), int) for e in events), f"{name}: an event without its time")
    boxes = [e for e in events if e["event"] == "box"]
    check(all({"text", "caption", "style", "answer"} <= e.keys() for e in boxes), f"{name}: a box lacks a field")
    if "--check" in args:
        check(kinds.count("check_verdict") == (1 if want_outcome.startswith("would") or want_outcome == "run-not-sent"
                                               else 0),
              f"{name}: check verdicts {kinds.count('check_verdict')}")
        check(not any(b["style"] & 0x0F == 4 for b in boxes), f"{name}: the check asked a question")
    if code == 0 and "--check" not in args:
        total = result["pages_total"]
        check(total > 0 and result["pages_verified"] == total and result["signature_confirmed"] and result["run_sent"],
              f"{name}: exit 0 without every page verified, the signature confirmed and the run command sent")
        check(result["message"] == f"device runs firmware {result['image_version']} (updated)", f"{name}: message")
    # A No over no valid application names the step that installs the image, not one that declines again.
    if want_outcome == "declined" and want_state == "no-valid-application":
        check("--yes installs the image" in result["message"] and "run the update again" not in result["message"],
              f"{name}: message {result['message']!r}")
    if code == 3 and "--check" not in args:
        check(result["pages_programmed"] == 0 and "kept firmware" in result["message"], f"{name}: exit 3 message")
    if device is None:
        check(summary == {"sim_device": None}, f"{name}: a device was attached")
        return
    if not check(summary is not None, f"{name}: no summary of the simulated device"):
        return
    writes = (summary["flash_key_packets"], summary["erase_packets"], summary["halves_written"],
              summary["signature_packets"])
    if device == "image":
        check(summary["pages_matching_image"] == summary["image_pages"] and summary["signature_valid"],
              f"{name}: the device does not hold the image with a valid signature: {summary}")
        check(result["pages_verified"] == summary["image_pages"], f"{name}: verified pages != the image's pages")
    elif device == "key-only":
        check(not summary["flash_changed"] and writes == (1, 0, 0, 0) and summary["signature_valid"],
              f"{name}: more than the flash key reached the device: {summary}")
    elif device == "untouched":
        check(not summary["flash_changed"] and writes == (0, 0, 0, 0),
              f"{name}: something was written to the device: {summary}")
    else:
        check(not summary["signature_valid"], f"{name}: the signature is valid after a failure: {summary}")
    # A device with a valid application goes back to it after a check or a No.
    if device == "untouched" and want_state == "kept-application":
        check(summary["run_commands"] == 1 and result["run_sent"], f"{name}: no run command: {summary}")
    # A refused image names both types, and no step that refuses again.
    if want_outcome in ("refused", "would-refuse"):
        check("this firmware is for type 0x83; the device is type 0x84" in result["message"]
              and "run again" not in result["message"] and "run the update again" not in result["message"],
              f"{name}: refusal message {result['message']!r}")


def check_restart_waits():
    # A device that restarts in 300 ms: auto goes on as soon as the bootloader is there.
    code, events, summary = run_json(["--restart-delay", "300"] + FAST)
    awaited = [e for e in events if e["event"] == "restart_awaited"]
    check(code == 0 and len(awaited) == 1 and awaited[0]["end"] == "bootloader-seen"
          and 300 <= awaited[0]["waited_ms"] <= 400, f"auto wait, 300 ms restart: {awaited}, exit {code}")
    # The polls are silent: no box before the bootloader appears, one device_found per discovery.
    before = events[:events.index(awaited[0])] if awaited else []
    check(not any(e["event"] == "box" for e in before), "auto wait: a box while polling")
    check([e["event"] for e in events].count("device_found") == 2, "auto wait: polls reported as devices found")
    # One that never comes back: the wait ends after 10,000 ms and the update fails without writing, the
    # switched device's state unknown.
    code, events, summary = run_json(["--restart-delay", "60000"] + FAST)
    awaited = [e for e in events if e["event"] == "restart_awaited"]
    check(code == 1 and awaited and awaited[0]["end"] == "timed-out" and 10000 <= awaited[0]["waited_ms"] <= 10100
          and events[-1]["outcome"] == "switched-device-missing" and events[-1]["device_state"] == "unknown"
          and not summary["flash_changed"],
          f"auto wait, no return: {awaited}, exit {code}, {events[-1] if events else None}")
    # A lone device that is not back when a short wait ends: the switched device is missing, its state unknown
    # (not "unchanged": it was restarted).
    code, events, summary = run_json(["--restart-delay", "60000", "--restart-wait", "100"] + FAST[:4])
    check(code == 1 and events[-1]["outcome"] == "switched-device-missing" and events[-1]["device_state"] == "unknown"
          and any(e["event"] == "switched_device_missing" for e in events) and not summary["flash_changed"],
          f"lone device not back: exit {code}, {events[-1] if events else None}")
    # A device found in its bootloader restarts nothing: no wait at all.
    code, events, _ = run_json(["--bootloader", "--reply-delay", "0", "--erase-delay", "0"])
    check(code == 0 and not any(e["event"] == "restart_awaited" for e in events) and events[-1]["elapsed_ms"] < 1500,
          f"no wait for a device already in its bootloader: exit {code}, {events[-1] if events else None}")
    # A bystander in its bootloader beside a chosen device in its application: after a restart the two could
    # not be told apart, so the chosen one is not restarted, and nothing is written to any device.
    for wait in (["--restart-wait", "2000"], ["--restart-wait", "auto"]):
        code, events, summary = run_json(wait + ["--device", "0", "--more-devices", "bootloader", "--restart-delay", "60000",
                                                 "--reply-delay", "0", "--erase-delay", "0"])
        result = events[-1] if events else {}
        check(code == 2 and result.get("outcome") == "another-bootloader-present"
              and result.get("device_state") == "unchanged" and "--device 1" in result.get("message", "")
              and [e["index"] for e in events if e["event"] == "bootloader_waiting"] == [1]
              and summary["flash_key_packets"] == summary["erase_packets"] == summary["halves_written"] == 0
              and summary["mode_switches"] == 0
              and not any(e["event"] == "box" and e["text"] == "OK" for e in events),
              f"bystander with {wait}: exit {code}, {result}, {summary}")
    # The fixed wait: its time is the option's.
    code, events, _ = run_json(["--restart-wait", "700", "--reply-delay", "0", "--erase-delay", "0"])
    awaited = [e for e in events if e["event"] == "restart_awaited"]
    check(code == 0 and awaited and awaited[0] == {**awaited[0], "waited_ms": 700, "end": "waited"},
          f"fixed wait 700: {awaited}")


# ---------------------------------------------------------------- human output

def check_human():
    code, out, err = run(FAST)
    lines = out.splitlines()
    progress = [l for l in lines if re.match(r"page \d+ of 53 \(\d+%\), \d+\.\d s$", l)]
    indexes = [int(l.split()[1]) for l in progress]
    check(indexes == [6, 11, 16, 22, 27, 32, 38, 43, 48, 53], f"progress lines at every tenth: {indexes}")
    # The percentage is rounded down: 100 % only for the last page.
    shown = [(int(l.split()[1]), int(re.search(r"\((\d+)%\)", l).group(1))) for l in progress]
    check(all(percent == index * 100 // 53 for index, percent in shown), f"progress percentages: {shown}")
    check(code == 0 and lines[-1] == "device runs firmware 1.00 (updated)", f"human update: last line {lines[-1:]}")
    check(not any(l.strip() == "Working" for l in lines), "the loader's line reached the human output")

    code, out, err = run(["-q", "--no", "--installed", "2.00"] + FAST)
    check(code == 3 and out == "kept firmware 2.00: the older image was declined\n", f"-q declined: {out!r}")
    code, out, err = run(["-q", "--fault", "wrong-checksum:21"] + FAST)
    check(code == 4 and out == "no valid application on the device: run the update again\n"
          and re.fullmatch(r"page 13 \(4 of 53\): checksum 0x[0-9A-F]{4}, expected 0x[0-9A-F]{4}\n", err),
          f"-q failed: {out!r} {err!r}")
    # Boxes: not as raw lines in normal or quiet output, only with -v.
    check(not re.search(r"^box ", out, re.M), "-q: a raw box line")
    code, out, err = run(["--fault", "wrong-checksum:21"] + FAST)
    check(not re.search(r"^box ", out, re.M) and "window program would show" not in out, f"box lines: {out!r}")
    code, out, err = run(["-v", "--fault", "wrong-checksum:21"] + FAST)
    check(any(re.fullmatch(r'box "Error" caption " "( \(\d+ times\))?', l) for l in out.splitlines()),
          f"-v: the raw box line: {out!r}")
    # Its own voice: a refusal has no failed exchange to explain it, yet no line speaks of the window
    # program; its raw boxes, texts and loader line are -v's, in JSON as in words.
    code, out, err = run(["--type", "0x84"] + FAST)
    check(code == 1 and "window program" not in out + err and not re.search(r"^box ", out, re.M),
          f"refused image, default output: {out!r} {err!r}")
    for verbose, want in (([], set()), (["-v"], {"box", "text", "loader_output"})):
        code, out, err = run(["--json", "--type", "0x84"] + verbose + FAST)
        kinds = {json.loads(line)["event"] for line in out.splitlines()}
        check(code == 1 and kinds & {"box", "text", "loader_output"} == want
              and {"device_found", "device_identified", "image_prepared", "result"} <= kinds,
              f"refused image, --json {verbose}: events {sorted(kinds)}")

    code, out, err = run(["-v", "--bootloader"] + FAST)
    check("  > 00" in out.splitlines() and any(re.fullmatch(r"  < (.. ){4}00 5A 3D C2 83", l) for l in out.splitlines()),
          "-v: the info packet and its reply")
    check(sum(l.startswith("  > 03 00 ") for l in out.splitlines()) == 53, "-v: 53 first halves sent")

    code, events, _ = run_json(["--bootloader"] + FAST)  # run_json passes -v
    check(any(e["event"] == "packet_sent" and e["bytes"] == "05" for e in events), "-v --json: the run command")

    # On a terminal: one bar redrawn in place.
    master, slave = pty.openpty()
    p = subprocess.Popen([PROGRAM] + FAST, stdin=subprocess.DEVNULL, stdout=slave, stderr=subprocess.PIPE)
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
    os.close(master)
    text = b"".join(chunks).decode()
    bars = re.findall(r"\r\[[#.]{30}\] page (\d+) of 53 +(\d+)% \d+\.\d s", text)
    check(p.returncode == 0 and len(bars) == 53 and bars[-1] == ("53", "100"), f"terminal progress bar: {bars[-3:]}")
    wrong = [(page, percent) for page, percent in bars if int(percent) != int(page) * 100 // 53]
    check(not wrong, f"terminal progress bar: percentages not rounded down: {wrong}")
    check(not re.search(r"^page \d+ of 53 \(", text, re.M), "terminal: progress lines as well as the bar")
    lines = text.replace("\r\n", "\n").split("\n")
    check("" not in lines[:-1], f"terminal: an empty line after the bar: {lines[-4:]}")


def answer_on_terminal(args, answer):
    """Runs under a pseudo-terminal and types `answer` (bytes) once the
    question's prompt is shown. Returns the exit code and the output."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(PROGRAM, [PROGRAM] + args)
    output, typed = b"", False
    while True:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
        if not typed and b"answer [y/N]: " in output:
            typed = True
            os.write(fd, answer)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    return os.waitstatus_to_exitcode(status), output.decode(errors="replace")


# What is typed at the question on a terminal, and whether it reads as Yes.
TERMINAL_ANSWERS = [(b"Y\n", True), (b"y\n", True), (b" y\n", True), (b"yes\n", True), (b"n\n", False),
                    (b"\n", False), (b"N\n", False), (b"x y\n", False)]


def check_terminal_answers():
    for answer, yes in TERMINAL_ANSWERS:
        code, out = answer_on_terminal(["--installed", "2.00"] + FAST, answer)
        last = out.replace("\r\n", "\n").rstrip("\n").split("\n")[-1]
        want = (0, "device runs firmware 1.00 (updated)") if yes else (
            3, "kept firmware 2.00: the older image was declined")
        check((code, last) == want, f"answer {answer!r} on a terminal: exit {code}, last line {last!r}")


def check_list():
    code, events, _ = run_json(["--list", "--more-devices", "bootloader,unknown,application"])
    found = [(e["index"], e["kind"], e["id"]) for e in events if e["event"] == "device_found"]
    check(code == 0 and found == [(0, "application", "2021"), (1, "bootloader", "ar5w2~"),
                                  (2, "unknown", "LX-7 sensor"), (3, "application", "2021")], f"--list: {found}")
    check(events[-1]["event"] == "result" and events[-1]["outcome"] == "listed", "--list: result")
    check(events[-1].get("device_index", 0) is None, f"--list acts on no device: {events[-1]}")
    code, out, _ = run(["--list", "--bootloader", "--sim-summary"])
    check(code == 0 and out == 'device 0: "ar5w2~" (bootloader)\n', f"--list human: {out!r}")
    code, _, err = run(["--list", "--sim-summary"])
    summary = json.loads([l for l in err.splitlines() if l.startswith("{")][0])
    check(summary["mode_switches"] == 0 and not summary["flash_changed"], "--list wrote to the device")
    code, events, _ = run_json(["--list", "--no-device"])
    check(code == 0 and [e["event"] for e in events] == ["result"], "--list with no device")


def check_info():
    flash, pages = image_from_hex(FIRMWARE_HEX)
    code, events, _ = run_json(["--info"])
    info = [e for e in events if e["event"] == "info"]
    check(code == 0 and len(info) == 1, "--info: one info object")
    if info:
        i = info[0]
        check(i["sha256"] == hashlib.sha256(flash).hexdigest(), f"--info sha256 {i['sha256']}")
        check((i["first_page"], i["last_page"], i["pages"]) == (pages[0], pages[-1], len(pages)), f"--info pages {i}")
        last = pages[-1] * 512
        check(i["image_type"] == f"0x{flash[last + 0x1FB]:02X}", "--info type")
        check(i["image_version"] == f"{flash[last + 0x1FC]}.{flash[last + 0x1FD]:02d}", "--info version")
    code, out, _ = run(["--info"])
    check(hashlib.sha256(flash).hexdigest() in out and "Working" not in out, f"--info human: {out!r}")
    code, out, _ = run(["--version"])
    check(code == 0 and re.fullmatch(r"lumaris-update \d+\.\d+\.\d+, built-in firmware \d+\.\d\d for device type 0x[0-9A-F]{2}\n", out),
          f"--version: {out!r}")
    code, out, _ = run(["--help"])
    for option in ["--check", "--list", "--info", "--version", "--yes", "--no", "--json", "-q", "-v",
                   "--restart-wait", "--type", "--installed", "--fault", "--no-device", "--more-devices"]:
        check(re.search(r"(^|\s|,)" + re.escape(option) + r"\b", out), f"--help does not list {option}")
    for exit_code in "0123":
        check(re.search(rf"^  {exit_code}  ", out, re.M), f"--help does not explain exit code {exit_code}")


# argv, words the one error line must hold
USAGE_CASES = [
    (["--yes", "--no"], ["--no", "--yes"]),
    (["--fault", "vanish:3", "--fault", "bad-ack:4"], ["--fault", "more than once"]),
    (["--check", "--list"], ["--list", "--check"]),
    (["-q", "-v"], ["-v", "-q"]),
    (["--restart-wait", "fast"], ["--restart-wait", '"fast"', "0..60000"]),
    (["--restart-wait", "60001"], ["--restart-wait", '"60001"', "0..60000"]),
    (["--reply-delay", "010"], ["--reply-delay", '"010"', "0..10000"]),
    (["--reply-delay", "-1"], ["--reply-delay", '"-1"', "0..10000"]),
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
    (["--more-devices", "toaster"], ["--more-devices", '"toaster"']),
    (["--reply-delay"], ["--reply-delay", "needs a value"]),
    (["--frobnicate"], ["--frobnicate"]),
    (["--check", "--yes"], ["--yes", "--check"]),
    (["--info", "--restart-wait", "auto"], ["--restart-wait", "--info"]),
    (["--json=yes"], ["--json", "no value"]),
    (["--no-device", "--type", "0x83"], ["--no-device"]),
]


def check_usage():
    for args, words in USAGE_CASES:
        code, out, err = run(args)
        lines = err.splitlines()
        ok = code == 2 and out == "" and len(lines) == 1 and all(w in lines[0] for w in words)
        check(ok, f"{args}: exit {code}, stderr {err!r}")
    # Accepted forms of numbers and versions.
    for args in (["--installed", "1.10"], ["--installed", "0x010A"], ["--installed", "266"], ["--reply-delay=0x0"],
                 ["--restart-wait=auto"]):
        code, out, err = run(["--list"] + args if "--restart-wait" not in args[0] else ["--check", "--no-device"] + args)
        check(code in (0, 1) and "conflicts" not in err and "is not" not in err, f"{args} refused: {err!r}")
    code, events, _ = run_json(["--check", "--installed", "1.10"] + FAST)
    identified = [e for e in events if e["event"] == "device_identified"]
    check(identified and identified[0]["installed_version"] == "1.10", "--installed 1.10 is 0x010A")
    code, events, _ = run_json(["--check", "--installed", "0x010A"] + FAST)
    identified = [e for e in events if e["event"] == "device_identified"]
    check(identified and identified[0]["installed_version"] == "1.10", "--installed 0x010A reads 1.10")


def main():
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        jobs = [pool.submit(check_update, case) for case in UPDATE_CASES]
        jobs += [pool.submit(f) for f in (check_restart_waits, check_human, check_terminal_answers, check_list,
                                          check_info, check_usage)]
        for job in jobs:
            job.result()
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(UPDATE_CASES)} update cases, {len(USAGE_CASES)} usage cases; {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
