#!/usr/bin/python3
"""What a person types reaches every output intact: a table of labels (and a
log path) through --json, the --log file and the human result line, each
JSON line read by Python's json module and compared with the bytes typed,
or, for bytes that are not UTF-8, with the documented form: each byte as the
character of that number (\\u00XX) plus `label_hex` with the raw bytes.

    console_text_test.py LUMARIS_UPDATE [UNITTEST ARGUMENT...]
"""
import json
import os

import console_harness as harness
from console_harness import InScratchFolder, run

FAST = [os.fsencode(option) for option in harness.FAST]

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


class Labels(InScratchFolder):
    """Each label of the table through --json, the --log file and the last line in words."""

    @classmethod
    def setUpClass(cls):
        cls.plain = run(FAST, text=False)  # the same update without a label

    def assert_label(self, what, obj, typed, where):
        """`obj` holds `label` as typed: its text, or its bytes and label_hex."""
        try:
            text = typed.decode("utf-8")
        except UnicodeDecodeError:
            self.assertTrue(obj.get("label") == typed.decode("latin-1") and obj.get("label_hex") == typed.hex().upper(),
                            f"{what} in {where}: {obj.get('label')!r}, label_hex {obj.get('label_hex')!r} "
                            f"(typed {typed!r})")
        else:
            self.assertTrue(obj.get("label") == text and "label_hex" not in obj,
                            f"{what} in {where}: {obj.get('label')!r} (typed {text!r}), "
                            f"label_hex {obj.get('label_hex')!r}")

    def test_without_a_label(self):
        last_line = self.plain.out.splitlines()[-1]
        self.assertTrue(self.plain.code == 0 and b"(updated)" in last_line,
                        f"without a label: exit {self.plain.code}, {last_line!r}")

    def test_json_and_the_log_hold_each_label_as_typed(self):
        for what, typed, _ in LABELS:
            with self.subTest(what):
                log = os.path.join(os.fsencode(self.folder), b"log.jsonl")
                if os.path.exists(log):
                    os.remove(log)
                code, out, _ = run([b"--json", b"--label", typed, b"--log", log] + FAST, text=False)
                self.assertEqual(code, 0, f"{what}: --json exit code")
                self.assertTrue(out.isascii(), f"{what}: --json writes JSON in ASCII, every character beyond it escaped")
                screen = [json.loads(line) for line in out.splitlines()]
                self.assert_label(what, screen[-1], typed, "the result on standard output")
                with open(log, "rb") as f:
                    logged = [json.loads(line) for line in f.read().splitlines()]
                self.assertTrue(logged[0]["event"] == "run_started" and logged[-1]["event"] == "result",
                                f"{what}: the log's lines")
                self.assert_label(what, logged[0], typed, "run_started in the log")
                self.assert_label(what, logged[-1], typed, "the result in the log")
                options, hexes = logged[0]["options"], logged[0].get("options_hex")
                at = options.index("--label") + 1
                if typed.isascii() or "label_hex" not in logged[0]:
                    self.assertTrue(options[at] == typed.decode("utf-8") and hexes is None,
                                    f"{what}: options in run_started {options}, options_hex {hexes}")
                else:
                    self.assertTrue(options[at] == typed.decode("latin-1") and hexes is not None
                                    and hexes[at] == typed.hex().upper() and hexes.count(None) == len(options) - 1,
                                    f"{what}: options in run_started {options}, options_hex {hexes}")
                if "emoji" in what:
                    self.assertIn(b"\\uD83D\\uDE00", out,
                                  f"{what}: U+1F600 as the surrogate pair \\uD83D\\uDE00: {out.splitlines()[-1]!r}")

    def test_the_last_line_in_words_shows_each_label(self):
        last_line = self.plain.out.splitlines()[-1]
        for what, typed, shown in LABELS:
            with self.subTest(what):
                code, out, _ = run([b"--label", typed] + FAST, text=False)
                last = out.splitlines()[-1] if out else b""
                self.assertTrue(code == 0 and last == shown + b": " + last_line,
                                f"{what}: the human result line {last!r}, exit {code}")


class LogPath(InScratchFolder):
    def test_a_log_named_beyond_ascii(self):
        name = "log Ω 中文 Prüf.jsonl"
        path = os.path.join(self.folder, name)
        code, _, err = run([b"--label", "Ω 中文".encode(), b"--log", os.fsencode(path)] + FAST, text=False)
        self.assertTrue(code == 0 and os.listdir(self.folder) == [name],
                        f"--log {name!r}: exit {code}, {os.listdir(self.folder)}, {err!r}")
        with open(path, "rb") as f:
            self.assertEqual(json.loads(f.readline())["label"], "Ω 中文",
                             "--log with a non-ASCII name: the label in it")

    def test_a_log_that_cannot_be_opened_is_named_as_typed(self):
        missing = os.path.join(self.folder, "no folder Ω", "log.jsonl")
        code, out, err = run([b"--log", os.fsencode(missing)] + FAST, text=False)
        self.assertTrue(code == 2 and out == b"" and os.fsencode(missing) in err,
                        f"--log in a missing folder: {code} {err!r}")


if __name__ == "__main__":
    harness.main("LUMARIS_UPDATE")
