#!/usr/bin/python3
"""What the console program's end-to-end tests share: running lumaris-update
against the simulated device, reading its JSON lines and the simulated
device's summary (--sim-summary), holding a run in words to the same run in
JSON, the device options of a quick or a slow run, stopping a run with signals or keys typed on a pseudo-terminal, and the
flash image a HEX file describes (read with intelhex).

Each tests/console_*_test.py is a unittest module. Its own arguments come
first, as ctest passes them; whatever follows picks cases as unittest does:

    console_program_test.py LUMARIS_UPDATE FIRMWARE_HEX [UNITTEST ARGUMENT...]
    console_program_test.py build/native/console/lumaris-update firmware/demo.hex TerminalAnswers
    console_program_test.py build/native/console/lumaris-update firmware/demo.hex \\
        UsageErrors.test_each_bad_command_line_is_refused_on_one_line
    console_program_test.py build/native/console/lumaris-update firmware/demo.hex -k restart
"""
import concurrent.futures
import json
import os
import pty
import select
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from typing import NamedTuple, Optional

from intelhex import IntelHex

# The program under test and the test file's other arguments, set by main().
PROGRAM = None
ARGUMENTS = {}

# Replies and erases at once, the restart wait left to the program's default: only the restart takes time.
QUICK = ["--reply-delay", "0", "--erase-delay", "0"]
# Replies and erases at once, the restart awaited until the bootloader shows.
FAST = QUICK + ["--restart-wait", "auto"]
# Slow enough to be stopped half-way: about 2 s of programming.
SLOW = ["--reply-delay", "1", "--erase-delay", "30"]
# Replies 3 ms late, well inside their 100 ms window: an update takes about 800 ms, longer than a restart.
STEADY = ["--reply-delay", "3", "--erase-delay", "0"]

FLASH_SIZE = 0xFC00
PAGE_SIZE = 512


def main(*names):
    """Takes the test file's own arguments, named `names` (the program first),
    from the command line and runs the cases the rest picks (all by default)."""
    global PROGRAM
    if len(sys.argv) <= len(names) or sys.argv[1].startswith("-"):
        script = os.path.basename(sys.argv[0])
        print(f"usage: {script} {' '.join(names)} [UNITTEST ARGUMENT...]\n"
              f"       {script} {' '.join(names)} CLASS[.test_METHOD]   one class or case alone\n"
              f"       {script} {' '.join(names)} -k PATTERN            the cases whose names hold PATTERN",
              file=sys.stderr)
        sys.exit(2)
    values = sys.argv[1:1 + len(names)]
    ARGUMENTS.update(zip(names, values))
    PROGRAM = os.path.abspath(values[0])  # the cases may run it from a folder of their own
    unittest.main(module="__main__", argv=sys.argv[:1] + sys.argv[1 + len(names):], verbosity=2)


def argument(name):
    """The test file's argument `name`, as main() took it."""
    return ARGUMENTS[name]


# ---------------------------------------------------------------- running the program

class Ran(NamedTuple):
    code: Optional[int]  # None: killed at its timeout
    out: object  # str, or bytes with text=False; None when standard output went elsewhere
    err: object


def run(args, *, timeout=60, text=True, **popen):
    """Runs the program with `args` (str or bytes), standard input from
    /dev/null, and waits for it. A run that does not end within `timeout`
    seconds is killed: its code is None and its error output says so."""
    popen.setdefault("stdout", subprocess.PIPE)
    popen.setdefault("stderr", subprocess.PIPE)
    popen.setdefault("stdin", subprocess.DEVNULL)
    try:
        p = subprocess.run([PROGRAM, *args], text=text, timeout=timeout, **popen)
    except subprocess.TimeoutExpired:
        said = f"no end within {timeout} s"
        return Ran(None, "" if text else b"", said if text else said.encode())
    return Ran(p.returncode, p.stdout, p.stderr)


def json_lines(text, where="standard output"):
    """Each line of `text` read as JSON; a line that is not fails the test."""
    objects = []
    for line in text.splitlines():
        try:
            objects.append(json.loads(line))
        except ValueError:
            raise AssertionError(f"a line on {where} is not JSON: {line!r}") from None
    return objects


def sim_summaries(err):
    """The simulated devices' summaries (--sim-summary), one a device, from standard error."""
    return [json.loads(line) for line in err.splitlines() if line.startswith('{"sim_device"')]


class JsonRun(NamedTuple):
    code: Optional[int]
    events: list  # every line of standard output, read as JSON
    sims: list  # the summary of each simulated device, in index order
    err: str

    @property
    def summary(self):
        """The first device's summary, or None when the run printed none."""
        return self.sims[0] if self.sims else None

    @property
    def result(self):
        """The last object ({} when there is none): the result, when the run ended as it should."""
        return self.events[-1] if self.events else {}

    def of(self, kind):
        """The events of one kind, in order."""
        return [e for e in self.events if e["event"] == kind]


def json_options(summary):
    return ["--json"] + (["--sim-summary"] if summary else [])


def run_json(args, *, summary=True, **kw):
    """Runs with --json (and --sim-summary unless `summary` is false); every
    line on standard output must be JSON."""
    ran = run(json_options(summary) + list(args), **kw)
    return JsonRun(ran.code, json_lines(ran.out, f"standard output of {args}"), sim_summaries(ran.err), ran.err)


