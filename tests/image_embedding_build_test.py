#!/usr/bin/python3
"""The build embeds the HEX file that LUMARIS_FIRMWARE_HEX names: in a build
of its own, a swapped image is the one the program loads and validates, an
edited file is embedded again, a bad image fails the build with its reason,
and with LUMARIS_FIRMWARE_CHECK off the program refuses it at run time (a
wrong type byte, or bytes where the device writes its signature). The
file may lie in a folder whose name holds a blank and a ';'. The build also
leaves the embedded firmware's facts and version header.

    image_embedding_build_test.py SOURCE_DIR BUILD_DIR CXX_COMPILER GENERATOR
"""
import hashlib
import os
import subprocess
import sys
import unittest

SOURCE = BUILD = CXX = GENERATOR = None


def load_demo_module():
    sys.path.insert(0, os.path.join(SOURCE, "firmware"))
    import make_demo_hex
    return make_demo_hex


class EmbeddingBuild(unittest.TestCase):
    def setUp(self):
        self.demo = load_demo_module()
        os.makedirs(BUILD, exist_ok=True)
        self.images = os.path.join(BUILD, "images")
        os.makedirs(self.images, exist_ok=True)

    def write(self, name, lines, folder=None):
        path = os.path.join(folder or self.images, name)
        with open(path, "w", newline="\n") as f:
            f.write("".join(line + "\n" for line in lines))
        return path

    def image(self, name, device_type, version, first_page, folder=None):
        image = self.demo.make_image(device_type, version, first_page=first_page)
        return self.write(name, self.demo.hex_lines(image), folder)

    def configure(self, hex_path, check=True):
        self.run_ok(["cmake", "-S", SOURCE, "-B", BUILD, "-G", GENERATOR, f"-DCMAKE_CXX_COMPILER={CXX}",
                     "-DCMAKE_BUILD_TYPE=", "-DCMAKE_CXX_FLAGS=", "-DLUMARIS_BUILD_TESTS=ON",
                     f"-DLUMARIS_FIRMWARE_HEX:FILEPATH={hex_path}", f"-DLUMARIS_FIRMWARE_CHECK={'ON' if check else 'OFF'}"])

    def build(self):
        return subprocess.run(["cmake", "--build", BUILD, "-j2", "--target", "image_load_dump"],
                              capture_output=True, text=True)

    def run_ok(self, args):
        done = subprocess.run(args, capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        return done

    def facts(self):
        with open(os.path.join(BUILD, "image", "firmware_facts.txt")) as f:
            facts = dict(line.split("=", 1) for line in f.read().splitlines())
        with open(os.path.join(BUILD, "image", "firmware_version.h")) as f:
            header = f.read()
        return facts, header

    def validate(self, device_type, last_page):
        dump = os.path.join(BUILD, "tests", "image_load_dump")
        return self.run_ok([dump, "validate", hex(device_type), str(last_page)]).stdout.splitlines()[-1]

    def test_swap_edit_refuse_and_unchecked(self):
        swapped = self.image("swapped.hex", 0x86, (2, 5), first_page=120)
        self.configure(swapped)
        built = self.build()
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        self.assertIn("swapped.hex: device type 0x86, version 2.05, 5 pages used (120..124)", built.stdout)
        self.assertEqual(self.validate(0x86, 124), "accepted type 0x86 version 0x02 0x05 boxes 0")
        self.assertTrue(self.validate(0x84, 124).startswith("refused"))

        # Editing the file embeds it again.
        self.image("swapped.hex", 0x86, (2, 6), first_page=120)
        built = self.build()
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        self.assertEqual(self.validate(0x86, 124), "accepted type 0x86 version 0x02 0x06 boxes 0")

        # From a folder and a file whose names hold blanks and a ';'; the
        # facts name that file, and an edit is embedded again.
        odd = os.path.join(self.images, "release 2; final")
        os.makedirs(odd, exist_ok=True)
        odd_hex = self.image("fw image;1.hex", 0x83, (1, 0x0A), first_page=60, folder=odd)
        self.configure(odd_hex)
        built = self.build()
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        self.assertIn("fw image;1.hex: device type 0x83, version 1.10, 3 pages used (60..62)", built.stdout)
        self.assertEqual(self.validate(0x83, 62), "accepted type 0x83 version 0x01 0x0A boxes 0")
        facts, header = self.facts()
        flash = bytearray(b"\xFF" * 0xFC00)
        for address, value in self.demo.make_image(0x83, (1, 0x0A), first_page=60).items():
            flash[address] = value
        self.assertEqual(facts, {"type": "0x83", "version": "1.10", "first_page": "60", "last_page": "62",
                                 "pages": "3", "sha256": hashlib.sha256(flash).hexdigest(), "hex": odd_hex})
        self.assertIn('#define LUMARIS_FIRMWARE_VERSION_TEXT "1.10"', header)
        self.assertIn('#define LUMARIS_FIRMWARE_TYPE_TEXT "0x83"', header)
        self.image("fw image;1.hex", 0x83, (1, 0x0B), first_page=61, folder=odd)
        built = self.build()
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        self.assertEqual(self.validate(0x83, 62), "accepted type 0x83 version 0x01 0x0B boxes 0")
        self.assertEqual(self.facts()[0]["pages"], "2")

        # A bad image fails the build with its file, line and reason.
        bad_type = self.image("bad_type.hex", 0x84, (1, 0), first_page=123)
        with open(bad_type) as f:
            lines = f.read().splitlines()
        signature_line = next(i for i, line in enumerate(lines) if line.startswith(":0EF9F000"))
        data = bytearray.fromhex(lines[signature_line][9:-2])
        data[0x0B] = 0x87
        lines[signature_line] = self.demo.record(0xF9F0, 0x00, data)
        bad_type = self.write("bad_type.hex", lines)
        self.configure(bad_type)
        built = self.build()
        self.assertNotEqual(built.returncode, 0)
        self.assertIn(f"bad_type.hex:{signature_line + 1}: error: device type byte 0x87 at 0xF9FB",
                      built.stdout + built.stderr)

        # Unchecked, it is embedded, and the program refuses it at run time.
        self.configure(bad_type, check=False)
        built = self.build()
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        self.assertIn(f"bad_type.hex:{signature_line + 1}: warning: device type byte 0x87", built.stdout + built.stderr)
        self.assertEqual(self.validate(0x87, 124), "refused type 0x87 version 0x01 0x00 boxes 1")

        # An image over the bytes where the device writes its signature: the
        # build refuses it; built unchecked, the program refuses it.
        lines = self.demo.hex_lines(self.demo.make_image(0x83, (1, 0), first_page=61))
        lines.insert(-1, self.demo.record(62 * 512 + 0x1FE, 0x00, b"\x00\x00"))
        covered = self.write("covered_signature.hex", lines)
        self.configure(covered)
        built = self.build()
        self.assertNotEqual(built.returncode, 0)
        self.assertIn(f"covered_signature.hex:{len(lines) - 1}: error: byte 0x00 at 0x7DFE", built.stdout + built.stderr)
        self.configure(covered, check=False)
        built = self.build()
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        self.assertEqual(self.validate(0x83, 62), "refused type 0x83 version 0x01 0x00 boxes 1")

        # An unchecked text that does not load stops the run without a box.
        lines[0] = lines[0][:-2] + "%02X" % ((int(lines[0][-2:], 16) + 1) & 0xFF)
        self.configure(self.write("bad_sum.hex", lines), check=False)
        built = self.build()
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        self.assertTrue(self.validate(0x84, 124).startswith("not loaded"))
        self.assertTrue(self.validate(0x84, 124).endswith("boxes 0"))


if __name__ == "__main__":
    SOURCE, BUILD, CXX, GENERATOR = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1], verbosity=2)
