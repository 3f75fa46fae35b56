#!/usr/bin/env bash
# Tests scripts/release.sh as a release engineer uses it, on a snapshot of
# this work tree: its files (committed, changed and new, without ignored
# ones) committed into a throwaway repository under build/release-test/,
# dated like HEAD, so that the release's git checks see a clean tree.
#
#   scripts/release-test.sh
#
# - refusals, before anything is built: an unknown option, a tree with a
#   changed or a new file, a version tag on the commit other than the
#   program's version, a wrong certificate password, sources without git
#   whose VERSION names no commit; a firmware file with a bad record fails
#   the build and shows the embedding tool's file:line error; a legacy .pfx
#   (RC2/3DES) signs a test program, or stops the release with one line that
#   names the reason and the openssl command that converts it (forced with
#   an osslsigncode that cannot read it); a firmware file the tool warns
#   about is refused after one build, with the warning shown; a refused
#   release has removed an earlier zip of its own name, not another's;
# - a signed release with the demo firmware: every program verifies with
#   osslsigncode against the throwaway certificate (made here by openssl,
#   never kept), and a copy with one byte changed does not; no debug
#   sections, no PE time stamp; SHA256SUMS covers every other file;
#   README.txt ends its lines with CR LF and names the firmware's version,
#   type and flash image SHA-256 (computed here, independently); the zip's
#   entries are dated with the commit;
# - the same release again, from a copy of the snapshot in another folder:
#   a byte-identical zip;
# - a release with another firmware file (another type and version): that
#   firmware, and only it, in every program (its scrambled text is found in
#   each program and the demo's is not; the About box line and the version
#   resource's comment name it), in README.txt and the zip's name; its smoke
#   test programmed a device of the other type with it;
# - a release whose firmware file is swapped for one of the same type,
#   version and pages between the x86 and the x64 build: refused by the
#   byte comparison of the x86 programs' firmware with the file (which needs
#   no 32-bit Wine), nothing added to build/release/;
# - a release whose smoke test fails (a copy of the snapshot whose Wine test
#   script fails at once): the zip was packed, but build/release/ stays
#   empty.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
PY=/usr/bin/python3
started=$SECONDS

scripts/install-deps.sh windows wine release >/dev/null

T=$ROOT/build/release-test
SNAP=$T/src
rm -rf "$T"
mkdir -p "$SNAP" "$T/keys"

failures=0
pass() { printf 'release-test: ok: %s\n' "$*"; }
failed() { printf 'release-test: FAILED: %s\n' "$*"; failures=$((failures + 1)); }
check() {  # description command...
  local what=$1; shift
  if "$@"; then pass "$what"; else failed "$what"; fi
}

# ---------------------------------------------------------------- the snapshot

git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$SNAP"
commit_time=$(git log -1 --format=%ct HEAD)
git_snap() {
  git -C "$SNAP" -c user.name="release test" -c user.email="release-test@localhost" "$@"
}
git_snap init -q
git_snap add -A
GIT_AUTHOR_DATE="@$commit_time +0000" GIT_COMMITTER_DATE="@$commit_time +0000" git_snap commit -q -m "snapshot for the release test"
# The same commit in another folder, for the repeated release: the
# programs must not depend on where they were built.
SNAP2=$T/another/folder/src
mkdir -p "$(dirname "$SNAP2")"
cp -a "$SNAP" "$SNAP2"
# A copy whose smoke test fails at once: its Wine test script, changed in
# a commit of its own so that the release sees a clean tree.
SNAP3=$T/smoke-fails/src
mkdir -p "$(dirname "$SNAP3")"
cp -a "$SNAP" "$SNAP3"
sed -i '2i echo "wine-tests.sh: made to fail by the release test" >&2; exit 1' "$SNAP3/scripts/wine-tests.sh"
git -C "$SNAP3" -c user.name="release test" -c user.email="release-test@localhost" commit -q -a -m "smoke test made to fail"
version=$(sed -n 's/^project(LumarisUpdate VERSION \([0-9.]*\).*/\1/p' "$SNAP/CMakeLists.txt")