def run_json_reacting(args, reactions, *, summary=True, gap=0.1, timeout=60):
    """Runs with --json (and --sim-summary); `reactions` is a list of (when,
    signals): the first object satisfying each `when` is answered with its
    signals, sent `gap` seconds apart (two signals at once may arrive as one)."""
    p = subprocess.Popen([PROGRAM, *json_options(summary), *args], stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        events, pending = [], list(reactions)
        for line in p.stdout:
            events += json_lines(line, f"standard output of {args}")
            for reaction in [r for r in pending if r[0](events[-1])]:
                pending.remove(reaction)
                for i, number in enumerate(reaction[1]):
                    if i:
                        time.sleep(gap)
                    p.send_signal(number)
        err = p.stderr.read()
        code = p.wait(timeout=timeout)
    finally:
        if p.poll() is None:
            p.kill()
            p.wait()
        p.stdout.close()
        p.stderr.close()
    return JsonRun(code, events, sim_summaries(err), err)


def on_terminal(args, after=None, keys=(), *, gap=0.1, deadline=60):
    """Runs the program on a pseudo-terminal (its standard input, output and
    error); once `after` (bytes) has appeared in what it shows, types each
    byte string of `keys`, `gap` seconds apart. Returns the exit code and
    everything the program wrote to the terminal. A program still running at
    `deadline` seconds is killed, and the test fails."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(PROGRAM, [PROGRAM] + args)
    output, typed, end = b"", after is None, time.monotonic() + deadline
    try:
        while time.monotonic() < end:
            ready, _, _ = select.select([fd], [], [], 0.05)
            if ready:
                try:
                    chunk = os.read(fd, 4096)
                except OSError:  # the program ended and closed the terminal
                    break
                if not chunk:
                    break
                output += chunk
            if not typed and after in output:
                typed = True
                for key in keys:
                    os.write(fd, key)
                    time.sleep(gap)
        # The terminal closes as the program ends; it may take a moment more to exit.
        done, status = os.waitpid(pid, os.WNOHANG)
        while done == 0 and time.monotonic() < end:
            time.sleep(0.05)
            done, status = os.waitpid(pid, os.WNOHANG)
        if done == 0:  # still running at the deadline: a hang, not a result
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            raise AssertionError(f"{args}: still running {deadline} s after it started; killed")
    finally:
        os.close(fd)
    return os.waitstatus_to_exitcode(status), output.decode(errors="replace")


def terminal_lines(shown):
    """What a terminal showed, as lines (its \\r\\n line ends made \\n)."""
    return shown.replace("\r\n", "\n").split("\n")


def started(function, cases, workers=2):
    """Starts function(case) for each case, at most `workers` at a time (the
    machine is shared), and returns the futures in the order of `cases`. Read
    each one inside its case's subTest: a case that raised fails alone."""
    pool = concurrent.futures.ThreadPoolExecutor(max_workers=workers)
    futures = [pool.submit(function, case) for case in cases]
    pool.shutdown(wait=False)
    return futures


class WordsAndJson(unittest.TestCase):
    """Cases that hold a run in words and the same run in JSON to each other."""

    def assertSaidAlike(self, words, ran, name=""):
        """`words` (a Ran without --json) and `ran` (a JsonRun of the same
        options) end alike: one exit code for both and in the result line,
        and the last line in words is the result's message. Returns the
        lines in words."""
        lines = words.out.splitlines()
        result = ran.result
        self.assertEqual(result.get("event"), "result", f"{name}: the last JSON line is not the result")
        self.assertEqual((words.code, result["exit_code"]), (ran.code, ran.code),
                         f"{name}: exit code in words and in the result against that of --json: "
                         f"{lines[-1:]}, {result}, standard error in words {words.err!r}")
        self.assertEqual(lines[-1:], [result["message"]], f"{name}: the last line in words against the message")
        return lines

    def words_and_json(self, args, **kw):
        """Runs `args` in words, then with --json and --sim-summary, and holds
        the two alike. Returns the lines in words and the JsonRun."""
        words = run(args, **kw)
        ran = run_json(args, **kw)
        return self.assertSaidAlike(words, ran, " ".join(args)), ran


class InScratchFolder(unittest.TestCase):
    """A case with a scratch folder of its own (self.folder), removed after it."""

    def setUp(self):
        self.folder = scratch_folder(self)


def scratch_folder(case):
    """A new scratch folder, removed after `case` (a test) or after every case of `case` (a class)."""
    scratch = tempfile.TemporaryDirectory()
    if isinstance(case, type):
        case.addClassCleanup(scratch.cleanup)
    else:
        case.addCleanup(scratch.cleanup)
    return scratch.name


# ---------------------------------------------------------------- the simulated device

def written(s):
    """How many packets that change flash reached a simulated device (its summary `s`)."""
    return s["flash_key_packets"] + s["erase_packets"] + s["halves_written"] + s["signature_packets"]


def holds_image(s):
    """A simulated device (its summary `s`) holds every page of the image and a valid signature."""
    return s["signature_valid"] and s["pages_matching_image"] == s["image_pages"]


def untouched(s):
    """Nothing written, no restart into the bootloader, no run command."""
    return written(s) == 0 and s["mode_switches"] == 0 and s["run_commands"] == 0


def flash_image(hex_path):
    """The 64,512-byte flash image the program makes of a HEX file (0xFF where
    the file sets nothing) and the sorted pages the file sets bytes in, read
    with intelhex (which also checks each record's checksum)."""
    image = IntelHex(hex_path)
    addresses = image.addresses()
    if addresses and addresses[-1] >= FLASH_SIZE:
        raise ValueError(f"{hex_path}: address 0x{addresses[-1]:X} lies beyond the {FLASH_SIZE}-byte flash")
    image.padding = 0xFF
    return bytes(image.tobinarray(start=0, size=FLASH_SIZE)), sorted({a // PAGE_SIZE for a in addresses})
