#!/usr/bin/python3
"""Reads what lumaris-update.exe wrote in a Wine test case (JSON lines), or
the flash image a HEX file describes, for scripts/wine-console-tests.sh.

    wine_console_json.py result OUT FIELD      the result object's FIELD; fails
                                               unless every line is JSON and the
                                               last one is the result
    wine_console_json.py count OUT EVENT       how many objects are EVENT
    wine_console_json.py devices OUT           "index kind id" of each device_found, ';'-joined
    wine_console_json.py labels OUT            the label of each run_started and result, one a
                                               line (with " label_hex=..." where there is one)
    wine_console_json.py info-sha256 OUT       the sha256 of the info object
    wine_console_json.py image-sha256 HEX      SHA-256 of the 64,512-byte flash image the
                                               HEX file describes (0xFF where it sets nothing)
"""
import hashlib
import json
import sys

from console_harness import flash_image, json_lines


def events(path):
    with open(path, encoding="utf-8") as f:
        return json_lines(f.read(), path)  # fails on a line that is not JSON


def main(command, path, *rest):
    if command == "result":
        result = events(path)[-1]
        if result["event"] != "result":
            sys.exit(f"the last line is not the result: {result}")
        value = result[rest[0]]
        print(value if isinstance(value, str) else json.dumps(value))
    elif command == "count":
        print(sum(e["event"] == rest[0] for e in events(path)))
    elif command == "devices":
        print(";".join("%d %s %s" % (e["index"], e["kind"], e["id"]) for e in events(path)
                       if e["event"] == "device_found"))
    elif command == "labels":
        for e in events(path):
            if e["event"] in ("run_started", "result"):
                print(e["label"] + (" label_hex=" + e["label_hex"] if "label_hex" in e else ""))
    elif command == "info-sha256":
        print([e for e in events(path) if e["event"] == "info"][0]["sha256"])
    elif command == "image-sha256":
        print(hashlib.sha256(flash_image(path)[0]).hexdigest())
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(*sys.argv[1:])
