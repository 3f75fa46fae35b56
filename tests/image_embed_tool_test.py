#!/usr/bin/python3
"""The embedding tool: its refusals, its normalisation, its warnings and
summary, and embedding unchecked text.

    image_embed_tool_test.py EMBED_TOOL
"""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "firmware"))
import make_demo_hex as demo  # noqa: E402

TOOL = None
END = ":00000001FF"


def body():
    return demo.record(0x1400, 0x00, bytes(range(0x20, 0x30)))


def signature(page, device_type, version=(1, 0)):
    return demo.record(page * 512 + 0x1FB, 0x00, bytes([device_type, *version]))


def small_image():
    """A valid image for device type 0x81: some data in page 10, its
    signature in page 29."""
    return [body(), signature(29, 0x81), END]


class Run:
    def __init__(self, text, *options):
        self.dir = tempfile.TemporaryDirectory()
        self.input = os.path.join(self.dir.name, "image.hex")
        self.output = os.path.join(self.dir.name, "embedded.cpp")
        self.raw = os.path.join(self.dir.name, "embedded.bin")
        self.facts = os.path.join(self.dir.name, "facts.txt")
        self.header = os.path.join(self.dir.name, "firmware_version.h")
        with open(self.input, "wb") as f:
            f.write(text.encode("latin-1") if isinstance(text, str) else text)
        done = subprocess.run([TOOL, *options, "--raw", self.raw, "--facts", self.facts,
                               "--version-header", self.header, self.input, self.output],
                              capture_output=True, text=True)
        self.code, self.stdout, self.stderr = done.returncode, done.stdout, done.stderr

    def source(self):
        with open(self.output) as f:
            return f.read()

    def scrambled(self):
        with open(self.raw, "rb") as f:
            return f.read()


def lines_text(lines, end="\n"):
    return "".join(line + end for line in lines)


class Refusals(unittest.TestCase):
    def refuse(self, lines, line_number, reason):
        run = Run(lines_text(lines))
        self.assertEqual(run.code, 1, run.stderr)
        self.assertIn(f"{run.input}:{line_number}: error: {reason}", run.stderr)
        self.assertFalse(os.path.exists(run.output), "a refused image must not be embedded")

    def test_each_reason_names_file_line_and_reason(self):
        b, s = body(), signature(29, 0x81)
        bad_sum = s[:-2] + "%02X" % ((int(s[-2:], 16) + 1) & 0xFF)
        cases = [
            ("bad checksum", [b, bad_sum, END], 2, "bad record checksum"),
            ("type 03", [b, demo.record(0, 0x03, b"\x00\x00\x14\x00"), s, END], 2, "record type 0x03"),
            ("type 05", [b, s, demo.record(0, 0x05, b"\x00\x00\x14\x00"), END], 3, "record type 0x05"),
            ("extended linear address 1", [demo.record(0, 0x04, b"\x00\x01"), b, s, END], 1,
             "record type 0x04 (extended address 0x0001)"),
            ("extended segment address", [b, demo.record(0, 0x02, b"\x10\x00"), s, END], 2,
             "record type 0x02 (extended address 0x1000)"),
            ("below 0x1400", [b, demo.record(0x13FF, 0, b"\x01"), s, END], 2,
             "data byte at address 0x13FF lies outside 0x1400..0xFBFF"),
            ("above 0xFBFF", [b, s, demo.record(0xFBFE, 0, b"\x01\x02\x03"), END], 3,
             "data byte at address 0xFC00 lies outside"),
            ("highest page 30", [b, s, demo.record(30 * 512, 0, b"\x01"), END], 3, "the highest used page is 30"),
            ("highest page 125", [b, signature(124, 0x84), demo.record(0xFBF0, 0, b"\x01"), END], 3,
             "the highest used page is 125"),
            ("type 0x87", [b, signature(124, 0x87), END], 2, "device type byte 0x87 at 0xF9FB lies outside 0x81..0x86"),
            ("type 0x80", [b, signature(29, 0x80), END], 2, "device type byte 0x80"),
            ("type not covered", [b, demo.record(29 * 512 + 0x1FC, 0, b"\x01\x00"), END], 2,
             "the device type byte at 0x3BFB (offset 0x1FB of page 29) is not covered"),
            ("page above the type's last page", [b, signature(62, 0x81), END], 2,
             "the highest used page 62 lies above page 29, the last page of device type 0x81"),
            ("no end record", [b, s], 2, "no end record"),
            ("record after the end", [b, s, END, demo.record(0x1500, 0, b"\x01")], 4,
             "a record after the end record (line 3)"),
            ("byte count", [b, ":02140000010203E4", s, END], 2, "the byte count says 2 data bytes, the record holds 3"),
            ("not a digit", [b, s.replace("3B", "3G"), END], 2, "character 'G' at column 5 is not a hexadecimal digit"),
            ("no record mark", [b, " " + s, END], 2, "the line does not start with a record mark ':'"),
            ("empty line", [b, "", s, END], 2, "empty line"),
            ("no data", [END], 1, "the image holds no data bytes"),
        ]
        for name, lines, line_number, reason in cases:
            with self.subTest(name):
                self.refuse(lines, line_number, reason)