# A throwaway code-signing certificate and its password.
export LUMARIS_SIGN_PASSWORD
LUMARIS_SIGN_PASSWORD=$(openssl rand -hex 16)
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$T/keys/key.pem" -out "$T/keys/cert.pem" -days 2 \
  -subj "/CN=Lumaris release test/O=Lumaris" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
openssl pkcs12 -export -in "$T/keys/cert.pem" -inkey "$T/keys/key.pem" -out "$T/keys/cert.pfx" \
  -passout env:LUMARIS_SIGN_PASSWORD
CERT=$T/keys/cert.pfx
# The same key and certificate in a .pfx encrypted the way older tools did
# (RC2-40 and 3DES), which OpenSSL 3 opens only with -legacy.
openssl pkcs12 -export -legacy -in "$T/keys/cert.pem" -inkey "$T/keys/key.pem" -out "$T/keys/legacy.pfx" \
  -passout env:LUMARIS_SIGN_PASSWORD
LEGACY_CERT=$T/keys/legacy.pfx

# Another firmware: another device type (last page 124) and version.
"$PY" "$SNAP/firmware/make_demo_hex.py" --type 0x86 --version 2.05 -o "$T/other.hex"
cp "$SNAP/firmware/demo.hex" "$T/demo.hex"

release() {  # log args...
  local log=$1; shift
  (cd "${IN:-$SNAP}" && scripts/release.sh "$@") >"$log" 2>&1
}

# ---------------------------------------------------------------- refusals

refused() {  # description expected-message args...
  local what=$1 message=$2 code=0; shift 2
  release "$T/refusal.log" "$@" || code=$?
  if [ "$code" -ne 0 ] && grep -q -F -- "$message" "$T/refusal.log" && ! grep -q 'building' "$T/refusal.log"; then
    pass "refused before building: $what"
  else
    failed "refused before building: $what (exit $code)"; cat "$T/refusal.log"
  fi
}
refused "an unknown option" "unknown option '--sing'" --sing "$CERT"
echo "# a change" >>"$SNAP/README.md"
refused "a changed file" "uncommitted changes" --sign "$CERT"
git_snap checkout -q README.md
touch "$SNAP/scripts/notes.txt"
refused "a new file" "uncommitted changes"
rm "$SNAP/scripts/notes.txt"
git_snap tag v9.9.9
refused "a version tag that is not the program's version" "tagged v9.9.9"
git_snap tag -d v9.9.9 >/dev/null
# A zip of the same name from an earlier run goes before the release gets
# anywhere; one of another firmware stays.
mkdir -p "$SNAP/build/release"
for stale in "LumarisUpdate-$version-fw1.00.zip" "LumarisUpdate-$version-fw1.00.zip.sha256" "LumarisUpdate-$version-fw9.99.zip"; do
  echo "an earlier release" >"$SNAP/build/release/$stale"
done
LUMARIS_SIGN_PASSWORD=wrong refused "a wrong certificate password" "cannot open" --sign "$CERT"
check "a failed release removed the earlier zip of its name, and only that" \
  eval '[ "$(ls "$SNAP/build/release")" = "LumarisUpdate-$version-fw9.99.zip" ]'
rm -r "$SNAP/build/release"
mv "$SNAP/.git" "$T/snapshot.git"
refused "no git and a VERSION file without a commit" "VERSION names no commit"
mv "$T/snapshot.git" "$SNAP/.git"

# A firmware file with a bad record checksum: the build fails and says where.
sed '3s/..$/00/' "$T/demo.hex" >"$T/bad.hex"
code=0; release "$T/bad.log" --firmware "$T/bad.hex" || code=$?
check "a bad firmware file fails the build with the embedding tool's error" \
  eval '[ $code -ne 0 ] && grep -q -E "bad\.hex:3: error: " "$T/bad.log"'
