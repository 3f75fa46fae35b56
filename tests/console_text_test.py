#!/usr/bin/env python3
"""What a person types reaches every output intact: a table of labels (and a
log path) through --json, the --log file and the human result line, each
JSON line read by Python's json module and compared with the bytes typed,
or, for bytes that are not UTF-8, with the documented form: each byte as the
character of that number (\\u00XX) plus `label_hex` with the raw bytes.
Usage: console_text_test.py LUMARIS_UPDATE
"""
import json
import os
import subprocess
import sys
import tempfile

PROGRAM = os.fsencode(sys.argv[1])
FAST = [b"--reply-delay", b"0", b"--erase-delay", b"0", b"--restart-wait", b"auto"]
failures = []

# (what it is, the bytes typed, how a person sees it on a UTF-8 terminal)
LABELS = [
    ("ASCII", b"SN-0042", b"SN-0042"),
    ("Latin-1 range", "Prüfplatz Äß é".encode(), "Prüfplatz Äß é".encode()),
    ("Greek", "Ω αβγ".encode(), "Ω αβγ".encode()),
    ("CJK", "中文 工位".encode(), "中文 工位".encode()),
    ("emoji above U+FFFF", "SN 😀 𝄞".encode(), "SN 😀 𝄞".encode()),
    ("a lone continuation byte", b"SN\x80-1", b"SN\\x80-1"),
    ("an overlong encoding", b"a\xc0\xafb", b"a\\xC0\\xAFb"),
]


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def run(args):
    p = subprocess.run([PROGRAM] + args, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    return p.returncode, p.stdout, p.stderr


def check_label(what, obj, typed, where):
    """`obj` holds `label` as typed: its text, or its bytes and label_hex."""
    try:
        text = typed.decode("utf-8")
        check(obj.get("label") == text and "label_hex" not in obj,
              f"{what} in {where}: {obj.get('label')!r} (typed {text!r}), label_hex {obj.get('label_hex')!r}")
    except UnicodeDecodeError:
        check(obj.get("label") == typed.decode("latin-1") and obj.get("label_hex") == typed.hex().upper(),
              f"{what} in {where}: {obj.get('label')!r}, label_hex {obj.get('label_hex')!r} (typed {typed!r})")


def check_labels(folder):
    code, out, _ = run(FAST)
    last_line = out.splitlines()[-1]
    check(code == 0 and b"(updated)" in last_line, f"without a label: exit {code}, {last_line!r}")
    for what, typed, shown in LABELS:
        log = os.path.join(os.fsencode(folder), b"log.jsonl")
        if os.path.exists(log):
            os.remove(log)
        code, out, _ = run([b"--json", b"--label", typed, b"--log", log] + FAST)
        check(code == 0, f"{what}: --json exit {code}")
        check(out.isascii(), f"{what}: --json writes JSON in ASCII, every character beyond it escaped")
        screen = [json.loads(line) for line in out.splitlines()]
        check_label(what, screen[-1], typed, "the result on standard output")
        with open(log, "rb") as f:
            logged = [json.loads(line) for line in f.read().splitlines()]
        check(logged[0]["event"] == "run_started" and logged[-1]["event"] == "result", f"{what}: the log's lines")
        check_label(what, logged[0], typed, "run_started in the log")
        check_label(what, logged[-1], typed, "the result in the log")
        options, hexes = logged[0]["options"], logged[0].get("options_hex")
        at = options.index("--label") + 1
        if typed.isascii() or "label_hex" not in logged[0]:
            check(options[at] == typed.decode("utf-8") and hexes is None,
                  f"{what}: options in run_started {options}, options_hex {hexes}")
        else:
            check(options[at] == typed.decode("latin-1") and hexes is not None
                  and hexes[at] == typed.hex().upper() and hexes.count(None) == len(options) - 1,
                  f"{what}: options in run_started {options}, options_hex {hexes}")
        if "emoji" in what:
            check(b"\\uD83D\\uDE00" in out,
                  f"{what}: U+1F600 as the surrogate pair \\uD83D\\uDE00: {out.splitlines()[-1]!r}")
        code, out, _ = run([b"--label", typed] + FAST)
        last = out.splitlines()[-1] if out else b""
        check(code == 0 and last == shown + b": " + last_line, f"{what}: the human result line {last!r}")


def check_log_path(folder):
    name = "log Ω 中文 Prüf.jsonl"
    path = os.path.join(folder, name)
    code, _, err = run([b"--label", "Ω 中文".encode(), b"--log", os.fsencode(path)] + FAST)
    check(code == 0 and os.listdir(folder) == [name], f"--log {name!r}: exit {code}, {os.listdir(folder)}, {err!r}")
    with open(path, "rb") as f:
        check(json.loads(f.readline())["label"] == "Ω 中文", "--log with a non-ASCII name: the label in it")
    # A log that cannot be opened: its name as typed in the message.
    missing = os.path.join(folder, "no folder Ω", "log.jsonl")
    code, out, err = run([b"--log", os.fsencode(missing)] + FAST)
    check(code == 2 and out == b"" and os.fsencode(missing) in err, f"--log in a missing folder: {code} {err!r}")


def main():
    with tempfile.TemporaryDirectory() as folder:
        check_labels(folder)
    with tempfile.TemporaryDirectory() as folder:
        check_log_path(folder)
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
