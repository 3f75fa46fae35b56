#!/usr/bin/env bash
# Installs the Debian packages a build or test needs, only when something is
# missing. Usage: scripts/install-deps.sh GROUP...  (groups: native, tests, windows, wine, release)
#
# A package counts as present when dpkg has it installed (also on hold), or,
# for a tool, when its command is on PATH however it got there (cmake at
# least 3.25, which the presets need). Python modules count when
# /usr/bin/python3 imports them: the tests run that interpreter.
# Run as root, or as a user with sudo. Without either, it prints the missing
# packages and the one command to run as root, and exits 1.
set -euo pipefail

pkgs=()
need_i386=0
for group in "$@"; do
  case "$group" in
    native)  pkgs+=(g++ cmake ninja-build make) ;;
    tests)   pkgs+=(googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
                    srecord python3 python3-intelhex valgrind) ;;
    windows) pkgs+=(g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64) ;;
    wine)    need_i386=1
             pkgs+=(wine64 wine fonts-wine wine32:i386 libxrender1 libxrandr2 libxi6 libxcursor1 libxinerama1
                    libxcomposite1 libxfixes3 libxxf86vm1 xvfb xauth xdotool imagemagick zip unzip) ;;
    release) pkgs+=(osslsigncode openssl python3 python3-intelhex) ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

have() { command -v "$1" >/dev/null 2>&1; }

dpkg_installed() {
  # "install ok installed", "hold ok installed", ...: the files are there.
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -qE '^[a-z]+ ok installed$'
}

cmake_new_enough() {
  local text
  text=$(cmake --version 2>/dev/null | head -n 1) || return 1
  [[ $text =~ version\ ([0-9]+)\.([0-9]+) ]] || return 1
  local major=${BASH_REMATCH[1]} minor=${BASH_REMATCH[2]}
  [ "$major" -gt 3 ] || { [ "$major" -eq 3 ] && [ "$minor" -ge 25 ]; }
}

present() {
  dpkg_installed "$1" && return 0
  case "$1" in
    g++)                       have g++ ;;
    cmake)                     have cmake && cmake_new_enough ;;
    ninja-build)               have ninja ;;
    make)                      have make ;;
    clang)                     have clang++ ;;
    srecord)                   have srec_cat ;;
    valgrind)                  have valgrind ;;
    python3)                   [ -x /usr/bin/python3 ] ;;
    python3-intelhex)          [ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import intelhex' 2>/dev/null ;;
    binutils-mingw-w64-i686)   have i686-w64-mingw32-windres && have i686-w64-mingw32-objdump ;;
    binutils-mingw-w64-x86-64) have x86_64-w64-mingw32-windres && have x86_64-w64-mingw32-objdump ;;
    wine64)                    have wine64 ;;
    wine)                      have wine ;;
    xvfb)                      have Xvfb ;;
    xauth)                     have xauth ;;
    xdotool)                   have xdotool ;;
    imagemagick)               have convert ;;
    zip)                       have zip ;;
    unzip)                     have unzip ;;
    # Libraries, fonts and the MinGW compilers (their win32 thread model
    # matters): the Debian package itself.
    *) return 1 ;;
  esac
}

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
