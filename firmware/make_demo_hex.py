#!/usr/bin/python3
"""Writes the demo firmware image as Intel HEX text.

The image fills pages FIRST..LAST (512 bytes each, from flash address
FIRST*512) with reproducible filler bytes and carries its signature in the
last page: the device type at offset 0x1FB and the version at 0x1FC, 0x1FD.
The last two bytes of that page stay uncovered: the device writes its
application signature there.

    make_demo_hex.py [--type 0x83] [--version 1.00] [--first-page 10]
                     [--last-page N] [--no-version] [--seed N] [-o FILE]

The last page follows from the device type unless given; a last page below
the type's makes an image that the embedding tool refuses (a device would
keep its old pages above it), for tests of that refusal. A version is
written as its two bytes in decimal, the low one with two digits: 1.10 is
the bytes 01 0A, 2.05 is 02 05; the bytes FF FF mean "no version". The
functions are also used by the tests to make images of other kinds.
"""
import argparse
import random
import sys

PAGE_SIZE = 512
TYPE_OFFSET = 0x1FB
VERSION_OFFSET = 0x1FC
DEVICE_SIGNATURE_OFFSET = 0x1FE
LAST_PAGE_FOR_TYPE = {0x81: 29, 0x82: 29, 0x83: 62, 0x84: 124, 0x85: 62, 0x86: 124}


def make_image(device_type, version=(1, 0), first_page=10, last_page=None, seed=1):
    """Returns {address: byte} for an image of pages first_page..last_page.

    version None leaves the version bytes uncovered."""
    if last_page is None:
        last_page = LAST_PAGE_FOR_TYPE[device_type]
    rng = random.Random(seed)
    end = last_page * PAGE_SIZE + DEVICE_SIGNATURE_OFFSET
    image = {a: rng.randrange(256) for a in range(first_page * PAGE_SIZE, end)}
    base = last_page * PAGE_SIZE
    image[base + TYPE_OFFSET] = device_type
    if version is None:
        del image[base + VERSION_OFFSET]
        del image[base + VERSION_OFFSET + 1]
    else:
        image[base + VERSION_OFFSET] = version[0]
        image[base + VERSION_OFFSET + 1] = version[1]
    return image


def record(address, rtype, data=b""):
    """One record, without its line end."""
    body = bytes([len(data), address >> 8, address & 0xFF, rtype]) + bytes(data)
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper()


def hex_lines(image, record_size=16):
    """The records of an image: runs of consecutive addresses, cut at every
    record_size boundary, then the end record."""
    lines = []
    addresses = sorted(image)
    i = 0
    while i < len(addresses):
        start = addresses[i]
        data = bytearray()
        while (i < len(addresses) and addresses[i] == start + len(data)
               and (len(data) == 0 or (start + len(data)) % record_size != 0)):
            data.append(image[addresses[i]])
            i += 1
        lines.append(record(start, 0x00, data))
    lines.append(record(0, 0x01))
    return lines


def hex_text(image, record_size=16, line_end="\n"):
    return "".join(line + line_end for line in hex_lines(image, record_size))


def parse_version(text):
    """"1.10" -> (1, 10), or 0x010A -> (1, 10). The minor needs at least two
    digits, so that "1.5" cannot be read as either 1.05 or 1.50."""
    if text.lower().startswith("0x"):
        try:
            value = int(text[2:], 16)
        except ValueError:
            value = -1
        if not 0 <= value <= 0xFFFF:
            raise argparse.ArgumentTypeError(f"version {text!r}: a hex version lies in 0x0000..0xFFFF")
        return value >> 8, value & 0xFF
    high, dot, low = text.partition(".")
    if not (dot and high.isdigit() and low.isdigit() and len(low) >= 2):
        raise argparse.ArgumentTypeError(f"version {text!r}: write it as MAJOR.MINOR with two digits "
                                         "after the point, for instance 1.05 or 1.10, or as 0x010A")
    if int(high) > 255 or int(low) > 255:
        raise argparse.ArgumentTypeError(f"version {text!r}: each part must lie in 0..255")
    return int(high), int(low)


def version_text(high, low):
    """The version as the tool and the program's users write it."""
    return "no version" if (high, low) == (0xFF, 0xFF) else f"{high}.{low:02d}"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--type", type=lambda s: int(s, 0), default=0x83)
    parser.add_argument("--version", type=parse_version, default=(1, 0))
    parser.add_argument("--no-version", action="store_true")
    parser.add_argument("--first-page", type=int, default=10)
    parser.add_argument("--last-page", type=int)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("-o", "--output", default="-")
    args = parser.parse_args(argv)
    image = make_image(args.type, None if args.no_version else args.version,
                       args.first_page, args.last_page, args.seed)
    text = hex_text(image)
    if args.output == "-":
        sys.stdout.write(text)
    else:
        with open(args.output, "w", newline="\n") as out:
            out.write(text)


if __name__ == "__main__":
    main(sys.argv[1:])
