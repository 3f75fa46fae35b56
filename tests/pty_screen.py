#!/usr/bin/env python3
"""Runs a command on a pseudo-terminal, as if typed in a terminal window, and
writes what it showed to standard output as plain UTF-8 text, lines ending
in a bare line feed: the cursor
moves that Wine's console sends to a terminal are turned back into the
blanks they stand for, other control sequences are dropped. Exits with the
command's exit code. For scripts/wine-console-tests.sh.

    pty_screen.py COMMAND [ARG...]
"""
import fcntl
import os
import pty
import re
import select
import struct
import sys
import termios


def main(argv):
    pid, fd = pty.fork()
    if pid == 0:
        # Wide enough that no line is wrapped.
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 500, 0, 0))
        os.execvp(argv[0], argv)
    shown = b""
    while select.select([fd], [], [], 120)[0]:
        try:
            data = os.read(fd, 65536)
        except OSError:  # the command ended and closed the terminal
            break
        if not data:
            break
        shown += data
    _, status = os.waitpid(pid, 0)
    shown = re.sub(rb"\x1b\[(\d*)C", lambda m: b" " * int(m.group(1) or 1), shown)
    shown = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07", b"", shown)
    sys.stdout.buffer.write(re.sub(rb"\r+\n", b"\n", shown))
    return os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
