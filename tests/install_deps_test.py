#!/usr/bin/python3
"""scripts/install-deps.sh on a machine made of stand-ins: a dpkg database
given per case, tools on PATH or not, root or not, sudo or not. It finds
what is missing, counts a package as present however it was installed (but
not a command that merely has the tool's name), and as a user without sudo
prints the missing packages and the one command to run as root instead of
failing on "sudo: command not found". --verify names the first command that
is missing or is another program.

    install_deps_test.py SOURCE_DIR
"""
import os
import shlex
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest
import weakref

SCRIPT = None
NATIVE = ["g++", "cmake", "ninja-build", "make", "nlohmann-json3-dev"]
# The native group's headers: they count only through dpkg.
NATIVE_HEADERS = {"nlohmann-json3-dev": "install ok installed"}
# Real programs the script itself runs.
REAL = ["bash", "env", "grep", "head", "cut", "timeout"]

# What each genuine tool prints when asked for its version (as Debian 12's do).
GENUINE = {
    "g++": "g++ (Debian 12.2.0-14) 12.2.0\nCopyright (C) 2022 Free Software Foundation, Inc.",
    "ninja": "1.11.1",
    "make": "GNU Make 4.3",
    "wine64": "wine-8.0 (Debian 8.0~repack-4)",
    "wineserver": "Wine 8.0",
    "Xvfb": "use: X [:<display>] [option]\\n-fbdir directory       put framebuffers in files",
    "xauth": "1.1.2",
    "xdotool": "xdotool version 3.20160805.1",
    "convert": "Version: ImageMagick 6.9.11-60 Q16 x86_64 2021-01-25",
    "import": "Version: ImageMagick 6.9.11-60 Q16 x86_64 2021-01-25",
    "zip": "Copyright (c) 1990-2008 Info-ZIP\nThis is Zip 3.0 (July 5th 2008), by Info-ZIP.",
    "unzip": "UnZip 6.00 of 20 April 2009, by Debian.",
}

# Tools that print their answer on standard error only (Xvfb -help does).
ON_STDERR = {"Xvfb"}


class Machine:
    def __init__(self, installed, uid=1000, sudo=False, commands=(), cmake_version=None, i386=False, impostors=None):
        """commands: tools on PATH that answer as themselves; impostors: name ->
        what an unrelated program of that name prints."""
        self.dir = tempfile.TemporaryDirectory()
        weakref.finalize(self, self.dir.cleanup)
        self.bin = os.path.join(self.dir.name, "bin")
        self.log = os.path.join(self.dir.name, "calls.log")
        log = shlex.quote(self.log)  # as a word of the stand-in tools' scripts
        os.makedirs(self.bin)
        for name in REAL:
            os.symlink(shutil.which(name), os.path.join(self.bin, name))
        database = os.path.join(self.dir.name, "status")
        with open(database, "w") as f:
            f.write("".join(f"{name}={state}\n" for name, state in installed.items()))
        # dpkg-query -W -f='${Status}\n' NAME: the status line, or an error.
        self.tool("dpkg-query", f"""
name="${{@: -1}}"
while IFS= read -r line; do
  if [ "${{line%%=*}}" = "$name" ]; then printf '%s\\n' "${{line#*=}}"; exit 0; fi
done <{shlex.quote(database)}
echo "dpkg-query: no packages found matching $name" >&2
exit 1""")
        self.tool("dpkg", f'[ "$1" = --print-foreign-architectures ] && {{ {"echo i386" if i386 else "true"}; exit 0; }}\n'
                          f'echo "dpkg $*" >>{log}')
        self.tool("id", f'echo {uid}')
        self.env = {"PATH": self.bin, "HOME": self.dir.name, "WINE64_LOADER": os.path.join(self.bin, "wine64")}
        self.tool("apt-get", f'echo "apt-get $*" >>{log}')
        if sudo:
            self.tool("sudo", f'echo "sudo $1" >>{log}; "$@"')
        for command in commands:
            self.tool(command, f"printf '%b\\n' '{GENUINE[command]}'{' >&2' if command in ON_STDERR else ''}")
        for command, text in (impostors or {}).items():
            self.tool(command, f"echo '{text}'")
        if cmake_version:
            self.tool("cmake", f'echo "cmake version {cmake_version}"')

    def tool(self, name, body):
        path = os.path.join(self.bin, name)
        with open(path, "w") as f:
            f.write("#!" + shutil.which("bash") + "\n" + body + "\n")
        os.chmod(path, stat.S_IRWXU)

    def run(self, *groups):
        """The script with GROUPS (and any option among them)."""
        done = subprocess.run([shutil.which("bash"), SCRIPT, *groups], capture_output=True, text=True,
                              env=self.env)
        calls = []
        if os.path.exists(self.log):
            with open(self.log) as f:
                calls = f.read().splitlines()
        return done.returncode, done.stdout, done.stderr, calls


