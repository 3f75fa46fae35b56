#!/usr/bin/env bash
# Installs the Debian packages a build or test needs, only when something is
# missing. Usage: scripts/install-deps.sh GROUP...  (groups: native, tests, windows, wine, release)
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

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if [ "$need_i386" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  FORCE_UPDATE=1
fi

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ] || [ "${FORCE_UPDATE:-0}" = 1 ]; then
  echo "install-deps: installing ${missing[*]:-(package lists only)}"
  $SUDO apt-get update -qq
  if [ "${#missing[@]}" -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi
