#!/usr/bin/env bash
# Makes the release zip: every Windows program, x86 and x64, built from one
# firmware file in fresh build folders, stripped, optionally signed, each
# program's firmware compared byte for byte with the file, packed
# reproducibly with a text for users and checksums, then smoke-tested.
#
#   scripts/release.sh [--firmware FILE.hex] [--sign CERT.pfx] [--allow-dirty]
#                      [--allow-warnings]
#
#   --firmware FILE.hex  the firmware to embed (default: firmware/demo.hex)
#   --sign CERT.pfx      sign every program with Authenticode (SHA-256); the
#                        certificate's password comes from the environment
#                        variable LUMARIS_SIGN_PASSWORD. A time stamp is added
#                        only when LUMARIS_TIMESTAMP_URL names a time-stamp
#                        server (the signature then differs from run to run).
#   --allow-dirty        build from a work tree with uncommitted changes
#   --allow-warnings     release although the embedding tool warns about the
#                        firmware file (README.txt then lists the warnings)
#
# Writes build/release/LumarisUpdate-<program version>-fw<firmware version>.zip
# and, beside it, the zip's SHA-256 (.zip.sha256), only once every check and
# the smoke test have passed: until then both lie in build/release-work/out/.
# In the zip, under one folder of the zip's name:
#   x86/*.exe, x64/*.exe  every program the builds install as `program`
#   README.txt            app/README-users.txt with this release's facts, CR LF
#   SHA256SUMS            the SHA-256 of every other file of the zip
# Two runs on the same commit, firmware and certificate give the same bytes:
# no time in the PE headers, source paths mapped out, debug sections
# stripped, the signing time and every file date in the zip taken from the
# commit, the files in a fixed order.
set -euo pipefail
CALLER_DIR=$PWD
cd "$(dirname "$0")/.."
ROOT=$(pwd -P)
# shellcheck source=lib/wine32.sh
. "$ROOT/scripts/lib/wine32.sh"
started=$SECONDS

say() { printf 'release: %s\n' "$*"; }
fail() { printf 'release: %s\n' "$*" >&2; exit 1; }
usage() { sed -n '7,18s/^# \{0,1\}//p' "$0"; }

# ---------------------------------------------------------------- options

