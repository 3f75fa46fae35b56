#!/usr/bin/python3
"""The console program's output end to end against the simulated device: a run log that stays
whole (a full file system, two stations appending at once, paths that are not a log, standard
streams closed so that the log could take their place) and a standard output that nobody reads
(the update ends, the device is safe, Ctrl+C ends the wait).

    console_output_test.py LUMARIS_UPDATE [UNITTEST ARGUMENT...]
"""
import json
import os
import resource
import signal
import subprocess
import time

import console_harness as harness
from console_harness import InScratchFolder, run, sim_summaries

# A reply that a loaded machine delays past its window is tried again: these tests are about the
# output, not the timing.
FAST = harness.FAST + ["--retries", "2"]


def parses(line):
    try:
        json.loads(line)
        return True
    except ValueError:
        return False


def read(path):
    with open(path) as f:
        return f.read()


def limit_file_size(size):
    """A file system with `size` bytes left, for the files this process writes. A write past the
    limit raises SIGXFSZ, whose default ends the process: the program must ignore it, and take the
    write's failure as it takes that of a full disk."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return apply


class FullFileSystem(InScratchFolder):
    def test_a_full_log_is_noted_once_and_the_next_run_ends_its_cut_line(self):
        log = os.path.join(self.folder, "full.jsonl")
        # Room for a few lines of the first run: one line is cut.
        code, _, err = run(["--log", log, "--sim-summary"] + FAST, preexec_fn=limit_file_size(1500))
        sims = sim_summaries(err)
        text = read(log)
        self.assertTrue(code == 0 and sims and sims[0]["signature_valid"] and 0 < len(text) <= 1500
                        and not text.endswith("\n") and err.count("the log " + log + " cannot be written") == 1,
                        f"a full log: the update goes on, its failure noted once: exit {code}, {len(text)} bytes, "
                        f"{err!r}")
        # The next run finds the cut line and ends it: its own lines parse.
        code, _, _ = run(["--log", log, "--label", "SN-2"] + FAST)
        lines = read(log).splitlines()
        broken = [i for i, l in enumerate(lines) if not parses(l)]
        second = [json.loads(l) for l in lines[broken[-1] + 1:]] if broken else []
        self.assertTrue(code == 0 and len(broken) == 1 and second and second[0]["event"] == "run_started"
                        and second[0]["label"] == "SN-2" and second[-1]["event"] == "result",
                        f"the run after a full disk: exit {code}, broken lines {broken} of {len(lines)}")

    def test_a_full_screen_and_a_full_log_are_both_noted(self):
        # The screen and the log fail apart, and each is noted.
        with open("/dev/full", "w") as full:
            code, _, err = run(["--log", os.path.join(self.folder, "full2.jsonl")] + FAST, stdout=full,
                               preexec_fn=limit_file_size(1500))
        self.assertTrue(code == 0 and "standard output cannot be written" in err and "the log " in err,
                        f"a full screen and a full log are both noted: exit {code}, {err!r}")


class TwoStations(InScratchFolder):
    def test_lines_appended_at_once_stay_whole(self):
        # Two stations append lines of 10 KB (their labels) to one log at the same time.
        log = os.path.join(self.folder, "shared.jsonl")
        runs = 15
        script = 'for i in $(seq {n}); do "$0" --no-device --log "$1" --label "$2"; done'.format(n=runs)
        labels = ["A" * 10240, "B" * 10240]
        stations = [subprocess.Popen(["sh", "-c", script, harness.PROGRAM, log, label], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL) for label in labels]
        for s in stations:
            s.wait(timeout=120)
        lines = read(log).splitlines()
        self.assertTrue(all(parses(l) for l in lines),
                        f"two stations: {sum(not parses(l) for l in lines)} of {len(lines)} lines mixed or cut")
        results = [json.loads(l)["label"] for l in lines if '"event":"result"' in l]
        self.assertEqual(sorted(results), sorted(labels * runs), f"two stations: {len(results)} results")


class NotALog(InScratchFolder):
    def test_a_path_that_is_no_log_is_refused_before_the_device(self):
        hex_file = os.path.join(self.folder, "firmware.hex")
        content = ":100000000102030405060708090A0B0C0D0E0F1068\n:00000001FF\n"
        with open(hex_file, "w") as f:
            f.write(content)
        link = os.path.join(self.folder, "station.jsonl")
        os.symlink(hex_file, link)
        fifo = os.path.join(self.folder, "fifo")
        os.mkfifo(fifo)
        # A first line that starts as a log's but is no JSON object: read as --show-log reads it.
        lookalike = os.path.join(self.folder, "lookalike.jsonl")
        with open(lookalike, "w") as f:
            f.write('{"event":"run_started", notes: SN-1 passed}\n')
        for name, path, why in (("a FIFO", fifo, "FIFO"), ("a firmware file", hex_file, "Intel HEX"),
                                ("a file that only starts like a log", lookalike, "first line is not a JSON line"),
                                ("a link to a firmware file", link, "Intel HEX"), ("a device", "/dev/null", "device"),
                                ("a folder", self.folder, "folder")):
            with self.subTest(name):
                code, out, err = run(["--log", path, "--sim-summary", "--yes"] + FAST, timeout=20)
                self.assertTrue(code == 2 and out == "" and why in err and "sim_device" not in err,
                                f"--log at {name}: exit {code}, {err!r}")
        self.assertEqual(read(hex_file), content, "the firmware file is left as it was")

    def test_a_link_to_a_log_is_a_log(self):
        log = os.path.join(self.folder, "real.jsonl")
        os.symlink(log, os.path.join(self.folder, "today.jsonl"))
        for _ in range(2):
            code, _, _ = run(["--log", os.path.join(self.folder, "today.jsonl"), "--no-device"])
        self.assertTrue(code == 1 and sum('"run_started"' in l for l in read(log).splitlines()) == 2,
                        f"--log through a link to a log: exit {code}")


def closing(fd):
    """Starts the program without descriptor `fd` (0, 1 or 2), as `<&-`, `>&-` or `2>&-` in a shell."""
    return lambda: os.close(fd)


# what, the descriptor closed, the options, the exit code. Each run writes to the closed stream: the
# update's lines, the line between attempts (-q: on standard error), --sim-summary, the question.
CLOSED = [
    ("standard output closed, words", 1, ["--sim-summary"], 0),
    ("standard output closed, --json", 1, ["--json", "--sim-summary"], 0),
    ("standard error closed, words", 2, ["-q", "--fault", "late-reply:7"], 0),
    ("standard error closed, --json", 2, ["--json", "--fault", "late-reply:7", "--sim-summary"], 0),
    ("standard input closed, words", 0, ["--installed", "2.00"], 3),
    ("standard input closed, --json", 0, ["--json", "--installed", "2.00"], 3),
]


class ClosedStandardStreams(InScratchFolder):
    def test_a_log_never_takes_a_closed_streams_place(self):
        # A closed stream is the null device: the log, opened next, gets a descriptor of its own, and holds
        # the run's JSON lines alone, once. The question reads as No, as from /dev/null.
        for what, fd, args, code_wanted in CLOSED:
            with self.subTest(what):
                log = os.path.join(self.folder, f"closed-{fd}-{len(args)}.jsonl")
                streams = {name: subprocess.DEVNULL for name, number in (("stdout", 1), ("stderr", 2)) if number == fd}
                code, out, _ = run(["--log", log] + args + FAST, preexec_fn=closing(fd), **streams)
                lines = read(log).splitlines()
                self.assertTrue(all(parses(l) and "event" in json.loads(l) for l in lines),
                                f"{what}: a line in the log that is no event: "
                                f"{[l for l in lines if not parses(l) or 'event' not in json.loads(l)][:3]}")
                events = [json.loads(l) for l in lines]
                kinds = [e["event"] for e in events]
                # Each run restarts its device once, and waits 500 ms for it: time for a copy of the line to
                # reach the log through a standard output that the log had taken.
                self.assertTrue(code == code_wanted and kinds[0] == "run_started"
                                and [kinds.count(k) for k in ("run_started", "restart_requested", "result")] == [1, 1, 1]
                                and events[-1]["exit_code"] == code,
                                f"{what}: exit {code}, one run, its lines once: {kinds}")
                if fd != 1 and "--json" in args:
                    self.assertEqual(json.loads(out.splitlines()[-1]), events[-1],
                                     f"{what}: standard output ends with the log's result")


def wait_for_line(path, text, seconds):
    """The log's lines once one of them holds `text`, or None after `seconds`."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        lines = read(path).splitlines() if os.path.exists(path) else []
        if any(text in l for l in lines):
            return [json.loads(l) for l in lines]
        time.sleep(0.05)
    return None