def all_installed(state="install ok installed", **changes):
    installed = {name: state for name in NATIVE}
    installed.update(changes)
    return installed


# The packages of the wine group that count only through dpkg.
WINE_LIBRARIES = ("fonts-wine wine32:i386 libxrender1 libxrandr2 libxi6 libxcursor1 libxinerama1 "
                  "libxcomposite1 libxfixes3 libxxf86vm1")
WINE_TOOLS = ["wine64", "wineserver", "Xvfb", "xauth", "xdotool", "convert", "import", "zip", "unzip"]


class InstallDeps(unittest.TestCase):
    def test_present_however_installed(self):
        cases = [
            ("dpkg: installed", Machine(all_installed())),
            ("dpkg: on hold", Machine(all_installed("hold ok installed"))),
            ("dpkg: marked for removal, still installed", Machine(all_installed("deinstall ok installed"))),
            ("tools on PATH, not from dpkg",
             Machine(NATIVE_HEADERS, commands=["g++", "ninja", "make"], cmake_version="3.27.4")),
        ]
        for name, machine in cases:
            with self.subTest(name):
                code, out, err, calls = machine.run("native")
                self.assertEqual((code, out, err, calls), (0, "", "", []))

    def test_missing_as_a_user_without_sudo_prints_the_command_for_root(self):
        install = "apt-get update && apt-get install -y --no-install-recommends "
        wine_libraries = WINE_LIBRARIES
        cases = [
            ("not installed", Machine(all_installed(**{"ninja-build": "unknown ok not-installed"})),
             ["native"], "ninja-build", install + "ninja-build"),
            ("removed, its configuration left", Machine(all_installed(make="deinstall ok config-files")),
             ["native"], "make", install + "make"),
            ("cmake on PATH too old", Machine(NATIVE_HEADERS, commands=["g++", "ninja", "make"], cmake_version="3.16.3"),
             ["native"], "cmake", install + "cmake"),
            ("nothing at all", Machine({}), ["native"], "g++ cmake ninja-build make nlohmann-json3-dev",
             install + "g++ cmake ninja-build make nlohmann-json3-dev"),
            ("wine without the i386 architecture", Machine({}, commands=WINE_TOOLS), ["wine"], wine_libraries,
             "dpkg --add-architecture i386 && " + install + wine_libraries),
            ("wine with the i386 architecture", Machine({}, commands=WINE_TOOLS, i386=True), ["wine"],
             wine_libraries, install + wine_libraries),
        ]
        for name, machine, groups, missing, command in cases:
            with self.subTest(name):
                code, out, err, calls = machine.run(*groups)
                self.assertEqual(code, 1)
                self.assertEqual(out, "")
                self.assertEqual(err.splitlines(), [
                    f"install-deps: missing Debian packages: {missing}",
                    "install-deps: not running as root, and sudo is not installed; as root, run:",
                    f"  {command}"])
                self.assertEqual(calls, [], "nothing may be run")

    def test_missing_as_root_or_with_sudo_installs_just_that(self):
        cases = [
            ("root", Machine(all_installed(make="unknown ok not-installed"), uid=0), []),
            ("user with sudo", Machine(all_installed(make="unknown ok not-installed"), sudo=True),
             ["sudo apt-get", "sudo env"]),
        ]
        for name, machine, sudo_calls in cases:
            with self.subTest(name):
                code, out, err, calls = machine.run("native")
                self.assertEqual(code, 0, err)
                self.assertEqual([c for c in calls if c.startswith("sudo")], sudo_calls)
                self.assertEqual([c for c in calls if c.startswith("apt-get")],
                                 ["apt-get update -qq", "apt-get install -y -qq --no-install-recommends make"])

    def test_a_command_of_the_same_name_is_not_the_tool(self):
        # An unrelated `convert` (and `xdotool`) first on PATH, the real
        # packages not installed: both still count as missing.
        impostors = {"convert": "convert: converts units, not pictures", "xdotool": "usage: xdotool [-v]"}
        machine = Machine({}, commands=[c for c in WINE_TOOLS if c not in impostors], i386=True,
                          impostors=impostors)
        code, out, err, calls = machine.run("wine")
        self.assertEqual(code, 1)
        self.assertIn("install-deps: missing Debian packages: fonts-wine ", err)
        missing = err.splitlines()[0].split(": ", 1)[1].split()
        self.assertIn("imagemagick", missing)
        self.assertIn("xdotool", missing)
        self.assertNotIn("wine", missing)  # the genuine tools still count
        self.assertNotIn("zip", missing)

    def test_verify_names_the_command_and_its_package(self):
        cases = [
            ("all genuine", Machine(NATIVE_HEADERS, commands=["g++", "ninja", "make"], cmake_version="3.25.1"), 0, ""),
            ("headers missing", Machine({}, commands=["g++", "ninja", "make"], cmake_version="3.25.1"), 1,
             "the Debian package nlohmann-json3-dev is not installed"),
            ("an impostor", Machine(NATIVE_HEADERS, commands=["g++", "ninja"], cmake_version="3.25.1",
                                    impostors={"make": "make: a cake recipe tool"}), 1,
             "'make --version' is missing or is not the tool from the Debian package make"),
            ("missing", Machine(NATIVE_HEADERS, commands=["g++", "make"], cmake_version="3.25.1"), 1,
             "'ninja --version' is missing or is not the tool from the Debian package ninja-build"),
            ("cmake too old", Machine(NATIVE_HEADERS, commands=["g++", "ninja", "make"], cmake_version="3.16.3"), 1,
             "'cmake --version (at least 3.25)' is missing or is not the tool from the Debian package cmake"),
            ("installed by dpkg is not enough", Machine(all_installed()), 1,
             "'g++ --version' is missing or is not the tool from the Debian package g++"),
        ]
        for name, machine, status, message in cases:
            with self.subTest(name):
                code, out, err, calls = machine.run("--verify", "native")
                self.assertEqual(code, status, err)
                self.assertEqual(len(err.splitlines()), 1 if message else 0, err)
                self.assertIn(message, err)
                self.assertEqual(calls, [], "--verify installs nothing")

    def test_verify_wine_where_the_32bit_loader_cannot_execute(self):
        # A kernel without 32-bit support: Debian's `wine` script picks the
        # installed 32-bit loader, which the kernel refuses (exit 126). The
        # 64-bit loader and the server still answer, and that is enough.
        libraries = {name: "install ok installed" for name in WINE_LIBRARIES.split()}
        cases = [
            ("32-bit loader refused", Machine(libraries, commands=WINE_TOOLS), 0, ""),
            ("server an impostor", Machine(libraries, commands=[c for c in WINE_TOOLS if c != "wineserver"],
                                           impostors={"wineserver": "wineserver: a waiter"}), 1,
             "'wineserver --version' is missing or is not the tool from the Debian package wine"),
            ("no 64-bit loader", Machine(libraries, commands=[c for c in WINE_TOOLS if c != "wine64"]), 1,
             "--version' is missing or is not the tool from the Debian package wine64"),
        ]
        for name, machine, status, message in cases:
            with self.subTest(name):
                machine.tool("wine", "echo 'Exec format error' >&2; exit 126")
                code, out, err, calls = machine.run("--verify", "wine")
                self.assertEqual(code, status, err)
                self.assertIn(message, err)
                self.assertEqual(calls, [], "--verify installs nothing")

    def test_unknown_group(self):
        code, out, err, calls = Machine({}).run("native", "gui")
        self.assertEqual((code, err, calls), (2, "install-deps: unknown group 'gui'\n", []))


if __name__ == "__main__":
    SCRIPT = os.path.join(sys.argv[1], "scripts", "install-deps.sh")
    unittest.main(argv=sys.argv[:1], verbosity=2)