firmware=$ROOT/firmware/demo.hex
cert=""
allow_dirty=0
allow_warnings=0
absolute() { case "$1" in /*) printf '%s' "$1" ;; *) printf '%s/%s' "$CALLER_DIR" "$1" ;; esac; }
while [ $# -gt 0 ]; do
  case "$1" in
    --firmware|--sign)
      [ $# -ge 2 ] || { echo "release: $1 needs a file" >&2; usage >&2; exit 2; }
      if [ "$1" = --firmware ]; then firmware=$(absolute "$2"); else cert=$(absolute "$2"); fi
      shift 2 ;;
    --firmware=*) firmware=$(absolute "${1#*=}"); shift ;;
    --sign=*) cert=$(absolute "${1#*=}"); shift ;;
    --allow-dirty) allow_dirty=1; shift ;;
    --allow-warnings) allow_warnings=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "release: unknown option '$1'" >&2; usage >&2; exit 2 ;;
  esac
done
firmware=$(realpath -s -m -- "$firmware")   # as the build records it
[ -f "$firmware" ] || fail "no firmware file $firmware"
if [ -n "$cert" ]; then
  [ -f "$cert" ] || fail "no certificate file $cert"
  [ -n "${LUMARIS_SIGN_PASSWORD+set}" ] || fail "--sign needs the certificate's password in LUMARIS_SIGN_PASSWORD"
fi

# ---------------------------------------------------------------- tools

deps_log=$(mktemp)
trap 'rm -f "$deps_log"' EXIT
scripts/install-deps.sh windows wine release >"$deps_log" 2>&1 || { cat "$deps_log" >&2; fail "installing the tools failed"; }
PY=/usr/bin/python3   # Debian's, with the intelhex module

OUT=$ROOT/build/release
WORK=$ROOT/build/release-work
PENDING=$WORK/out   # the zip and its SHA-256 until every check has passed
rm -rf "$WORK"
mkdir -p "$WORK" "$PENDING"

# ---------------------------------------------------------------- version and commit

version=$(sed -n 's/^project(LumarisUpdate VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no project version in CMakeLists.txt"

# The firmware as read here, with intelhex: its facts and the SHA-256 of its
# flash image (64,512 bytes, 0xFF where the HEX sets nothing). It names the
# release; a file that cannot be read is left to the embedding tool, which
# says where it is wrong.
hex_facts=$WORK/hex-facts.txt
"$PY" - "$firmware" >"$hex_facts" 2>/dev/null <<'EOF' || true
import hashlib, sys
from intelhex import IntelHex
hexfile = IntelHex()
hexfile.padding = 0xFF
hexfile.loadhex(sys.argv[1])
image = bytes(hexfile.tobinarray(start=0, size=0xFC00))
pages = sorted({a >> 9 for a in hexfile.addresses() if a < 0xFC00})
last = pages[-1]
hi, lo = image[last * 512 + 0x1FC], image[last * 512 + 0x1FD]
print(f"type=0x{image[last * 512 + 0x1FB]:02X}")
print("version=" + ("no version" if (hi, lo) == (0xFF, 0xFF) else f"{hi}.{lo:02d}"))
print(f"first_page={pages[0]}\nlast_page={last}\npages={len(pages)}")
print("sha256=" + hashlib.sha256(image).hexdigest())
EOF
fact() { sed -n "s/^$1=//p" "$2"; }
fw_version=$(fact version "$hex_facts")
fw_type=$(fact type "$hex_facts")
fw_sha256=$(fact sha256 "$hex_facts")
# A release of this name from an earlier run goes before anything else: a
# release that fails from here on leaves nothing that could pass for it.
name=LumarisUpdate-$version-fw$fw_version
[ -z "$fw_version" ] || rm -f "$OUT/$name.zip" "$OUT/$name.zip.sha256"
dirty_note=""
# Only a repository of these sources counts, not one they happen to lie in.
if [ "$(git -C "$ROOT" rev-parse --show-toplevel 2>/dev/null)" = "$ROOT" ]; then
  changes=$(git -C "$ROOT" status --porcelain --untracked-files=normal)
  if [ -n "$changes" ]; then
    if [ "$allow_dirty" = 0 ]; then
      printf 'release: the work tree has uncommitted changes:\n%s\n' "$(head -20 <<<"$changes")" >&2
      fail "commit them first (or give --allow-dirty for a build that is not a release)"
    fi
    dirty_note=" with uncommitted changes"
    say "building from a work tree with uncommitted changes (--allow-dirty)"
  fi
  commit=$(git -C "$ROOT" rev-parse HEAD)
  commit_time=$(git -C "$ROOT" log -1 --format=%ct HEAD)
  # A version tag on the commit must name the version the programs carry.
  for tag in $(git -C "$ROOT" tag --points-at HEAD 'v[0-9]*'); do
    [ "$tag" = "v$version" ] || fail "the commit is tagged $tag, but CMakeLists.txt says version $version"
  done
else
  # A source archive made by `git archive` carries the commit in VERSION.
  [ -f VERSION ] || fail "no git repository here and no VERSION file: cannot tell which commit this is"
  commit=$(sed -n 's/^commit=//p' VERSION)
  commit_time=$(sed -n 's/^date=//p' VERSION)
  [[ "$commit" =~ ^[0-9a-f]{40}$ && "$commit_time" =~ ^[0-9]+$ ]] ||
    fail "VERSION names no commit and date (was it made by git archive?)"
  say "no git repository: commit and date taken from the VERSION file"
fi
commit_date=$(TZ=UTC date -d "@$commit_time" +%Y-%m-%d)
say "program $version, commit ${commit:0:12} of $commit_date$dirty_note"

# Runs a command with its output in a log; shows the log when it fails.
quietly() {  # log command...
  local log=$1; shift
  if ! "$@" >"$log" 2>&1; then
    printf 'release: failed: %s\n' "$*" >&2
    if [ "$(wc -l <"$log")" -gt 200 ]; then
      printf 'release: ... the last 200 lines of %s:\n' "$log" >&2
      tail -n 200 "$log" >&2
    else
      cat "$log" >&2
    fi
    exit 1
  fi
}

# ---------------------------------------------------------------- builds

# Windows' own DLLs, the only ones a program may import (it is linked statically).
allowed_dlls=" kernel32.dll user32.dll gdi32.dll msvcrt.dll advapi32.dll shell32.dll comctl32.dll ole32.dll "

# The embedding tool's warnings in a build's output: its lines
# "FILE:LINE: warning: ..." and "FILE: warning: ..." about the firmware file.
tool_warnings() {  # build-log
  local line
  while IFS= read -r line; do
    case $line in "$firmware:"*": warning: "*) printf '%s\n' "$line" ;; esac
  done <"$1"
}

if [ -n "$cert" ]; then
  # A .pfx made by older tools is encrypted with RC2 or 3DES, which OpenSSL 3
  # reads only with -legacy: then every openssl call on it takes that option.
  pkcs12=(openssl pkcs12)
  legacy=""
  signer=$WORK/signer.pem
  if ! "${pkcs12[@]}" -in "$cert" -nokeys -passin env:LUMARIS_SIGN_PASSWORD -out "$signer" 2>"$WORK/pkcs12.log"; then
    pkcs12+=(-legacy)
    "${pkcs12[@]}" -in "$cert" -nokeys -passin env:LUMARIS_SIGN_PASSWORD -out "$signer" 2>>"$WORK/pkcs12.log" ||
      { cat "$WORK/pkcs12.log" >&2; fail "cannot open $cert with the password in LUMARIS_SIGN_PASSWORD"; }
    # Its encryption, for the messages only: never a reason to stop.
    legacy=$({ "${pkcs12[@]}" -info -noout -nokeys -in "$cert" -passin env:LUMARIS_SIGN_PASSWORD 2>&1 || true; } |
               sed -n 's/^\(PKCS7 Encrypted data\|Shrouded Keybag\): \([^,]*\).*/\2/p' | sort -u | paste -sd ' ' -)
    legacy=${legacy:-RC2 or 3DES}
    say "$cert is encrypted the legacy way ($legacy): opened with openssl's -legacy"
  fi
  # The signature must chain to the certificates in the .pfx (and, for a
  # certificate from a public authority, to the system's roots) and be made
  # by the .pfx's own leaf certificate.
  cat "$signer" >"$WORK/verify-ca.pem"
  [ -f /etc/ssl/certs/ca-certificates.crt ] && cat /etc/ssl/certs/ca-certificates.crt >>"$WORK/verify-ca.pem"
  leaf_hash=$("${pkcs12[@]}" -in "$cert" -clcerts -nokeys -passin env:LUMARIS_SIGN_PASSWORD 2>>"$WORK/pkcs12.log" |
                openssl x509 -outform DER 2>>"$WORK/pkcs12.log" | sha256sum | cut -d' ' -f1) ||
    { cat "$WORK/pkcs12.log" >&2; fail "cannot read the signing certificate from $cert"; }
  timestamp=()
  if [ -n "${LUMARIS_TIMESTAMP_URL:-}" ]; then
    timestamp=(-ts "$LUMARIS_TIMESTAMP_URL")
    say "signing with a time stamp from $LUMARIS_TIMESTAMP_URL (the zip will not be reproducible)"
  fi
fi

sign() {  # program signed-program [osslsigncode options...]
  local in=$1 out=$2; shift 2
  osslsigncode sign -pkcs12 "$cert" -readpass <(printf %s "$LUMARIS_SIGN_PASSWORD") \
    -h sha256 -n "Lumaris Update" -time "$commit_time" "$@" -in "$in" -out "$out"
}
verify_signature() {  # program
  osslsigncode verify -CAfile "$WORK/verify-ca.pem" -require-leaf-hash "sha256:$leaf_hash" -in "$1"
}

if [ -n "$cert" ]; then
  # A small program signed and verified first: a certificate that
  # osslsigncode cannot use stops the release now, not after the builds.
  printf 'int main() { return 0; }\n' | x86_64-w64-mingw32-g++ -x c++ - -o "$WORK/sign-probe.exe" 2>"$WORK/sign-probe.log" ||
    { cat "$WORK/sign-probe.log" >&2; fail "cannot build a program to try the signature on"; }
  if ! sign "$WORK/sign-probe.exe" "$WORK/sign-probe-signed.exe" >"$WORK/sign-probe.log" 2>&1; then
    if [ -n "$legacy" ]; then
      q=$(printf %q "$cert")
      fail "osslsigncode cannot read $cert: its legacy encryption ($legacy) needs OpenSSL's legacy provider, which osslsigncode does not load here; convert the file once with: openssl pkcs12 -export -in <(openssl pkcs12 -legacy -in $q -nokeys -passin env:LUMARIS_SIGN_PASSWORD) -inkey <(openssl pkcs12 -legacy -in $q -nocerts -nodes -passin env:LUMARIS_SIGN_PASSWORD) -passout env:LUMARIS_SIGN_PASSWORD -out $(printf %q "${cert%.*}-converted.pfx")"
    fi
    cat "$WORK/sign-probe.log" >&2
    fail "osslsigncode cannot sign with $cert"
  fi
  quietly "$WORK/sign-probe-verify.log" verify_signature "$WORK/sign-probe-signed.exe"
  say "signing with $cert: a test program signed and verified"
fi

for triple in x86:win32:i686 x64:win64:x86_64; do
  IFS=: read -r arch preset cpu <<<"$triple"
  dir=$WORK/$preset
  say "building $arch ($preset)…"
  build_started=$SECONDS
  quietly "$WORK/$preset-configure.log" cmake --preset "$preset" -B "$dir" \
    -DLUMARIS_FIRMWARE_HEX="$firmware" -DLUMARIS_FIRMWARE_CHECK=ON -DLUMARIS_BUILD_TESTS=OFF
  quietly "$WORK/$preset-build.log" cmake --build "$dir" -j2
  summary=$(grep -E ': device type 0x[0-9A-F]{2}, (version |no version)' "$WORK/$preset-build.log" | tail -1 || true)
  say "$arch: ${summary:-no summary line from the embedding tool} (built in $((SECONDS - build_started)) s)"
  # The tool embeds over a warning; a release does not, unless told to.
  tool_warnings "$WORK/$preset-build.log" >"$WORK/$preset-warnings.txt"
  if [ -s "$WORK/$preset-warnings.txt" ]; then
    while IFS= read -r warning; do say "$arch: $warning"; done <"$WORK/$preset-warnings.txt"
    [ "$allow_warnings" = 1 ] ||
      fail "the embedding tool warns about $firmware (above): fix the file, or give --allow-warnings to release it as it is"
  fi

  quietly "$WORK/$preset-install.log" cmake --install "$dir" --component program --prefix "$WORK/programs/$arch"
  shopt -s nullglob
  programs=("$WORK/programs/$arch"/*.exe)
  shopt -u nullglob
  [ ${#programs[@]} -gt 0 ] || fail "$arch: the build installed no program"
  for wanted in LumarisUpdate.exe lumaris-update.exe; do
    [ -f "$WORK/programs/$arch/$wanted" ] || fail "$arch: the build did not install $wanted"
  done
  for exe in "${programs[@]}"; do
    rel=$arch/$(basename "$exe")
    imports=$("$cpu-w64-mingw32-objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort -u)
    for dll in $imports; do
      [[ "$allowed_dlls" == *" $dll "* ]] || fail "$rel imports $dll"
    done
    before=$(stat -c %s "$exe")
    # Where the program keeps its firmware, for the comparison with the
    # HEX file below: stripping drops the names but moves no section.
    mkdir -p "$WORK/symbols/$arch"
    "$cpu-w64-mingw32-nm" "$exe" >"$WORK/symbols/$arch/$(basename "$exe").txt"
    # strip would write the current time into the PE header; 0 means none.
    SOURCE_DATE_EPOCH=0 "$cpu-w64-mingw32-strip" --strip-all "$exe"
    sections=$("$cpu-w64-mingw32-objdump" -h "$exe")
    [[ $sections == *" .debug"* ]] && fail "$rel: debug sections left after stripping"
    stamp=$("$PY" -c 'import sys,struct; d=open(sys.argv[1],"rb").read(); o=struct.unpack_from("<I",d,0x3C)[0]; print(struct.unpack_from("<I",d,o+8)[0])' "$exe")
    [ "$stamp" = 0 ] || fail "$rel: time stamp $stamp in its PE header"
    after=$(stat -c %s "$exe")
    signed=""
    if [ -n "$cert" ]; then
      quietly "$WORK/sign-$arch-$(basename "$exe").log" sign "$exe" "$exe.signed" "${timestamp[@]}"
      mv "$exe.signed" "$exe"
      quietly "$WORK/verify-$arch-$(basename "$exe").log" verify_signature "$exe"
      signed=", signed and verified ($(stat -c %s "$exe") bytes)"
    fi
    say "$rel: $before bytes, $after stripped$signed; imports ${imports//$'\n'/ }"
  done
done

# ---------------------------------------------------------------- the firmware, as read here

# The embedding tool in each build has judged the file. Both builds must
# have embedded this file and found in it what was read at the start
# (above), and every program must carry its flash image, byte for byte:
# x86 included, whether or not this machine can run it.
[ -n "$fw_version" ] || fail "cannot read $firmware as Intel HEX"
for triple in x86:win32 x64:win64; do
  IFS=: read -r arch preset <<<"$triple"
  for exe in "$WORK/programs/$arch"/*.exe; do
    rel=$arch/$(basename "$exe")
    verdict=$("$PY" scripts/lib/embedded_image.py "$WORK/symbols/$arch/$(basename "$exe").txt" "$exe" "$firmware") ||
      fail "$rel: $verdict"
    say "$rel: $verdict"
  done
  facts=$WORK/$preset/image/firmware_facts.txt
  [ -f "$facts" ] || fail "$preset: the build wrote no $facts"
  [ "$(fact hex "$facts")" = "$firmware" ] || fail "$preset: embedded $(fact hex "$facts"), not $firmware"
  for key in type version first_page last_page pages sha256; do
    [ "$(fact $key "$facts")" = "$(fact $key "$hex_facts")" ] ||
      fail "$preset: the build says $key=$(fact $key "$facts"), the file says $key=$(fact $key "$hex_facts")"
  done
done
[ "$fw_version" != "no version" ] || fail "$firmware carries no version (bytes FF FF): a release needs a versioned firmware"

stage=$WORK/zip/$name
mkdir -p "$stage"
cp -r "$WORK/programs/x86" "$WORK/programs/x64" "$stage/"

# ---------------------------------------------------------------- README.txt, SHA256SUMS, the zip

# Text for Windows users: this release's facts filled in, the lines marked
# @SIGNED@ or @UNSIGNED@ kept as the programs are, those marked @WARNED@ and
# the embedding tool's warnings (each as "line N: text", in place of the
# line @TOOL_WARNINGS@) only when the release was made over them, lines
# ending in CR LF.
if [ -n "$cert" ]; then keep=SIGNED drop=UNSIGNED; else keep=UNSIGNED drop=SIGNED; fi
warned=$WORK/readme-warnings.txt
: >"$warned"
while IFS= read -r warning; do
  warning=${warning#"$firmware"}
  if [[ $warning =~ ^:([0-9]+):\ warning:\ (.*)$ ]]; then
    warning="line ${BASH_REMATCH[1]}: ${BASH_REMATCH[2]}"
  else
    warning=${warning#": warning: "}
  fi
  printf '                  %s\r\n' "$warning" >>"$warned"
done <"$WORK/win32-warnings.txt"
marked=(-e "/^@$drop@ /d" -e "s/^@$keep@ //")
if [ -s "$warned" ]; then marked+=(-e "s/^@WARNED@ //"); else marked+=(-e "/^@WARNED@ /d"); fi
sed "${marked[@]}" -e "/^@TOOL_WARNINGS@\$/{r $warned" -e 'd;}' \
    -e "s|@PROGRAM_VERSION@|$version|g" -e "s|@FIRMWARE_VERSION@|$fw_version|g" \
    -e "s|@DEVICE_TYPE@|$fw_type|g" -e "s|@FIRMWARE_SHA256@|$fw_sha256|g" \
    -e "s|@FIRMWARE_PAGES@|$(fact first_page "$hex_facts")..$(fact last_page "$hex_facts")|g" \
    -e "s|@COMMIT@|${commit:0:12}$dirty_note|g" -e "s|@COMMIT_DATE@|$commit_date|g" \
    -e 's/$/\r/' app/README-users.txt >"$stage/README.txt"
if grep -n '@[A-Z_]*@' "$stage/README.txt" >&2; then fail "app/README-users.txt: a placeholder left unfilled"; fi
# The list is taken before the sums file is written.
(cd "$stage" && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort >"$WORK/sums-list" &&
  xargs -d '\n' sha256sum <"$WORK/sums-list" >SHA256SUMS)

# Every entry dated with the commit, in a fixed order, the same attributes.
"$PY" - "$WORK/zip" "$name" "$commit_time" "$PENDING/$name.zip" <<'EOF'
import os, sys, time, zipfile
top, name, when, target = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
stamp = time.gmtime(max(when, 315532800))[:6]   # a zip's dates start in 1980
files = sorted(os.path.relpath(os.path.join(d, f), top)
               for d, _, fs in os.walk(os.path.join(top, name)) for f in fs)
with zipfile.ZipFile(target + ".part", "w") as z:
    for path in files:
        info = zipfile.ZipInfo(path.replace(os.sep, "/"), stamp)
        info.create_system = 3
        info.external_attr = 0o100644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(os.path.join(top, path), "rb") as f:
            z.writestr(info, f.read(), compresslevel=9)
os.replace(target + ".part", target)
EOF
(cd "$PENDING" && sha256sum "$name.zip" >"$name.zip.sha256")

# ---------------------------------------------------------------- smoke test of what was packed

# The zip unpacked into a fresh folder; each window program, as packed,
# runs the Wine tests' update-ok scenario against the stand-in library of
# the build it was made from (scripts/wine-tests.sh checks the device's
# flash against the firmware file that build's facts name).
# The console program, as packed, in the Wine prefix the window program's
# scenario left: --info must name this firmware, and an update of a device
# of its type must leave the firmware file's image in the device's flash.
console_smoke() {  # arch preset
  local arch=$1 preset=$2 began=$SECONDS dir=$WORK/smoke-console/$1 wine=/usr/lib/wine/wine64 code=0
  [ "$preset" = win32 ] && wine=/usr/lib/wine/wine
  mkdir -p "$dir"
  cp "$smoke/$name/$arch/lumaris-update.exe" "$WORK/$preset/bin/SiUSBXp.dll" "$dir/"
  printf 'device\nmode application\ntype %s\ninstalled 0x00 0x00 valid\nflash pattern\n' "$fw_type" >"$dir/scenario.txt"
  (
    export WINEPREFIX=$ROOT/build/wine/$preset WINEARCH=$preset WINELOADER=$wine WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" LUMARIS_STANDIN_SCENARIO="Z:${dir//\//\\}\\scenario.txt"
    unset DISPLAY
    cd "$dir" && timeout 60 $wine ./lumaris-update.exe --info --json </dev/null >info.json 2>info.err &&
      timeout 120 $wine ./lumaris-update.exe --yes --json </dev/null >update.json 2>update.err
    code=$?
    timeout 30 wineserver -k 2>/dev/null
    exit $code
  ) || fail "smoke: $arch/lumaris-update.exe failed (exit $?; see $dir)"
  "$PY" - "$dir/info.json" "$fw_version" "$fw_type" "$fw_sha256" <<'PYEOF' || fail "smoke: $arch/lumaris-update.exe --info names another firmware (see $dir/info.json)"
import json, sys
info = [e for e in map(json.loads, open(sys.argv[1]).read().splitlines()) if e.get("event") == "info"][0]
sys.exit((info["image_version"], info["image_type"], info["sha256"]) != tuple(sys.argv[2:5]))
PYEOF
  grep -q '"outcome":"updated","exit_code":0' "$dir/update.json" || fail "smoke: $arch/lumaris-update.exe did not update (see $dir)"
  quietly "$dir/check-flash.log" "$PY" sim/standin/check_flash.py programmed "$firmware" \
    "$dir/standin-flash-0.initial.bin" "$dir/standin-flash-0.bin" "$(fact last_page "$hex_facts")"
  say "smoke: $arch/lumaris-update.exe: --info names firmware $fw_version, type $fw_type, image SHA-256 ${fw_sha256:0:12}…; updated a device: ok ($((SECONDS - began)) s)"
}

say "smoke test of the packed programs under Wine…"
smoke=$WORK/smoke
"$PY" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$PENDING/$name.zip" "$smoke"
(cd "$smoke/$name" && sha256sum --quiet -c SHA256SUMS) || fail "the unpacked files do not match SHA256SUMS"
for triple in x86:win32:i686 x64:win64:x86_64; do
  IFS=: read -r arch preset cpu <<<"$triple"
  # Some kernels run no 32-bit programs at all: 32-bit Wine cannot start
  # there, which says nothing about the program.
  if [ "$preset" = win32 ] && ! runs_32bit_programs; then
    say "smoke: x86: SKIPPED: this kernel runs no 32-bit programs, so 32-bit Wine cannot start; packed, not run"
    continue
  fi
  # The scenario measures the window with the Wine tests' probe, which only
  # a build with tests has: compiled here on its own.
  quietly "$WORK/$preset-probe.log" "$cpu-w64-mingw32-g++" -std=c++20 -O2 -static -static-libgcc -static-libstdc++ \
    tests/win32/window_probe.cpp -lgdi32 -o "$WORK/$preset/bin/window_probe.exe"
  smoke_started=$SECONDS
  quietly "$WORK/smoke-$arch.log" scripts/wine-tests.sh --build "$WORK/$preset" --programs "$smoke/$name/$arch" "$preset" update-ok about
  say "smoke: $arch/LumarisUpdate.exe: updated a device of type $fw_type; About box fits: ok ($((SECONDS - smoke_started)) s)"
  console_smoke "$arch" "$preset"
done

# Every check has passed: the zip and its SHA-256 go where a release is
# looked for.
mkdir -p "$OUT"
mv "$PENDING/$name.zip" "$OUT/$name.zip"
mv "$PENDING/$name.zip.sha256" "$OUT/$name.zip.sha256"
say "$("$PY" -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$OUT/$name.zip")"
say "build/release/$name.zip ($(stat -c %s "$OUT/$name.zip") bytes), SHA-256 $(cut -d' ' -f1 "$OUT/$name.zip.sha256")"
say "done in $((SECONDS - started)) s"
