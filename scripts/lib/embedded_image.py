#!/usr/bin/python3
"""Compares the firmware a Windows program carries with a HEX file, byte for
byte, without running the program.

    embedded_image.py SYMBOLS PROGRAM.exe FIRMWARE.hex

SYMBOLS is what the MinGW nm printed for the program before it was stripped
(stripping keeps every section where it was). The program's embedded text
(EMBEDDED_IMAGE, EMBEDDED_IMAGE_LENGTH bytes) is read from PROGRAM.exe and
descrambled with the program's own UNSCRAMBLE_TABLE; the flash image that
text describes (64,512 bytes, 0xFF where it sets nothing) and its pages with
data must equal those of FIRMWARE.hex. Prints one line; exit status 0 when
they are equal, 1 when not or when the program cannot be read so.
"""
import io
import struct
import sys

from intelhex import IntelHex

IMAGE_SIZE = 0xFC00
PAGE_SIZE = 512
SCRAMBLED_FIRST, SCRAMBLED_LAST = 10, 70


class Unreadable(Exception):
    pass


def symbol_addresses(nm_text, names):
    """{name: virtual address}; a 32-bit program's names carry a leading _."""
    found = {}
    for line in nm_text.splitlines():
        parts = line.split()
        if len(parts) != 3:
            continue
        name = parts[2][1:] if parts[2][1:] in names and parts[2][0] == "_" else parts[2]
        if name in names:
            found[name] = int(parts[0], 16)
    missing = [n for n in names if n not in found]
    if missing:
        raise Unreadable("no symbol " + ", ".join(missing) + " in the program's symbol list")
    return found


class PeFile:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise Unreadable("not a PE file")
        sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic == 0x10B:
            self.pointer_size, self.image_base = 4, struct.unpack_from("<I", data, optional + 28)[0]
        elif magic == 0x20B:
            self.pointer_size, self.image_base = 8, struct.unpack_from("<Q", data, optional + 24)[0]
        else:
            raise Unreadable(f"unknown optional header 0x{magic:X}")
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            virtual_size, rva, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((rva, virtual_size, raw_size, raw_at))

    def read(self, address, length):
        rva = address - self.image_base
        for start, virtual_size, raw_size, raw_at in self.sections:
            if start <= rva and rva + length <= start + min(virtual_size, raw_size):
                return self.data[raw_at + rva - start:raw_at + rva - start + length]
        raise Unreadable(f"address 0x{address:X} (+{length}) lies in no section's file data")


def flash_image(ih):
    ih.padding = 0xFF
    image = bytes(ih.tobinarray(start=0, size=IMAGE_SIZE))
    pages = sorted({a // PAGE_SIZE for a in ih.addresses()})
    return image, pages


def embedded_text(nm_text, program):
    symbols = symbol_addresses(nm_text, ["EMBEDDED_IMAGE", "EMBEDDED_IMAGE_LENGTH", "UNSCRAMBLE_TABLE"])
    pe = PeFile(program)
    length_bytes = pe.read(symbols["EMBEDDED_IMAGE_LENGTH"], pe.pointer_size)
    length = int.from_bytes(length_bytes, "little")
    if not 0 < length <= 1 << 20:
        raise Unreadable(f"EMBEDDED_IMAGE_LENGTH reads {length}")
    scrambled = pe.read(symbols["EMBEDDED_IMAGE"], length)
    table = pe.read(symbols["UNSCRAMBLE_TABLE"], SCRAMBLED_LAST - SCRAMBLED_FIRST + 1)
    return bytes(table[b - SCRAMBLED_FIRST] if SCRAMBLED_FIRST <= b <= SCRAMBLED_LAST else 0 for b in scrambled)


def main(symbols_path, program_path, hex_path):
    with open(symbols_path) as f:
        nm_text = f.read()
    with open(program_path, "rb") as f:
        program = f.read()
    try:
        text = embedded_text(nm_text, program).decode("ascii")
        carried = IntelHex()
        carried.loadhex(io.StringIO(text))
    except (Unreadable, UnicodeDecodeError, ValueError) as error:   # intelhex's errors are ValueErrors
        print(f"cannot read the firmware the program carries: {error}")
        return 1
    expected = IntelHex()
    expected.loadhex(hex_path)
    image, pages = flash_image(carried)
    want_image, want_pages = flash_image(expected)
    differing = [a for a in range(IMAGE_SIZE) if image[a] != want_image[a]]
    if differing:
        a = differing[0]
        print(f"its flash image differs from the HEX file's in {len(differing)} of {IMAGE_SIZE} bytes, the first at "
              f"0x{a:04X} (0x{image[a]:02X} in the program, 0x{want_image[a]:02X} in the file)")
        return 1
    if pages != want_pages:
        print(f"it programs pages {sorted(set(pages) - set(want_pages))} that the HEX file leaves alone, and "
              f"leaves pages {sorted(set(want_pages) - set(pages))} that the file programs")
        return 1
    print(f"its flash image equals the HEX file's: {IMAGE_SIZE} bytes, {len(pages)} pages ({pages[0]}..{pages[-1]})")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
