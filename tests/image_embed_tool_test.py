#!/usr/bin/python3
"""The embedding tool: its refusals, its normalisation, its warnings and
summary, and embedding unchecked text.

    image_embed_tool_test.py EMBED_TOOL
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest
import weakref

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
    def __init__(self, text, *options, name="image.hex", input_path=None):
        self.dir = tempfile.TemporaryDirectory()
        weakref.finalize(self, self.dir.cleanup)
        self.input = input_path or os.path.join(self.dir.name, name)
        self.output = os.path.join(self.dir.name, "embedded.cpp")
        self.raw = os.path.join(self.dir.name, "embedded.bin")
        self.facts = os.path.join(self.dir.name, "facts.txt")
        self.header = os.path.join(self.dir.name, "firmware_version.h")
        if text is not None:
            with open(self.input, "wb") as f:
                f.write(text.encode("latin-1") if isinstance(text, str) else text)
        done = subprocess.run([TOOL, *options, "--raw", self.raw, "--facts", self.facts,
                               "--version-header", self.header, self.input, self.output],
                              capture_output=True, text=True, errors="replace")
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
        self.refuse_text(lines_text(lines), line_number, reason)

    def refuse_text(self, text, line_number, reason, code=1):
        run = Run(text)
        self.assertEqual(run.code, code, run.stderr)
        where = f"{run.input}:{line_number}" if line_number else run.input
        self.assertIn(f"{where}: error: {reason.format(input=run.input)}", run.stderr)
        self.assertFalse(os.path.exists(run.output), "a refused image must not be embedded")
        self.assertFalse(os.path.exists(run.facts), "a refused image has no facts")
        return run

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
            # The byte left out reads as 0xFF, which makes a version the program never asks about.
            ("only the version's first byte", [b, demo.record(29 * 512 + 0x1FB, 0, b"\x81\x01"), END], 2,
             "only one of the version bytes at 0x3BFC, 0x3BFD is covered (0x3BFD is not): the updater reads the "
             "version as 1.255 and programs this image without asking over any installed version up to 1.255"),
            ("only the version's second byte", [b, demo.record(29 * 512 + 0x1FB, 0, b"\x81"),
                                                demo.record(29 * 512 + 0x1FD, 0, b"\x05"), END], 3,
             "only one of the version bytes at 0x3BFC, 0x3BFD is covered (0x3BFC is not): the updater reads the "
             "version as 255.05"),
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
            ("overlap, other value", [b, s, demo.record(0x1408, 0, b"\x28\x99\x2A"), END], 3,
             f"the byte at 0x1409 is written twice with different values: 0x99 here, 0x29 by the record at "
             f"{{input}}:1 (bytes of this record that differ from earlier records: 1)"),
            ("overlap of the type byte", [b, s, signature(29, 0x82), END], 3,
             "the byte at 0x3BFB is written twice with different values: 0x82 here, 0x81 by the record at "
             "{input}:2 (bytes of this record that differ from earlier records: 1)"),
            ("lone carriage return in a line", [b, s[:9] + "\r" + s[9:], END], 2,
             "a carriage return (0x0D) without a line feed at column 10: lines end with LF or CR LF"),
            # The program takes these two, but they cannot update a device.
            ("signature page below the type's last page", [b, signature(29, 0x84), END], 2,
             "the highest used page 29 is not page 124, where a device of type 0x84 keeps its signature and "
             "version: the device's pages 30..123 would keep their old content, and page 124 would get the "
             "signature without a version"),
            ("device signature bytes covered", [b, demo.record(62 * 512 + 0x1FB, 0, b"\x83\x01\x00\x12\x34"), END], 2,
             "byte 0x12 at 0x7DFE: the device writes its application signature into the last two bytes of page 62, "
             "which an image must leave out (or set to 0xFF): the updater refuses it"),
            ("the signature's own value", [b, signature(124, 0x86), demo.record(124 * 512 + 0x1FE, 0, b"\x3D\xC2"), END],
             3, "byte 0x3D at 0xF9FE"),
            ("the second signature byte alone", [b, signature(29, 0x82), demo.record(29 * 512 + 0x1FF, 0, b"\x00"), END],
             3, "byte 0x00 at 0x3BFF"),
        ]
        for name, lines, line_number, reason in cases:
            with self.subTest(name):
                self.refuse(lines, line_number, reason)


    def test_the_generator_makes_images_that_end_below_their_types_last_page(self):
        # The generator's --last-page makes such images for tests; the tool
        # names the record that ends the highest page.
        lines = demo.hex_lines(demo.make_image(0x83, last_page=29))
        self.refuse(lines, len(lines) - 1, "the highest used page 29 is not page 62")

    def test_text_encoding_and_line_ends_have_their_own_message(self):
        lines = small_image()
        cases = [
            ("UTF-8 byte-order mark", b"\xEF\xBB\xBF" + lines_text(lines).encode(), 1,
             "the file starts with a UTF-8 byte-order mark (EF BB BF): save it as plain ASCII text without one"),
            ("UTF-16", "\ufeff".encode("utf-16-le") + lines_text(lines).encode("utf-16-le"), 1,
             "the file is UTF-16 text (byte-order mark FF FE)"),
            ("CR line ends", lines_text(lines, "\r").encode(), 1,
             "the lines end with a carriage return alone (CR, 0x0D, without a line feed): save the file with LF "
             "or CR LF line ends"),
            ("empty file", b"", 0, "the file is empty"),
        ]
        for name, text, line_number, reason in cases:
            with self.subTest(name):
                run = self.refuse_text(text, line_number, reason)
                # One clear message, not one per character or line that follows from it.
                self.assertEqual(len(run.stderr.splitlines()), 2, run.stderr)

    def test_an_exact_repeat_is_accepted(self):
        b, s = body(), signature(29, 0x81)
        run = Run(lines_text([b, s, b, demo.record(0x1408, 0, bytes(range(0x28, 0x2C))), END]))
        self.assertEqual(run.code, 0, run.stderr)
        self.assertEqual(run.stderr, "")

    def test_device_signature_bytes_set_to_ff_are_accepted(self):
        run = Run(lines_text([body(), demo.record(29 * 512 + 0x1FB, 0, b"\x81\x01\x00\xFF\xFF"), END]))
        self.assertEqual(run.code, 0, run.stderr)
        self.assertEqual(run.stderr, "")

    def test_after_twenty_errors_the_rest_are_counted(self):
        s = signature(29, 0x81)
        bad = [demo.record(0x1400 + 16 * i, 0, bytes(16))[:-2] + "00" for i in range(25)]
        run = Run(lines_text(bad + [s, END]))
        self.assertEqual(run.code, 1, run.stderr)
        shown = [line for line in run.stderr.splitlines() if ": error: bad record checksum" in line]
        self.assertEqual(len(shown), 20)
        self.assertEqual(shown[-1].split(": error:")[0], f"{run.input}:20")
        self.assertEqual(run.stderr.splitlines()[-2:],
                         [f"{run.input}: error: ... and 5 more errors, not shown",
                          f"{run.input}: error: image refused, nothing embedded"])

    def test_unreadable_file_says_why(self):
        with tempfile.TemporaryDirectory() as folder:
            cases = [
                ("missing", os.path.join(folder, "missing.hex"), "No such file or directory"),
                ("a folder", folder, "Is a directory"),
            ]
            for name, path, reason in cases:
                with self.subTest(name):
                    run = Run(None, input_path=path)
                    self.assertEqual(run.code, 2, run.stderr)
                    self.assertEqual(run.stderr, f"{path}: error: cannot read the file: {reason}\n")
                    self.assertFalse(os.path.exists(run.output))


class Size(unittest.TestCase):
    LIMIT = 1 << 20

    def padded_image(self, size):
        """A valid image padded with records of no data to exactly size bytes."""
        lines = small_image()
        rest = size - len(lines_text(lines))
        crlf = rest % 12  # a record of no data is 12 bytes with LF, 13 with CR LF
        pad = [demo.record(0x1400, 0) + "\r"] * crlf + [demo.record(0x1400, 0)] * ((rest - 13 * crlf) // 12)
        text = lines_text(lines[:-1] + pad + lines[-1:])
        self.assertEqual(len(text), size)
        return text

    def test_one_mebibyte_is_accepted_one_byte_more_is_refused_in_one_line(self):
        run = Run(self.padded_image(self.LIMIT))
        self.assertEqual(run.code, 0, run.stderr)
        run = Run(self.padded_image(self.LIMIT + 12))
        self.assertEqual(run.code, 2)
        self.assertEqual(run.stderr, f"{run.input}: error: the file holds {self.LIMIT + 12} bytes, more than a "
                         "firmware HEX file can (at most 1048576 bytes, 1 MiB; a full image's HEX is under 200 KB)\n")
        self.assertFalse(os.path.exists(run.output))

    def test_a_huge_file_or_an_endless_one_is_not_read_whole(self):
        with tempfile.TemporaryDirectory() as folder:
            huge = os.path.join(folder, "huge.hex")
            with open(huge, "wb") as f:
                f.truncate(100 << 30)  # 100 GiB, sparse: reading it whole would take minutes
            cases = [("100 GiB", huge, f"holds {100 << 30} bytes"),
                     ("endless", "/dev/zero", "holds more than 1048576 bytes")]
            for name, path, figure in cases:
                with self.subTest(name):
                    run = Run(None, input_path=path)
                    self.assertEqual(run.code, 2)
                    self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
                    self.assertIn(f"{path}: error: the file {figure}", run.stderr)


class FileNames(unittest.TestCase):
    ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

    def compiles(self, source):
        done = subprocess.run(["c++", "-std=c++20", "-fsyntax-only", "-Wall", "-Werror", "-I", self.ROOT, source],
                              capture_output=True, text=True)
        return done.returncode == 0, done.stderr

    def test_names_go_into_the_source_escaped(self):
        cases = [
            # name, what the comment says of it
            ("plain.hex", "from plain.hex:"),
            ("ends in a backslash\\", "from ends in a backslash\\x5C:"),
            ("\"quoted\" ??= trigraph.hex", "from \"quoted\" ??= trigraph.hex:"),
            ("caf\u00e9.hex", "from caf\\xC3\\xA9.hex:"),
        ]
        for name, comment in cases:
            with self.subTest(name):
                run = Run(lines_text(small_image()), name=name)
                self.assertEqual(run.code, 0, run.stderr)
                ok, errors = self.compiles(run.output)
                self.assertTrue(ok, errors)
                self.assertIn(comment, run.source().splitlines()[0])

    def test_a_control_character_in_the_name_is_refused(self):
        run = Run(lines_text(small_image()), name="image.hex\n#error injected")
        self.assertEqual(run.code, 2)
        self.assertEqual(run.stderr, "lumaris_embed_image: error: the input file's name holds the control character "
                         f"0x0A at position {len(os.fsencode(run.dir.name)) + 11}: rename the file\n")
        self.assertFalse(os.path.exists(run.output))

    def test_an_output_that_is_the_input_or_another_output_is_refused(self):
        # name, arguments ({d}: the folder, which holds ok.hex, its hard link
        # link.hex, a copy o.cpp.part and a folder sub), the clash named
        cases = [
            ("the output", ["{d}/ok.hex", "{d}/ok.hex"],
             "OUTPUT.cpp {d}/ok.hex would overwrite the input file {d}/ok.hex"),
            ("--facts", ["{d}/ok.hex", "{d}/o.cpp", "--facts", "{d}/ok.hex"],
             "--facts {d}/ok.hex would overwrite the input file {d}/ok.hex"),
            ("another spelling", ["--raw", "{d}/sub/../ok.hex", "{d}/ok.hex", "{d}/o.cpp"],
             "--raw {d}/sub/../ok.hex would overwrite the input file {d}/ok.hex"),
            ("a hard link", ["{d}/ok.hex", "{d}/o.cpp", "--version-header", "{d}/link.hex"],
             "--version-header {d}/link.hex would overwrite the input file {d}/ok.hex"),
            ("the output's temporary file", ["{d}/o.cpp.part", "{d}/o.cpp"],
             "OUTPUT.cpp {d}/o.cpp would overwrite the input file {d}/o.cpp.part (its temporary file)"),
            ("two outputs", ["{d}/ok.hex", "{d}/o.cpp", "--raw", "{d}/x", "--facts", "{d}/./x"],
             "--raw {d}/x and --facts {d}/./x are the same file"),
            ("an output and another's temporary file", ["{d}/ok.hex", "{d}/o.cpp", "--facts", "{d}/o.cpp.part"],
             "OUTPUT.cpp {d}/o.cpp and --facts {d}/o.cpp.part would overwrite each other (one is the other's "
             "temporary file)"),
        ]
        text = lines_text(small_image()).encode()
        for name, arguments, clash in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as d:
                for file in ("ok.hex", "o.cpp.part"):
                    with open(os.path.join(d, file), "wb") as f:
                        f.write(text)
                os.link(os.path.join(d, "ok.hex"), os.path.join(d, "link.hex"))
                os.mkdir(os.path.join(d, "sub"))
                before = sorted(os.listdir(d))
                done = subprocess.run([TOOL, *(a.format(d=d) for a in arguments)], capture_output=True, text=True)
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertEqual(done.stderr, f"lumaris_embed_image: error: {clash.format(d=d)}: nothing written\n")
                self.assertEqual(sorted(os.listdir(d)), before, "nothing written")
                for file in ("ok.hex", "o.cpp.part"):
                    with open(os.path.join(d, file), "rb") as f:
                        self.assertEqual(f.read(), text, file)


class Outputs(unittest.TestCase):
    def run_tool(self, d, *outputs):
        with open(os.path.join(d, "ok.hex"), "w") as f:
            f.write(lines_text(small_image()))
        return subprocess.run([TOOL, *outputs[1:], os.path.join(d, "ok.hex"), outputs[0]], capture_output=True,
                              text=True)

    def test_a_temporary_file_name_taken_by_a_link_is_not_written_through(self):
        with tempfile.TemporaryDirectory() as d:
            victim = os.path.join(d, "victim.txt")
            with open(victim, "w") as f:
                f.write("keep me\n")
            for name in ("o.cpp", "o.bin"):
                os.symlink(victim, os.path.join(d, name + ".part"))
            done = self.run_tool(d, os.path.join(d, "o.cpp"), "--raw", os.path.join(d, "o.bin"))
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(victim) as f:
                self.assertEqual(f.read(), "keep me\n")
            with open(os.path.join(d, "o.cpp")) as f:
                self.assertTrue(f.read().startswith("// Generated by the embedding tool"))
            self.assertFalse(os.path.islink(os.path.join(d, "o.cpp")))
            self.assertEqual(sorted(os.listdir(d)), ["o.bin", "o.cpp", "ok.hex", "victim.txt"])

    def test_no_output_is_replaced_unless_every_one_is_written(self):
        with tempfile.TemporaryDirectory() as d:
            earlier = {name: f"earlier {name}\n" for name in ("o.cpp", "o.bin", "facts.txt")}
            for name, text in earlier.items():
                with open(os.path.join(d, name), "w") as f:
                    f.write(text)
            # The last output cannot be written: its folder does not exist.
            done = self.run_tool(d, os.path.join(d, "o.cpp"), "--raw", os.path.join(d, "o.bin"), "--facts",
                                 os.path.join(d, "facts.txt"), "--version-header", os.path.join(d, "no", "v.h"))
            self.assertEqual(done.returncode, 2)
            self.assertIn("no/v.h: error: cannot write: No such file or directory", done.stderr)
            for name, text in earlier.items():
                with open(os.path.join(d, name)) as f:
                    self.assertEqual(f.read(), text, name)
            self.assertEqual(sorted(os.listdir(d)), sorted(list(earlier) + ["ok.hex"]), "no temporary file left")


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
        run = Run(demo.hex_text(demo.make_image(0x86, (0xFF, 0xFF), first_page=124)))
        self.assertEqual(run.code, 0, run.stderr)
        self.assertTrue(run.stdout.startswith("image.hex: device type 0x86, no version, 1 pages used (124..124)"),
                        run.stdout)

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
            ("version bytes FF FF", demo.make_image(0x85, (0xFF, 0xFF), first_page=60),
             ["type=0x85", "version=no version", "first_page=60", "last_page=62", "pages=3"], "no version"),
            ("version 255.254", demo.make_image(0x85, (0xFF, 0xFE), first_page=60),
             ["type=0x85", "version=255.254", "first_page=60", "last_page=62", "pages=3"], "255.254"),
        ]
        for name, image, facts, version in cases:
            with self.subTest(name):
                run = Run(demo.hex_text(image))
                self.assertEqual(run.code, 0, run.stderr)
                flash = bytearray(b"\xFF" * 0xFC00)
                for address, value in image.items():
                    flash[address] = value
                with open(run.facts) as f:
                    self.assertEqual(f.read().splitlines(), facts + ["sha256=" + hashlib.sha256(flash).hexdigest(),
                                                                     "hex=" + os.path.realpath(run.input)])
                with open(run.header) as f:
                    header = f.read()
                self.assertIn(f'#define LUMARIS_FIRMWARE_VERSION_TEXT "{version}"\n', header)
                self.assertIn(f'#define LUMARIS_FIRMWARE_TYPE_TEXT "{facts[0][5:]}"\n', header)
                # The generator writes versions by the same rule.
                last = int(facts[3].split("=")[1]) * 512
                self.assertEqual(demo.version_text(image.get(last + 0x1FC, 0xFF), image.get(last + 0x1FD, 0xFF)),
                                 version)

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
            ("version bytes FF FF", [b, signature(62, 0x83, (0xFF, 0xFF)), END],
             "the version bytes at 0x7DFC, 0x7DFD are FF FF, which the updater reads as no version: it will ask "
             "before programming this image"),
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

    def test_unchecked_half_covered_version_warns_what_the_program_does(self):
        run = Run(lines_text([body(), demo.record(29 * 512 + 0x1FB, 0, b"\x81\x01"), END]), "--no-check")
        self.assertEqual(run.code, 0, run.stderr)
        self.assertIn(f"{run.input}:2: warning: only one of the version bytes at 0x3BFC, 0x3BFD is covered (0x3BFD is "
                      "not): the updater reads the version as 1.255 and programs this image without asking over any "
                      "installed version up to 1.255", run.stderr)
        with open(run.facts) as f:
            self.assertIn("version=1.255\n", f.read())

    def test_unchecked_clean_image_is_embedded_without_warnings(self):
        run = Run(lines_text(small_image()), "--no-check")
        self.assertEqual(run.code, 0, run.stderr)
        self.assertEqual(run.stderr, "")


if __name__ == "__main__":
    TOOL = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
