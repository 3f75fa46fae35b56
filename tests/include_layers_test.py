#!/usr/bin/env python3
"""Every include of the program's own headers runs downward.

The layers, bottom first: the seams, the core's events and the job record;
the USB access layer; the bootloader commands, with the simulated device
beside them (it fills the USB table); discovery/open/identification and the
image; the programming sequence, with the embedding tool beside it; the
worker; the run log; the front ends (app/, the window program, and console/,
the console program, beside each other). A folder may include its own
headers and those of lower layers only. Tests, benchmarks, fuzz targets and
the stand-in library (sim/standin/) are outside the program and may include
anything. docs/architecture.md lists the same layers: a folder it places
otherwise fails too.
Usage: include_layers_test.py SOURCE_DIR
"""
import pathlib
import re
import sys

LAYERS = {
    "platform": 0,
    # The vocabulary of the core's events: every layer of the core reports
    # through it, so it includes nothing of theirs.
    "events": 0,
    "job": 0,
    "usb": 1,
    "sim": 2,
    "bootloader": 2,
    "devicelink": 3,
    "image": 3,
    "flashing": 4,
    "worker": 5,
    # The build-time embedding tool reads and checks an image as the program
    # does: it may use the image layer and what lies below it, never a front
    # end.
    "tools": 4,
    # What a run did, recorded from the core's events and written as JSON
    # lines: shared by both front ends.
    "runlog": 6,
    "app": 7,
    "console": 7,
}
# Test doubles that live beside the layer they stand in for but are not part
# of the program: like the tests, they may include anything.
OUTSIDE = ("sim/standin",)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)


# One item of the numbered list of layers in docs/architecture.md, and the
# folders it names.
DOC_ITEM = re.compile(r"^(\d+)\. (.*(?:\n {3}.*)*)", re.M)
DOC_FOLDER = re.compile(r"`([a-z]+)/`")


def documented_layers(root: pathlib.Path) -> dict:
    text = (root / "docs" / "architecture.md").read_text()
    start = text.index("The layers, bottom first:")
    end = text.index("\n\n", text.index("\n1. ", start) + 1)
    layers = {}
    for number, item in DOC_ITEM.findall(text[start:end]):
        for folder in DOC_FOLDER.findall(item):
            layers[folder] = int(number) - 1
    return layers


def main() -> int:
    root = pathlib.Path(sys.argv[1])
    faults = []
    documented = documented_layers(root)
    if documented != LAYERS:
        for folder in sorted(set(documented) | set(LAYERS)):
            if documented.get(folder) != LAYERS.get(folder):
                faults.append(f"docs/architecture.md places '{folder}/' at layer {documented.get(folder)}, "
                              f"this test at {LAYERS.get(folder)}")
    checked = 0
    for folder, level in LAYERS.items():
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".in", ".rc"):
                continue
            if path.relative_to(root).as_posix().startswith(OUTSIDE):
                continue
            for target in INCLUDE.findall(path.read_text(errors="replace")):
                checked += 1
                if target == folder:
                    continue
                if target not in LAYERS:
                    faults.append(f"{path.relative_to(root)}: includes from unknown folder '{target}/'")
                elif LAYERS[target] >= level:
                    faults.append(f"{path.relative_to(root)}: includes '{target}/' (layer {LAYERS[target]}) "
                                  f"from layer {level}")
    for fault in faults:
        print(fault)
    print(f"{checked} includes checked, {len(faults)} running upward or sideways")
    return 1 if faults or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