if [ "$code" -eq 0 ] || ! grep -q -E 'bad\.hex:3: error: ' "$T/bad.log"; then cat "$T/bad.log"; fi

# A legacy .pfx: signs (a test program, before the builds; the bad firmware
# file then stops the release cheaply), or stops with one line naming the
# reason and the conversion.
legacy_message() {  # log
  local last; last=$(tail -n 1 "$1")
  [[ $last == "release: osslsigncode cannot read $LEGACY_CERT: its legacy encryption ("*") needs OpenSSL's legacy provider, which osslsigncode does not load here; convert the file once with: openssl pkcs12 -export -in <(openssl pkcs12 -legacy -in $LEGACY_CERT -nokeys "* ]]
}
code=0; release "$T/legacy.log" --firmware "$T/bad.hex" --sign "$LEGACY_CERT" || code=$?
check "a legacy .pfx signs and verifies a test program, or stops the release with the conversion" eval '
  [ $code -ne 0 ] && {
    { grep -q "release: signing with $LEGACY_CERT: a test program signed and verified" "$T/legacy.log" &&
      grep -q -E "bad\.hex:3: error: " "$T/legacy.log"; } ||
    legacy_message "$T/legacy.log"; }'
# An osslsigncode that cannot read it, as on systems without OpenSSL's legacy provider.
mkdir -p "$T/no-legacy-bin"
printf '#!/bin/sh\necho "osslsigncode: PKCS12_parse: unsupported" >&2\nexit 1\n' >"$T/no-legacy-bin/osslsigncode"
chmod +x "$T/no-legacy-bin/osslsigncode"
code=0; PATH=$T/no-legacy-bin:$PATH release "$T/legacy-unread.log" --sign "$LEGACY_CERT" || code=$?
check "a legacy .pfx that osslsigncode cannot read stops the release with one line: the reason and the conversion" eval '
  [ $code -eq 1 ] && legacy_message "$T/legacy-unread.log" && ! grep -q building "$T/legacy-unread.log"'
# The command it names makes a .pfx that opens without -legacy and signs.
# shellcheck disable=SC2034 # read by the check's eval
convert=$(tail -n 1 "$T/legacy-unread.log" | sed -n 's/.*; convert the file once with: //p')
check "the conversion it names gives a .pfx that opens without -legacy" eval '
  bash -c "$convert" && openssl pkcs12 -in "${LEGACY_CERT%.pfx}-converted.pfx" -nokeys -passin env:LUMARIS_SIGN_PASSWORD -out /dev/null'

# A firmware file that the embedding tool only warns about (no version):
# shown, and refused after the first build without --allow-warnings.
"$PY" "$SNAP/firmware/make_demo_hex.py" --no-version -o "$T/no-version.hex"
code=0; release "$T/warned.log" --firmware "$T/no-version.hex" || code=$?
check "a firmware file the embedding tool warns about is refused with its summary and warning, after the x86 build only" eval '
  [ $code -ne 0 ] && grep -q "release: x86: no-version.hex: device type 0x83, no version, 53 pages used" "$T/warned.log" &&
  grep -q "release: x86: $T/no-version.hex:[0-9]*: warning: the version bytes" "$T/warned.log" &&
  grep -q -- "--allow-warnings" "$T/warned.log" && ! grep -q "building x64" "$T/warned.log" && [ ! -e "$SNAP/build/release" ]'

# ---------------------------------------------------------------- checks of one release

