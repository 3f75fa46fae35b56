#!/usr/bin/env python3
"""Compares the stand-in library's flash dumps with what an update must leave.

    check_flash.py programmed HEX INITIAL FINAL LAST_PAGE
        Pages 10..LAST_PAGE that the image uses hold exactly the image's
        bytes (0xFF where the image sets none), the last page carries the
        application signature 3D C2 at 0x1FE; every other page is as it was.
    check_flash.py unchanged INITIAL FINAL
        Not one byte has changed.

Exits 1 and names the first differences when the flash is not as expected.
"""
import sys

PAGE_SIZE = 512
FLASH_SIZE = 0xFC00
FIRST_APP_PAGE = 10
SIGNATURE_OFFSET = 0x1FE
SIGNATURE = (0x3D, 0xC2)


def load_hex(path):
    image, base = {}, 0
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            raw = bytes.fromhex(line[1:])
            count, offset, kind = raw[0], raw[1] << 8 | raw[2], raw[3]
            data = raw[4:4 + count]
            if sum(raw) & 0xFF:
                sys.exit(f"{path}: bad checksum in {line}")
            if kind == 0:
                for i, b in enumerate(data):
                    image[base + offset + i] = b
            elif kind == 2:
                base = (data[0] << 8 | data[1]) << 4
            elif kind == 4:
                base = (data[0] << 8 | data[1]) << 16
            elif kind == 1:
                break
    return image


def read(path):
    data = open(path, "rb").read()
    if len(data) != FLASH_SIZE:
        sys.exit(f"{path}: {len(data)} bytes, expected {FLASH_SIZE}")
    return data


def expected_after_update(image, initial, last_page):
    used = {a // PAGE_SIZE for a in image}
    out = bytearray(initial)
    for page in range(FIRST_APP_PAGE, last_page + 1):
        if page not in used:
            continue
        for a in range(page * PAGE_SIZE, (page + 1) * PAGE_SIZE):
            out[a] = image.get(a, 0xFF)
    at = last_page * PAGE_SIZE + SIGNATURE_OFFSET
    out[at], out[at + 1] = SIGNATURE
    return bytes(out)


def compare(expected, final):
    diffs = [a for a in range(FLASH_SIZE) if expected[a] != final[a]]
    if not diffs:
        return 0
    print(f"flash differs at {len(diffs)} addresses; first ones:")
    for a in diffs[:8]:
        print(f"  0x{a:04X} (page {a // PAGE_SIZE}): expected {expected[a]:02X}, found {final[a]:02X}")
    return 1


def main(argv):
    if len(argv) == 6 and argv[1] == "programmed":
        image = load_hex(argv[2])
        return compare(expected_after_update(image, read(argv[3]), int(argv[5], 0)), read(argv[4]))
    if len(argv) == 4 and argv[1] == "unchanged":
        return compare(read(argv[2]), read(argv[3]))
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
