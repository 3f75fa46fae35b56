#!/usr/bin/env bash
# Installs the Debian packages a build or test needs, only when something is
# missing.
#
#   scripts/install-deps.sh GROUP...           install what is missing
#   scripts/install-deps.sh --verify GROUP...  check that every command the
#                                              scripts call answers as itself
#
# Groups: native, tests, windows, wine, release, checks, bench.
#
# A package counts as present when dpkg has it installed (also on hold), or
# when every command the scripts call from it is on PATH and answers as that
# tool: its version text names it (ImageMagick's `convert -version` says
# "ImageMagick"; cmake must be at least 3.25, which the presets need). A
# command of the right name that is some other program does not count.
# Python modules count when /usr/bin/python3 imports them: the tests run that
# interpreter. Libraries and fonts count only through dpkg.
#
# Run as root, or as a user with sudo. Without either, it prints the missing
# packages and the one command to run as root, and exits 1. --verify installs
# nothing: it prints one line naming the first command that is missing or is
# another program, and the package it comes from, and exits 1.
set -euo pipefail

verify=0
if [ "${1:-}" = --verify ]; then
  verify=1
  shift
fi

pkgs=()
need_i386=0
for group in "$@"; do
  case "$group" in
    native) pkgs+=(g++ cmake ninja-build make nlohmann-json3-dev) ;;
    tests) pkgs+=(googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
      srecord python3 python3-intelhex valgrind) ;;
    windows) pkgs+=(g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 mingw-w64-tools binutils-mingw-w64-i686
      binutils-mingw-w64-x86-64) ;;
    wine)
      need_i386=1
      pkgs+=(wine64 wine fonts-wine wine32:i386 libxrender1 libxrandr2 libxi6 libxcursor1 libxinerama1
        libxcomposite1 libxfixes3 libxxf86vm1 xvfb xauth xdotool imagemagick zip unzip)
      ;;
    release) pkgs+=(osslsigncode openssl python3 python3-intelhex) ;;
    checks) pkgs+=(clang-format shellcheck) ;;
    bench) pkgs+=(jq time) ;;
    *)
      echo "install-deps: unknown group '$group'" >&2
      exit 2
      ;;
  esac
done

have() { command -v "$1" >/dev/null 2>&1; }

# Where Debian puts the 64-bit Wine loader (it has no command on PATH).
WINE64_LOADER=${WINE64_LOADER:-/usr/lib/wine/wine64}

cmake_new_enough() {
  local text
  text=$(cmake --version 2>/dev/null | head -n 1) || return 1
  [[ $text =~ version\ ([0-9]+)\.([0-9]+) ]] || return 1
  local major=${BASH_REMATCH[1]} minor=${BASH_REMATCH[2]}
  [ "$major" -gt 3 ] || { [ "$major" -eq 3 ] && [ "$minor" -ge 25 ]; }
}

dpkg_installed() {
  # "install ok installed", "hold ok installed", ...: the files are there.
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -qE '^[a-z]+ ok installed$'
}