class Normalisation(unittest.TestCase):
    def test_crlf_lower_case_and_zero_extended_addresses_embed_as_the_clean_form(self):
        lines = demo.hex_lines(demo.make_image(0x81, (2, 10)))
        clean = Run(lines_text(lines))
        self.assertEqual(clean.code, 0, clean.stderr)
        zero_ext = [demo.record(0, 0x04, b"\x00\x00")] + lines[:5] + [demo.record(0, 0x02, b"\x00\x00")] + lines[5:]
        variants = {
            "CR LF": lines_text(lines, "\r\n"),
            "lower case": lines_text(lines).lower(),
            "zero extended addresses": lines_text(zero_ext),
            "all three": lines_text(zero_ext, "\r\n").lower(),
        }
        for name, text in variants.items():
            with self.subTest(name):
                run = Run(text)
                self.assertEqual(run.code, 0, run.stderr)
                self.assertEqual(run.scrambled(), clean.scrambled())
                self.assertEqual(run.source(), clean.source())
                self.assertNotIn("warning", run.stderr)

    def test_embedded_text_is_scrambled_and_as_long_as_the_clean_text(self):
        text = lines_text(small_image())
        run = Run(text)
        self.assertEqual(run.code, 0, run.stderr)
        scrambled = run.scrambled()
        self.assertEqual(len(scrambled), len(text))
        self.assertTrue(all(10 <= b <= 70 for b in scrambled))
        self.assertNotEqual(scrambled, text.encode())
        self.assertIn(f"EMBEDDED_IMAGE[] = {{\n{scrambled[0]},{scrambled[1]},", run.source())


class WarningsAndSummary(unittest.TestCase):
    def test_summary_line(self):
        run = Run(demo.hex_text(demo.make_image(0x83, (1, 0))))
        self.assertEqual(run.code, 0, run.stderr)
        self.assertEqual(run.stdout.strip(),
                         "image.hex: device type 0x83, version 1.00, 53 pages used (10..62), 27134 bytes; "
                         "74632 text bytes embedded")

    def test_facts_and_version_header(self):
        cases = [
            # name, image, facts expected (besides hex=), version macro
            ("demo", demo.make_image(0x83, (1, 0)),
             ["type=0x83", "version=1.00", "first_page=10", "last_page=62", "pages=53"], "1.00"),
            ("minor byte 0x0A is ten", demo.make_image(0x86, (1, 0x0A), first_page=120),
             ["type=0x86", "version=1.10", "first_page=120", "last_page=124", "pages=5"], "1.10"),
            ("two-digit minor", demo.make_image(0x81, (2, 5), first_page=29),
             ["type=0x81", "version=2.05", "first_page=29", "last_page=29", "pages=1"], "2.05"),
            ("version bytes not covered", demo.make_image(0x84, None, first_page=100),
             ["type=0x84", "version=no version", "first_page=100", "last_page=124", "pages=25"], "no version"),
        ]
        for name, image, facts, version in cases:
            with self.subTest(name):
                run = Run(demo.hex_text(image))
                self.assertEqual(run.code, 0, run.stderr)
                with open(run.facts) as f:
                    self.assertEqual(f.read().splitlines(), facts + ["hex=" + os.path.realpath(run.input)])
                with open(run.header) as f:
                    header = f.read()
                self.assertIn(f'#define LUMARIS_FIRMWARE_VERSION_TEXT "{version}"\n', header)
                self.assertIn(f'#define LUMARIS_FIRMWARE_TYPE_TEXT "{facts[0][5:]}"\n', header)

    def test_facts_header_compiles_as_cxx(self):
        run = Run(demo.hex_text(demo.make_image(0x83, (1, 0x0A))))
        self.assertEqual(run.code, 0, run.stderr)
        program = os.path.join(run.dir.name, "show.cpp")
        with open(program, "w") as f:
            f.write('#include <cstdio>\n#include "firmware_version.h"\n#include "firmware_version.h"\n'
                    'int main() { std::puts(LUMARIS_FIRMWARE_TYPE_TEXT " " LUMARIS_FIRMWARE_VERSION_TEXT); }\n')
        exe = os.path.join(run.dir.name, "show")
        subprocess.run(["c++", "-Wall", "-Werror", "-I", run.dir.name, program, "-o", exe], check=True)
        self.assertEqual(subprocess.run([exe], capture_output=True, text=True).stdout, "0x83 1.10\n")

    def test_warnings_embed_the_image(self):
        b = body()
        cases = [
            ("version not covered", [b, demo.record(62 * 512 + 0x1FB, 0, b"\x83"), END], "the version bytes at 0x7DFC, 0x7DFD are not covered"),
            ("device signature bytes covered", [b, demo.record(62 * 512 + 0x1FB, 0, b"\x83\x01\x00\x12\x34"), END],
             "byte 0x12 at 0x7DFE"),
            ("signature page below the type's last page", [b, signature(29, 0x84), END],
             "the signature page 29 is not page 124"),
        ]
        for name, lines, warning in cases:
            with self.subTest(name):
                run = Run(lines_text(lines))
                self.assertEqual(run.code, 0, run.stderr)
                self.assertIn(": warning: " + warning, run.stderr)
                self.assertTrue(os.path.exists(run.output))


class Unchecked(unittest.TestCase):
    def test_unchecked_text_is_embedded_as_it_is_with_warnings(self):
        s = signature(29, 0x81)
        bad_sum = s[:-2] + "%02X" % ((int(s[-2:], 16) + 1) & 0xFF)
        text = lines_text([body(), bad_sum, END], "\r\n").lower()
        run = Run(text, "--no-check")
        self.assertEqual(run.code, 0, run.stderr)
        self.assertIn(f"{run.input}:2: warning: bad record checksum", run.stderr)
        self.assertIn("warning: the program's loader will not load this text", run.stderr)
        self.assertEqual(len(run.scrambled()), len(text))

    def test_unchecked_clean_image_is_embedded_without_warnings(self):
        run = Run(lines_text(small_image()), "--no-check")
        self.assertEqual(run.code, 0, run.stderr)
        self.assertEqual(run.stderr, "")


if __name__ == "__main__":
    TOOL = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