def ends(p, seconds):
    try:
        p.wait(timeout=seconds)
        return True
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
        return False


class UnreadOutput(InScratchFolder):
    """A standard output that nobody reads, and a reader that comes back or never does."""

    def start_unread(self, name, extra, form=("--json",)):
        """An update with -v whose standard output is a pipe that nobody reads (standard error goes
        the same way, behind it); the log tells what happens meanwhile."""
        log = os.path.join(self.folder, name + ".jsonl")
        err = open(os.path.join(self.folder, name + ".err"), "w+")
        self.addCleanup(err.close)
        p = subprocess.Popen([harness.PROGRAM, "-v", *form, "--yes", "--restart-wait", "auto", "--retries", "2",
                              "--log", log, "--sim-summary"] + extra, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=err)
        self.addCleanup(p.stdout.close)
        self.addCleanup(ends, p, 0)
        return p, log, err

    def test_the_update_ends_and_the_late_reader_gets_every_line_but_progress(self):
        # Nobody reads: the update still runs to its end, and the device holds the image.
        p, log, err = self.start_unread("late-reader", ["--reply-delay", "5", "--erase-delay", "10"])
        lines = wait_for_line(log, '"event":"result"', 30)
        self.assertTrue(lines and lines[-1]["outcome"] == "updated" and lines[-1]["signature_confirmed"]
                        and p.poll() is None,
                        f"an unread output holds the update: {lines[-1:] if lines else 'no result in the log within 30 s'}")
        # The reader comes back: every kept line comes out, the result last; the progress left out is counted.
        out = p.stdout.read().decode()
        ended = ends(p, 30)
        err.seek(0)
        errors = err.read()
        shown = [json.loads(l) for l in out.splitlines()]
        sims = sim_summaries(errors)
        self.assertTrue(ended and p.returncode == 0 and shown and shown[-1]["event"] == "result"
                        and shown[-1]["outcome"] == "updated" and sims and sims[0]["signature_valid"]
                        and "progress line(s) were left out: standard output was not read in time (the log holds "
                            "every line)" in errors,
                        f"the late reader: exit {p.returncode}, {shown[-1:]}, {errors[-400:]!r}")

        def kept(events):
            return [e["event"] for e in events if e["event"] not in ("page_programmed", "packet_sent", "reply_read",
                                                                     "run_started")]
        self.assertEqual(kept(shown), kept(lines or []), "the late reader: every line but progress is shown, in order")

    def test_the_late_reader_of_words_gets_the_last_line(self):
        # The same in words (-v | less, left unpaged): the packet lines may go, the last line comes.
        p, log, _ = self.start_unread("late-pager", ["--reply-delay", "5", "--erase-delay", "10"], form=())
        lines = wait_for_line(log, '"event":"result"', 30)
        out = p.stdout.read().decode()
        self.assertTrue(lines and lines[-1]["outcome"] == "updated" and ends(p, 30) and p.returncode == 0
                        and out.splitlines()[-1] == "device runs firmware 1.00 (updated)",
                        f"the late reader of words: exit {p.returncode}, {out.splitlines()[-1:]}")

    def test_ctrl_c_twice_after_the_update_ends_the_wait(self):
        # Nobody reads and the update is over: two Ctrl+C in all end the program; the exit code says updated.
        p, log, _ = self.start_unread("stopped-reader", ["--reply-delay", "1", "--erase-delay", "2"])
        lines = wait_for_line(log, '"event":"result"', 30)
        time.sleep(0.7)
        for _ in range(2):
            p.send_signal(signal.SIGINT)
            time.sleep(0.1)
        self.assertTrue(lines and ends(p, 10) and p.returncode == 0 == lines[-1]["exit_code"],
                        f"Ctrl+C twice after the update, output unread: exit {p.returncode}")

    def test_ctrl_c_twice_while_pages_are_written_stops(self):
        # Nobody reads and the pages are being written: the first Ctrl+C is deferred, the second stops.
        p, log, _ = self.start_unread("stopped-update", ["--reply-delay", "5", "--erase-delay", "10"])
        started = wait_for_line(log, '"index":5,', 30)
        p.send_signal(signal.SIGINT)
        deferred = wait_for_line(log, '"event":"stop_deferred"', 10)
        p.send_signal(signal.SIGINT)
        stopped = ends(p, 10)
        lines = [json.loads(l) for l in read(log).splitlines()]
        self.assertTrue(started and deferred and stopped and p.returncode == 130
                        and lines[-1]["outcome"] == "interrupted" and lines[-1]["pages_verified"] < 53,
                        f"Ctrl+C twice while pages are written, output unread: ended {stopped}, exit {p.returncode}, "
                        f"{lines[-1:]}")


if __name__ == "__main__":
    harness.main("LUMARIS_UPDATE")