# probes PACKAGE CHECK: for each command the scripts call from PACKAGE, runs
# "CHECK PATTERN COMMAND ARG...", stopping at the first that fails. The
# command answers as that tool when what it prints (standard output and
# error) matches the extended regular expression PATTERN. The arguments are
# passed as they are, each a word of its own, so a path (the Wine loader's,
# say) may hold any character. Returns 3 when PACKAGE has no probe: it counts
# only through dpkg.
probes() {
  local check=$2
  case "$1" in
    g++) $check 'Free Software Foundation' g++ --version ;;
    cmake) $check '^cmake version' cmake --version ;; # and at least 3.25: cmake_new_enough
    ninja-build) $check '^1\.[0-9]+\.[0-9]+' ninja --version ;;
    make) $check '^GNU Make' make --version ;;
    clang) $check 'clang version' clang++ --version ;;
    srecord) $check 'srec_cat version' srec_cat -version ;;
    valgrind) $check '^valgrind-' valgrind --version ;;
    python3) $check '^Python 3\.' /usr/bin/python3 --version ;;
    python3-intelhex) $check '^intelhex$' /usr/bin/python3 -c 'import intelhex; print("intelhex")' ;;
    g++-mingw-w64-i686-win32) $check 'Thread model: win32' i686-w64-mingw32-g++ -v ;;
    g++-mingw-w64-x86-64-win32) $check 'Thread model: win32' x86_64-w64-mingw32-g++ -v ;;
    binutils-mingw-w64-i686)
      $check 'GNU windres' i686-w64-mingw32-windres --version &&
        $check 'GNU objdump' i686-w64-mingw32-objdump --version
      ;;
    binutils-mingw-w64-x86-64)
      $check 'GNU windres' x86_64-w64-mingw32-windres --version &&
        $check 'GNU objdump' x86_64-w64-mingw32-objdump --version
      ;;
    wine64) $check '^wine-[0-9]' "$WINE64_LOADER" --version ;;
    # Not `wine --version`: Debian's wine script runs the 32-bit loader
    # whenever it is installed, and a kernel without 32-bit support cannot
    # execute it at all (exit 126). The server answers on every machine; the
    # 32-bit loader itself counts through dpkg (wine32:i386).
    wine) $check '^Wine [0-9]' wineserver --version ;;
    xvfb) $check '^-fbdir ' Xvfb -help ;; # Xvfb has no version option; its own option
    xauth) $check '^[0-9]+\.[0-9]+' xauth -V ;;
    xdotool) $check '^xdotool version' xdotool --version ;;
    imagemagick)
      $check 'ImageMagick' convert -version &&
        $check 'ImageMagick' import -version
      ;;
    zip) $check 'This is Zip' zip -v ;;
    unzip) $check '^UnZip' unzip -v ;;
    osslsigncode) $check '^osslsigncode' osslsigncode --version ;;
    openssl) $check '^OpenSSL' openssl version ;;
    clang-format) $check 'clang-format version' clang-format --version ;;
    shellcheck) $check '^ShellCheck' shellcheck --version ;;
    jq) $check '^jq-1' jq --version ;;
    time) $check 'GNU time' /usr/bin/time --version ;;
    *) return 3 ;;
  esac
}

has_probes() {
  local rc=0
  probes "$1" true || rc=$?
  [ "$rc" -ne 3 ]
}

# answers PATTERN COMMAND ARG...: COMMAND is on PATH and its output matches.
answers() {
  local pattern=$1 out
  shift
  have "$1" || return 1
  out=$(timeout 20 "$@" </dev/null 2>&1) || true
  grep -qE "$pattern" <<<"$out"
}

# answers_or_names PATTERN COMMAND ARG...: as answers, and prints the command
# when it does not answer.
answers_or_names() {
  answers "$@" || {
    shift
    echo "$*"
    return 1
  }
}

# Each probe of PACKAGE answers; prints the first one that does not.
tools_answer() {
  probes "$1" answers_or_names || return 1
  if [ "$1" = cmake ] && ! cmake_new_enough; then
    echo "cmake --version (at least 3.25)"
    return 1
  fi
}

present() {
  dpkg_installed "$1" && return 0
  has_probes "$1" && tools_answer "$1" >/dev/null
}

if [ "$verify" = 1 ]; then
  for p in "${pkgs[@]}"; do
    if ! has_probes "$p"; then
      dpkg_installed "$p" || {
        echo "install-deps: the Debian package $p is not installed: run scripts/install-deps.sh" >&2
        exit 1
      }
    elif ! failed=$(tools_answer "$p"); then
      echo "install-deps: '$failed' is missing or is not the tool from the Debian package $p" \
        "(the first '${failed%% *}' on PATH: $(command -v "${failed%% *}" || echo none))" >&2
      exit 1
    fi
  done
  exit 0
fi

add_i386=0
if [ "$need_i386" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then add_i386=1; fi

missing=()
for p in "${pkgs[@]}"; do
  present "$p" || missing+=("$p")
done
[ "${#missing[@]}" -gt 0 ] || [ "$add_i386" = 1 ] || exit 0

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if ! have sudo; then
    command="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
    [ "${#missing[@]}" -gt 0 ] || command="apt-get update"
    [ "$add_i386" = 0 ] || command="dpkg --add-architecture i386 && $command"
    {
      echo "install-deps: missing Debian packages: ${missing[*]:-(none; the i386 architecture is not enabled)}"
      echo "install-deps: not running as root, and sudo is not installed; as root, run:"
      echo "  $command"
    } >&2
    exit 1
  fi
  SUDO=(sudo)
fi

if [ "$add_i386" = 1 ]; then
  "${SUDO[@]}" dpkg --add-architecture i386
fi
echo "install-deps: installing ${missing[*]:-(package lists only)}"
"${SUDO[@]}" apt-get update -qq
if [ "${#missing[@]}" -gt 0 ]; then
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