# Lists the UTF-16 strings of a program's resources that name a firmware.
firmware_texts() { "$PY" - "$1" <<'EOF'
import re, sys
data = open(sys.argv[1], "rb").read()
for m in re.finditer(rb"(?:[\x20-\x7e]\x00){8,}", data):
    text = m.group().decode("utf-16le")
    if text.startswith("Firmware "):
        print(text)
EOF
}
# The TimeDateStamp field of a program's PE file header.
pe_time_stamp() { "$PY" -c '
import struct, sys
data = open(sys.argv[1], "rb").read()
print(struct.unpack_from("<I", data, struct.unpack_from("<I", data, 0x3C)[0] + 8)[0])' "$1"; }
# Says whether a program's firmware texts are exactly the ones wanted.
names_only() {  # exe texts
  local texts; texts=$(firmware_texts "$1")
  [ "$texts" = "$2" ] || { printf '    found: %s\n' "$texts"; return 1; }
}
# The SHA-256 of a HEX file's 64,512-byte flash image, 0xFF where unset.
image_sha256() { "$PY" -c '
import hashlib, sys
from intelhex import IntelHex
h = IntelHex(); h.padding = 0xFF; h.loadhex(sys.argv[1])
print(hashlib.sha256(bytes(h.tobinarray(start=0, size=0xFC00))).hexdigest())' "$1"; }

# Checks a finished release: $1 log, $2 zip, $3 firmware file, $4 version, $5 type.
check_release() {
  local log=$1 zip=$2 hex=$3 fw=$4 type=$5 name
  name=$(basename "$zip" .zip)
  local out=$T/unpacked-$fw
  rm -rf "$out"; mkdir -p "$out"
  "$PY" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$out"
  local dir=$out/$name
  check "$name: the zip's SHA-256 beside it" eval '(cd "$(dirname "$zip")" && sha256sum --quiet -c "$name.zip.sha256")'
  check "$name: both window programs packed" test -f "$dir/x86/LumarisUpdate.exe" -a -f "$dir/x64/LumarisUpdate.exe"
  check "$name: both console programs packed" test -f "$dir/x86/lumaris-update.exe" -a -f "$dir/x64/lumaris-update.exe"
  check "$name: SHA256SUMS lists every other file and matches" eval '
    [ "$(cd "$dir" && find . -type f ! -name SHA256SUMS -printf "%P\n" | sort)" = "$(cut -c67- "$dir/SHA256SUMS" | sort)" ] &&
    (cd "$dir" && sha256sum --quiet -c SHA256SUMS)'
  check "$name: every zip entry dated with the commit" "$PY" -c '
import sys, time, zipfile
when = int(sys.argv[2])
want = time.gmtime(when - when % 2)[:6]   # a zip keeps even seconds
sys.exit(any(i.date_time != want for i in zipfile.ZipFile(sys.argv[1]).infolist()))' "$zip" "$commit_time"
  check "$name: README.txt ends every line with CR LF" eval '! grep -q -v $'"'"'\r$'"'"' "$dir/README.txt"'
  local sha
  # shellcheck disable=SC2034 # read by the check's eval
  sha=$(image_sha256 "$hex")
  check "$name: README.txt names firmware $fw, type $type and its image's SHA-256" eval '
    grep -q "version $fw, for Lumaris devices of type $type" "$dir/README.txt" && grep -q "$sha" "$dir/README.txt"'
  local exe cpu
  for exe in "$dir"/x86/*.exe "$dir"/x64/*.exe; do
    local rel=${exe#"$dir/"}
    # shellcheck disable=SC2034 # read by the check's eval
    case "$rel" in x86/*) cpu=i686 ;; *) cpu=x86_64 ;; esac
    check "$name: $rel verifies with osslsigncode" \
      eval 'osslsigncode verify -CAfile "$T/keys/cert.pem" -in "$exe" >"$T/verify.log" 2>&1'
    cp "$exe" "$T/tampered.exe"
    printf '\x90' | dd of="$T/tampered.exe" bs=1 seek=1200 conv=notrunc 2>/dev/null
    check "$name: $rel with one byte changed does not verify" \
      eval '! osslsigncode verify -CAfile "$T/keys/cert.pem" -in "$T/tampered.exe" >"$T/verify.log" 2>&1'
    check "$name: $rel has no debug sections and no PE time stamp" eval '
      sections=$($cpu-w64-mingw32-objdump -h "$exe") && [[ $sections != *.debug* ]] && [ "$(pe_time_stamp "$exe")" = 0 ]'
  done
  # Every program's version resource names the firmware; the window
  # program's About box too. No program names any other.
  for exe in "$dir"/x86/*.exe "$dir"/x64/*.exe; do
    local arch want; arch=$(basename "$(dirname "$exe")")
    want="Firmware $fw for Lumaris devices of type $type"
    [ "$(basename "$exe")" = LumarisUpdate.exe ] && want="Firmware $fw (build $version $arch)
$want"
    check "$name: ${exe#"$dir/"} names firmware $fw and no other in its resources" names_only "$exe" "$want"
  done
}

# Says whether every program in a release's zip holds the scrambled text of
# one HEX file (as the release's embedding tool scrambles it).
# holds_image: every program holds the image of the HEX file (as the
# embedding tool scrambles it); holds_image_nowhere: no program holds it.
image_in_programs() {  # all|none unpacked-dir hex
  local raw
  raw=$T/$(basename "$3").raw
  "$SNAP/build/release-work/win64/tools-host/lumaris_embed_image" --raw "$raw" "$3" "$T/scratch.cpp" >/dev/null 2>&1 &&
    "$PY" - "$1" "$raw" "$2"/x86/*.exe "$2"/x64/*.exe <<'EOF'
import sys
mode, raw = sys.argv[1], open(sys.argv[2], "rb").read()
found = [raw in open(p, "rb").read() for p in sys.argv[3:]]
ok = all(found) if mode == "all" else not any(found)
sys.exit(0 if len(raw) > 1000 and len(found) >= 4 and ok else 1)
EOF
}
holds_image() { image_in_programs all "$@"; }
holds_image_nowhere() { image_in_programs none "$@"; }

# The release's smoke test updated a device of the type with each window
# program, whose About box line fit (x86 only where the machine runs 32-bit
# programs at all), and with the console program, whose --info named the
# firmware.
smoke_passed() {  # log type version zip
  grep -q "x64/LumarisUpdate.exe: updated a device of type $2; About box fits: ok" "$1" &&
    grep -q -E "x86/LumarisUpdate.exe: updated a device of type $2; About box fits: ok|smoke: x86: SKIPPED" "$1" || return 1
  # The console program: its --info and an update.
  grep -q "x64/lumaris-update.exe: --info names firmware $3, type $2, .*updated a device: ok" "$1"
}

# ---------------------------------------------------------------- releases

zip_demo=$SNAP/build/release/LumarisUpdate-$version-fw1.00.zip
began=$SECONDS
if release "$T/first.log" --firmware "$T/demo.hex" --sign "$CERT"; then
  pass "signed release with the demo firmware ($((SECONDS - began)) s)"
  sed 's/^/    /' "$T/first.log"
  cp "$zip_demo" "$T/first.zip"
  check_release "$T/first.log" "$zip_demo" "$T/demo.hex" 1.00 0x83
  check "smoke test passed" smoke_passed "$T/first.log" 0x83 1.00 "$zip_demo"
  check "every program's firmware, x86 included, compared byte for byte with the HEX file" eval '
    [ "$(grep -c -E "release: x(86|64)/(LumarisUpdate|lumaris-update)\.exe: its flash image equals the HEX file.s: 64512 bytes, 53 pages \(10\.\.62\)" "$T/first.log")" = 4 ]'

  began=$SECONDS
  if IN=$SNAP2 release "$T/second.log" --firmware "$T/demo.hex" --sign "$CERT"; then
    pass "the same release again, from another folder ($((SECONDS - began)) s)"
    check "the two zips are byte-identical" cmp "$T/first.zip" "$SNAP2/build/release/$(basename "$zip_demo")"
  else
    failed "the same release again, from another folder"; cat "$T/second.log"
  fi
else
  failed "signed release with the demo firmware"; cat "$T/first.log"
fi

zip_other=$SNAP/build/release/LumarisUpdate-$version-fw2.05.zip
began=$SECONDS
if release "$T/other.log" --firmware "$T/other.hex" --sign "$CERT"; then
  pass "signed release with another firmware ($((SECONDS - began)) s)"
  check_release "$T/other.log" "$zip_other" "$T/other.hex" 2.05 0x86
  dir=$T/unpacked-2.05/LumarisUpdate-$version-fw2.05
  check "every program holds the other firmware's image" holds_image "$dir" "$T/other.hex"
  check "no program holds the demo firmware's image" holds_image_nowhere "$dir" "$T/demo.hex"
  check "README.txt names no other firmware" eval '! grep -q -i -E "(firmware|version) 1\.00|type 0x83|$(image_sha256 "$T/demo.hex")" "$dir/README.txt"'
  check "smoke test programmed a device of type 0x86 with it" smoke_passed "$T/other.log" 0x86 2.05 "$zip_other"
else
  failed "signed release with another firmware"; cat "$T/other.log"
fi

# ---------------------------------------------------------------- releases that must not reach build/release/

# The firmware file changes between the two builds: same type, version and
# pages, other bytes. Only the byte comparison can tell; x86 is compared
# whether or not this machine runs 32-bit programs.
"$PY" "$SNAP/firmware/make_demo_hex.py" --version 3.00 -o "$T/swap.hex"
"$PY" "$SNAP/firmware/make_demo_hex.py" --version 3.00 --seed 2 -o "$T/swap-later.hex"
# shellcheck disable=SC2034 # read by the check's eval
released_before=$(ls -A "$SNAP/build/release" 2>/dev/null || true)
(
  # Once the x86 build has embedded the file (its facts name it), the
  # x64 build is tens of seconds away.
  facts=$SNAP/build/release-work/win32/image/firmware_facts.txt
  for _ in $(seq 3000); do
    if grep -q -x -F "hex=$T/swap.hex" "$facts" 2>/dev/null; then cp "$T/swap-later.hex" "$T/swap.hex"; exit 0; fi
    sleep 0.2
  done
  exit 1
) &
swapper=$!
began=$SECONDS
code=0; release "$T/swap.log" --firmware "$T/swap.hex" || code=$?
kill "$swapper" 2>/dev/null || true   # still waiting: the release ended before its x86 build embedded the file
swapped=0; wait "$swapper" && swapped=1
check "a firmware file swapped between the builds is refused by the byte comparison ($((SECONDS - began)) s)" eval '
  [ $swapped = 1 ] && [ $code -ne 0 ] &&
  grep -q -E "^release: x86/(LumarisUpdate|lumaris-update)\.exe: its flash image differs from the HEX file.s in [0-9]+ of 64512 bytes" "$T/swap.log" &&
  [ "$(ls -A "$SNAP/build/release" 2>/dev/null || true)" = "$released_before" ]'
if [ "$swapped" != 1 ] || [ "$code" -eq 0 ]; then tail -n 20 "$T/swap.log"; fi

# The smoke test fails: the zip was packed, signed programs and all, but
# nothing of it reaches build/release/.
began=$SECONDS
code=0; IN=$SNAP3 release "$T/smoke-fails.log" --firmware "$T/demo.hex" --sign "$CERT" || code=$?
check "a release whose smoke test fails leaves nothing in build/release/ ($((SECONDS - began)) s)" eval '
  [ $code -ne 0 ] && grep -q "wine-tests.sh: made to fail by the release test" "$T/smoke-fails.log" &&
  [ -f "$SNAP3/build/release-work/out/$(basename "$zip_demo")" ] && [ -z "$(ls -A "$SNAP3/build/release" 2>/dev/null)" ]'
[ $code -ne 0 ] || tail -n 20 "$T/smoke-fails.log"

printf 'release-test: %s in %d s\n' "$([ $failures -eq 0 ] && echo "all passed" || echo "$failures FAILED")" $((SECONDS - started))
[ "$failures" -eq 0 ]
