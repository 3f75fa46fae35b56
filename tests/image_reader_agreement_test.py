#!/usr/bin/python3
"""The program's loader agrees with independent HEX readers: the built-in
image, and random images written by srec_cat or by Python's intelhex, load
into exactly the bytes and pages that intelhex reads from the same files.

    image_reader_agreement_test.py EMBED_TOOL IMAGE_LOAD_DUMP BUILT_IN_HEX
"""
import os
import random
import subprocess
import sys
import tempfile
import unittest

from intelhex import IntelHex

IMAGE_SIZE = 0xFC00
PAGE_COUNT = 126
LAST_PAGE_FOR_TYPE = {0x81: 29, 0x82: 29, 0x83: 62, 0x84: 124, 0x85: 62, 0x86: 124}
RANDOM_IMAGES = 24

TOOL = DUMP = BUILT_IN = None


def expected_from(addresses_and_bytes):
    image = bytearray(b"\xFF" * IMAGE_SIZE)
    pages = bytearray(PAGE_COUNT)
    for address, value in addresses_and_bytes:
        image[address] = value
        pages[address >> 9] = 1
    return bytes(image), bytes(pages)


def read_with_intelhex(path):
    ih = IntelHex(path)
    return expected_from((a, ih[a]) for a in ih.addresses())


def read_dump(path):
    with open(path, "rb") as f:
        data = f.read()
    assert len(data) == IMAGE_SIZE + PAGE_COUNT, len(data)
    return data[:IMAGE_SIZE], data[IMAGE_SIZE:]


def random_image(rng):
    """{address: byte}: a few runs of data in pages 10..last and the
    signature bytes of a random device type."""
    device_type = rng.choice(sorted(LAST_PAGE_FOR_TYPE))
    last = LAST_PAGE_FOR_TYPE[device_type]
    end = last * 512 + 0x1FE
    image = {}
    for _ in range(rng.randint(1, 6)):
        start = rng.randrange(0x1400, end)
        for a in range(start, min(end, start + rng.randint(1, 3000))):
            image[a] = rng.randrange(256)
    signature = last * 512 + 0x1FB
    image[signature] = device_type
    if rng.random() < 0.8:
        image[signature + 1], image[signature + 2] = rng.randrange(256), rng.randrange(256)
    return image


def runs(image):
    """Consecutive address runs: [(start, bytes)]."""
    out = []
    for a in sorted(image):
        if out and out[-1][0] + len(out[-1][1]) == a:
            out[-1][1].append(image[a])
        else:
            out.append((a, bytearray([image[a]])))
    return out


def write_with_srec_cat(image, path, rng, workdir):
    args = ["srec_cat"]
    for i, (start, data) in enumerate(runs(image)):
        part = os.path.join(workdir, f"part{i}.bin")
        with open(part, "wb") as f:
            f.write(data)
        args += [part, "-binary", "-offset", hex(start)]
    args += ["-o", path, "-intel", f"-obs={rng.randint(1, 255)}"]
    if rng.random() < 0.5:
        args.append("-crlf")
    subprocess.run(args, check=True)


def write_with_intelhex(image, path, rng):
    ih = IntelHex()
    for a, v in image.items():
        ih[a] = v
    with open(path, "w") as f:
        ih.write_hex_file(f, byte_count=rng.randint(1, 255))


class Agreement(unittest.TestCase):
    def load(self, *args):
        done = subprocess.run([DUMP, *args], capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, "the program's loader did not load the text " + done.stderr)
        return read_dump(args[-1])

    def test_built_in_image(self):
        with tempfile.TemporaryDirectory() as work:
            loaded = self.load("embedded", os.path.join(work, "dump.bin"))
        self.assertEqual(loaded, read_with_intelhex(BUILT_IN))

    def test_random_images(self):
        for seed in range(RANDOM_IMAGES):
            writer = "srec_cat" if seed % 2 == 0 else "intelhex"
            with self.subTest(seed=seed, writer=writer), tempfile.TemporaryDirectory() as work:
                rng = random.Random(seed)
                image = random_image(rng)
                hex_path = os.path.join(work, "image.hex")
                if writer == "srec_cat":
                    write_with_srec_cat(image, hex_path, rng, work)
                else:
                    write_with_intelhex(image, hex_path, rng)
                raw = os.path.join(work, "scrambled.bin")
                embed = subprocess.run([TOOL, "--raw", raw, hex_path, os.path.join(work, "embedded.cpp")],
                                       capture_output=True, text=True)
                self.assertEqual(embed.returncode, 0, embed.stderr)
                loaded = self.load("scrambled", raw, os.path.join(work, "dump.bin"))
                by_intelhex = read_with_intelhex(hex_path)
                self.assertEqual(loaded, by_intelhex)
                self.assertEqual(loaded, expected_from(image.items()))


if __name__ == "__main__":
    TOOL, DUMP, BUILT_IN = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
