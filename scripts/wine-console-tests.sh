#!/usr/bin/env bash
# Runs the Windows console program lumaris-update.exe under Wine against the
# stand-in SiUSBXp.dll (sim/standin/): an update with --json whose result
# must agree with the stand-in's flash dump, --list, --check with the flash
# untouched, --device with two devices, standard input from NUL, a library
# that is missing, not a library, of the other architecture or without
# ordinal 12, names beyond ASCII (a folder, a label, a log file) on the
# command line, in files and on a console, and --log (a cut line ended, a
# firmware file and a device refused), --wait-device with no device and with
# one attached. No X server is needed.
#
#   scripts/wine-console-tests.sh [win32|win64]...     (default: both)
#
# Expects build/win32 and build/win64 to be built. Makes a fresh, quiet Wine
# prefix per architecture under build/wine-console/, runs each case in a
# folder of its own under build/e2e-console/<preset>/<case>/ (the program,
# the library, the scenario, the JSON lines, the stand-in's call log and
# flash dumps stay there) and ends the Wine server it started.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
ROOT=$PWD
OUT=$ROOT/build/e2e-console
PY=/usr/bin/python3
CHECK_FLASH=("$PY" "$ROOT/sim/standin/check_flash.py")
JSON=("$PY" "$ROOT/tests/wine_console_json.py")
PREFIXES_DIR=$ROOT/build/wine-console
# log, the Wine prefixes (make_prefix), load_facts (the firmware each build
# embeds: IMAGE_TYPE, IMAGE_LAST_PAGE, FIRMWARE_HEX), check (STEP_OK),
# stop_wine_servers and runs_32bit_programs are shared with the window
# program's Wine tests; the cases below are this script's own.
# shellcheck source=wine/prefix.sh
. "$ROOT/scripts/wine/prefix.sh"

PRESETS=("$@")
[ ${#PRESETS[@]} -gt 0 ] || PRESETS=(win32 win64)

export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=-all
unset WINEARCH WINEPREFIX WINELOADER DISPLAY

passed=0
failed=0
failures=()
trap stop_wine_servers EXIT
trap 'exit 130' INT TERM

STEP_OK=1
DIR=""

# A case folder with the program, the library (unless told otherwise) and a
# scenario of one device.
new_case() {  # preset, name, library: yes|no, scenario lines...
    local preset=$1 name=$2 library=$3; shift 3
    DIR=$OUT/$preset/$name
    rm -rf "$DIR"; mkdir -p "$DIR"
    cp "$ROOT/build/$preset/bin/lumaris-update.exe" "$DIR/"
    [ "$library" = yes ] && cp "$ROOT/build/$preset/bin/SiUSBXp.dll" "$DIR/"
    printf '%s\n' "$@" >"$DIR/scenario.txt"
    # Wine's drive Z: is the root of the Linux file system.
    export LUMARIS_STANDIN_SCENARIO="Z:${DIR//\//\\}\\scenario.txt"
    STEP_OK=1
}

# Runs the program in the case folder; standard output to out.txt (line ends
# as Windows writes them), standard error to err.txt; the exit code to CODE.
CODE=0
run_program() {
    (cd "$DIR" && timeout 120 "$WINE" ./lumaris-update.exe "$@" </dev/null >out.raw 2>err.txt)
    CODE=$?
    tr -d '\r' <"$DIR/out.raw" >"$DIR/out.txt"
    timeout 30 wineserver -w
}

end_case() {
    local preset=$1 name=$2
    if [ "$STEP_OK" = 1 ]; then
        passed=$((passed + 1)); log "  ok    $preset/$name"
    else
        failed=$((failed + 1)); failures+=("$preset/$name"); log "  FAIL  $preset/$name (see $DIR)"
    fi
}

# Every line of out.txt is JSON; prints the value of a field of the result.
json_result() {  # field
    "${JSON[@]}" result "$DIR/out.txt" "$1"
}

json_count() {  # event name
    "${JSON[@]}" count "$DIR/out.txt" "$1"
}

# The device in its application, of the type the build's image declares.
# It answers at once, as in the window program's scenarios: under Wine the
# tick count moves in steps of some 16 ms, and a reply that waits for the
# next step makes every packet a wait on the wine server. Its restart takes
# 300 ms, which the polled restart wait is to find.
device_app() {
    DEVICE_APP=(device "mode application" "type $IMAGE_TYPE" "installed 0x00 0x5A valid" "flash pattern"
                "reboot-delay 300")
}

case_update_json() {
    local preset=$1
    new_case "$preset" update-json yes "${DEVICE_APP[@]}"
    run_program --json --yes --restart-wait auto
    check "exit code 0 (got $CODE)" [ "$CODE" = 0 ]
    check "standard output is JSON lines ending in the result" json_result outcome >/dev/null
    check "outcome updated" [ "$(json_result outcome)" = updated ]
    check "device state runs-image" [ "$(json_result device_state)" = runs-image ]
    check "exit_code 0 in the result" [ "$(json_result exit_code)" = 0 ]
    local verified; verified=$(json_result pages_verified)
    check "53 pages verified (got $verified)" [ "$verified" = 53 ]
    check "53 page events" [ "$(json_count page_programmed)" = 53 ]
    check "the loader's line is not a bare line" bash -c "! grep -qx 'Working *' '$DIR/out.txt'"
    check "the flash holds the image with its signature" \
        "${CHECK_FLASH[@]}" programmed "$FIRMWARE_HEX" "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin" "$IMAGE_LAST_PAGE"
    end_case "$preset" update-json
}

case_list() {
    local preset=$1
    new_case "$preset" list yes "${DEVICE_APP[@]}" device "mode bootloader" device "mode application" "name LX-7 sensor"
    run_program --list --json
    check "exit code 0 (got $CODE)" [ "$CODE" = 0 ]
    local found
    found=$("${JSON[@]}" devices "$DIR/out.txt")
    check "three devices listed (got '$found')" [ "$found" = "0 application 2021;1 bootloader ar5w2~;2 unknown LX-7 sensor" ]
    check "the call log was written" grep -q ' count' "$DIR/standin-calls.log"
    check "nothing opened or written" bash -c "! grep -qE ' (open|write) ' '$DIR/standin-calls.log'"
    run_program --list
    check "human list" [ "$(sed -n 2p "$DIR/out.txt")" = 'device 1: "ar5w2~" (bootloader)' ]
    end_case "$preset" list
}

case_check() {
    local preset=$1
    new_case "$preset" check yes device "mode application" "type $IMAGE_TYPE" "installed 0x02 0x00 valid" \
        "flash pattern" "reply-delay 1" "reboot-delay 300"
    run_program --check --json --restart-wait auto
    check "exit code 3: an update would ask (got $CODE)" [ "$CODE" = 3 ]
    check "outcome would-ask" [ "$(json_result outcome)" = would-ask ]
    check "flash untouched" "${CHECK_FLASH[@]}" unchanged "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin"
    # The packets the device was sent: the mode switch (32 bytes), then only
    # the info request 00 and the run command 05.
    local sent
    sent=$(sed -n 's/.* write handle=[^ ]* length=\([0-9]*\) \[\(..\).*/\1:\2/p' "$DIR/standin-calls.log" | tr '\n' ' ')
    check "no flash key, erase, page or signature packet (sent: $sent)" [ "$sent" = "32:00 1:00 1:05 " ]
    check "the run command was sent" [ "$(json_result run_sent)" = true ]
    end_case "$preset" check
}

case_info() {
    local preset=$1
    new_case "$preset" info no
    run_program --info --json
    check "exit code 0 (got $CODE)" [ "$CODE" = 0 ]
    # The SHA-256 of the 64,512-byte flash image made here from the HEX file:
    # 0xFF where it sets no byte.
    local expected
    expected=$("${JSON[@]}" image-sha256 "$FIRMWARE_HEX")
    local sha
    sha=$("${JSON[@]}" info-sha256 "$DIR/out.txt")
    check "SHA-256 of the flash image ($sha)" [ "$sha" = "$expected" ]
    end_case "$preset" info
}

case_missing_library() {
    local preset=$1
    new_case "$preset" missing-library no "${DEVICE_APP[@]}"
    run_program --json
    check "exit code 1 (got $CODE)" [ "$CODE" = 1 ]
    check "standard error names the folders looked in" \
        grep -q 'SiUSBXp.dll was not found: looked for .*\\SiUSBXp.dll and .*system32\\SiUSBXp.dll' "$DIR/err.txt"
    check "outcome no-library" [ "$(json_result outcome)" = no-library ]
    run_program
    check "human: exit code 1 and the message" bash -c "[ $CODE = 1 ] && grep -q 'put the library beside' '$DIR/err.txt'"
    end_case "$preset" missing-library
}

# A file named SiUSBXp.dll that is not a library, one that lacks ordinal 12,
# and the library of the other architecture: each named with its reason.
case_unusable_library() {
    local preset=$1 other=$2
    new_case "$preset" text-library no "${DEVICE_APP[@]}"
    echo "not a library" >"$DIR/SiUSBXp.dll"
    run_program
    check "text file: exit 1 (got $CODE)" [ "$CODE" = 1 ]
    check "text file: the path and Windows' reason" grep -q 'SiUSBXp.dll could not be loaded: .*(Windows error 193)' "$DIR/err.txt"
    check "text file: no word of another architecture" bash -c "! grep -q 'bit library' '$DIR/err.txt'"
    end_case "$preset" text-library
    new_case "$preset" partial-library no "${DEVICE_APP[@]}"
    cp "$ROOT/build/$preset/bin/partial/SiUSBXp.dll" "$DIR/"
    run_program --json
    check "partial: exit 1 (got $CODE)" [ "$CODE" = 1 ]
    check "partial: ordinal 12 named" grep -q 'SiUSBXp.dll lacks ordinal 12' "$DIR/err.txt"
    check "partial: outcome no-library" [ "$(json_result outcome)" = no-library ]
    end_case "$preset" partial-library
    if [ -f "$ROOT/build/$other/bin/SiUSBXp.dll" ]; then
        new_case "$preset" other-architecture no "${DEVICE_APP[@]}"
        cp "$ROOT/build/$other/bin/SiUSBXp.dll" "$DIR/"
        run_program
        local bits=64; [ "$preset" = win32 ] && bits=32
        check "other architecture: exit 1 (got $CODE)" [ "$CODE" = 1 ]
        check "other architecture: a $bits-bit program needs the $bits-bit library" \
            grep -q "could not be loaded: .*; a $bits-bit program needs the $bits-bit library" "$DIR/err.txt"
        end_case "$preset" other-architecture
    fi
}

# Two devices: without --device nothing is written (exit 2); --device 1
# updates the second and leaves the first alone.
case_two_devices() {
    local preset=$1
    new_case "$preset" two-devices yes "${DEVICE_APP[@]}" "${DEVICE_APP[@]}"
    run_program --json --yes --restart-wait auto
    check "no --device: exit 2 (got $CODE)" [ "$CODE" = 2 ]
    check "no --device: outcome device-choice-needed" [ "$(json_result outcome)" = device-choice-needed ]
    check "no --device: nothing opened" bash -c "! grep -qE ' (open|write) ' '$DIR/standin-calls.log'"
    run_program --json --yes --restart-wait auto --device 1
    check "--device 1: exit 0 (got $CODE)" [ "$CODE" = 0 ]
    check "--device 1: device_index 1" [ "$(json_result device_index)" = 1 ]
    check "--device 1: device 0's flash untouched" \
        "${CHECK_FLASH[@]}" unchanged "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin"
    check "--device 1: device 1 holds the image" \
        "${CHECK_FLASH[@]}" programmed "$FIRMWARE_HEX" "$DIR/standin-flash-1.initial.bin" "$DIR/standin-flash-1.bin" "$IMAGE_LAST_PAGE"
    end_case "$preset" two-devices
}

# --wait-device on Windows' clock: with no device it gives up after its
# time (no-device, exit 1); a device attached from the start is updated at
# once, with the default restart wait (auto).
case_wait_device() {
    local preset=$1
    new_case "$preset" wait-device yes
    run_program --json --wait-device 1
    check "no device: exit 1 (got $CODE)" [ "$CODE" = 1 ]
    check "no device: outcome no-device" [ "$(json_result outcome)" = no-device ]
    check "no device: one waiting_for_device line" [ "$(json_count waiting_for_device)" = 1 ]
    local elapsed; elapsed=$(json_result elapsed_ms)
    check "no device: waited a second ($elapsed ms)" [ "$elapsed" -ge 1000 ]
    new_case "$preset" wait-device yes "${DEVICE_APP[@]}"
    run_program --json --yes --wait-device 5
    check "attached: exit 0 (got $CODE)" [ "$CODE" = 0 ]
    check "attached: no wait for it" [ "$(json_count waiting_for_device)" = 0 ]
    check "attached: the polled restart wait" grep -q '"end":"bootloader-seen"' "$DIR/out.txt"
    check "attached: the flash holds the image" \
        "${CHECK_FLASH[@]}" programmed "$FIRMWARE_HEX" "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin" "$IMAGE_LAST_PAGE"
    end_case "$preset" wait-device
}

# Standard input from NUL is not a terminal: the question before an older
# image is answered No without a prompt.
case_nul_stdin() {
    local preset=$1
    new_case "$preset" nul-stdin yes device "mode application" "type $IMAGE_TYPE" "installed 0x02 0x00 valid" \
        "flash pattern" "reboot-delay 300"
    (cd "$DIR" && timeout 120 "$WINE" cmd /c "lumaris-update.exe --restart-wait auto < NUL" >out.raw 2>err.txt)
    CODE=$?
    tr -d '\r' <"$DIR/out.raw" >"$DIR/out.txt"
    timeout 30 wineserver -w
    check "exit code 3 (got $CODE)" [ "$CODE" = 3 ]
    check "answered No, no terminal to ask" grep -q '^answered no (no terminal to ask)$' "$DIR/out.txt"
    check "no prompt" bash -c "! grep -q 'answer \[y/N\]' '$DIR/out.txt' '$DIR/err.txt'"
    check "flash untouched" "${CHECK_FLASH[@]}" unchanged "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin"
    end_case "$preset" nul-stdin
}

# --log through WriteFile on a handle opened for appending: a second run ends
# a line the first left cut and appends whole lines, and --show-log reads them
# back; a firmware file and a device are refused (exit 2) before the library
# is even asked for devices.
case_log() {
    local preset=$1
    new_case "$preset" log yes "${DEVICE_APP[@]}"
    run_program --check --json --restart-wait auto --log station.jsonl
    check "a new log: exit 0 (got $CODE)" [ "$CODE" = 0 ]
    printf '{"event":"page_programmed","t_ms":9' >>"$DIR/station.jsonl"
    run_program --check --restart-wait auto --log station.jsonl
    check "the second run: exit 0 (got $CODE)" [ "$CODE" = 0 ]
    check "the cut line ended, every other line JSON, two runs with their results" "$PY" -c '
import json, sys
lines = open(sys.argv[1], newline="").read().split("\n")
assert lines[-1] == "" and lines[:-1], lines[-3:]
bad = [i for i, l in enumerate(lines[:-1]) if not l.startswith("{") or not l.endswith("}")]
events = [json.loads(l)["event"] for i, l in enumerate(lines[:-1]) if i not in bad]
assert len(bad) == 1 and events.count("run_started") == 2 and events.count("result") == 2, (bad, events)' "$DIR/station.jsonl"
    # Read back through ReadFile: the two runs, the cut line counted with them.
    run_program --show-log station.jsonl
    check "--show-log: exit 0 (got $CODE), two runs and the cut line" \
        grep -q '^2 run(s) in the log; 1 line(s) skipped that are not JSON' "$DIR/out.txt"
    : >"$DIR/empty.jsonl"
    run_program --show-log empty.jsonl
    check "--show-log of an empty file: exit 0 (got $CODE), no run" grep -q '^0 run(s) in the log' "$DIR/out.txt"
    run_program --show-log NUL
    check "--show-log of NUL, a device: exit 2 (got $CODE)" [ "$CODE" = 2 ]
    cp "$FIRMWARE_HEX" "$DIR/firmware.hex"
    rm -f "$DIR/standin-calls.log"
    run_program --check --log firmware.hex
    check "a firmware file as --log: exit 2 (got $CODE)" [ "$CODE" = 2 ]
    check "a firmware file as --log: named as one" grep -q 'Intel HEX' "$DIR/err.txt"
    check "a firmware file as --log: left as it was" cmp -s "$FIRMWARE_HEX" "$DIR/firmware.hex"
    run_program --check --log NUL
    check "NUL as --log: exit 2 (got $CODE)" [ "$CODE" = 2 ]
    check "no library call for a refused log" bash -c "! grep -q 'device-count' '$DIR/standin-calls.log' 2>/dev/null"
    end_case "$preset" log
}

# Names beyond ASCII and beyond the ANSI code page: the program in a folder
# "Prüfplatz Ω 中文", a label and a --log file with Ω and 中文. The log file
# exists under exactly that name, and every label decodes to what was typed:
# in the JSON lines, in the log, and in the last line in words, redirected
# (UTF-8) and on a terminal (Wine's console on a pseudo-terminal, written as
# UTF-16). The library search names that folder as it is.
case_non_ascii_names() {
    local preset=$1
    local saved_locale=${LC_ALL-}
    export LC_ALL=C.UTF-8  # Wine takes the command line and the environment in the locale's characters
    local folder="Prüfplatz Ω 中文" label="SN-0042 Prüfplatz Ω 中文" logname="log Ω 中文.jsonl"
    new_case "$preset" "$folder" yes "${DEVICE_APP[@]}"
    run_program --json --yes --restart-wait auto --label "$label" --log "$logname"
    check "exit code 0 (got $CODE)" [ "$CODE" = 0 ]
    check "outcome updated" [ "$(json_result outcome)" = updated ]
    check "the flash holds the image" \
        "${CHECK_FLASH[@]}" programmed "$FIRMWARE_HEX" "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin" "$IMAGE_LAST_PAGE"
    local logs; logs=$(find "$DIR" -maxdepth 1 -name '*.jsonl')
    check "the one log file is '$logname' (found: $logs)" [ "$logs" = "$DIR/$logname" ]
    check "the label in the result on standard output" [ "$("${JSON[@]}" labels "$DIR/out.txt")" = "$label" ]
    check "the label in the log's run_started and result" \
        [ "$("${JSON[@]}" labels "$DIR/$logname" 2>&1)" = "$(printf '%s\n%s' "$label" "$label")" ]
    local last; last="$label: $(json_result message)"
    run_program --yes --restart-wait auto --label "$label"
    check "redirected: the last line in UTF-8 ($(tail -1 "$DIR/out.txt"))" [ "$(tail -1 "$DIR/out.txt")" = "$last" ]
    (cd "$DIR" && timeout 120 "$PY" "$ROOT/tests/pty_screen.py" "$WINE" ./lumaris-update.exe --yes --restart-wait auto \
        --label "$label" >screen.txt 2>&1)
    CODE=$?
    timeout 30 wineserver -w
    check "on a console: exit code 0 (got $CODE)" [ "$CODE" = 0 ]
    check "on a console: the last line as typed ($(grep -a 'device runs' "$DIR/screen.txt"))" \
        grep -qxF "$last" "$DIR/screen.txt"
    run_program --log "no folder Ω/$logname"
    check "a log that cannot be opened: exit 2 (got $CODE)" [ "$CODE" = 2 ]
    check "a log that cannot be opened: named as typed" grep -qF "\"no folder Ω/$logname\" cannot be opened" "$DIR/err.txt"
    end_case "$preset" "$folder"

    new_case "$preset" "$folder, no library" no "${DEVICE_APP[@]}"
    local windows_dir="Z:${DIR//\//\\}"
    run_program --json
    check "no library: exit code 1 (got $CODE)" [ "$CODE" = 1 ]
    check "no library: standard error names the folder" grep -qF "looked for $windows_dir\\SiUSBXp.dll" "$DIR/err.txt"
    local message; message=$(json_result message)
    check "no library: the result's message names the folder ($message)" \
        bash -c '[[ $1 == *"$2"* ]]' - "$message" "looked for $windows_dir\\SiUSBXp.dll"
    (cd "$DIR" && timeout 120 "$PY" "$ROOT/tests/pty_screen.py" "$WINE" ./lumaris-update.exe >screen.txt 2>&1)
    timeout 30 wineserver -w
    check "no library, on a console: the folder as it is" grep -qF "looked for $windows_dir\\SiUSBXp.dll" "$DIR/screen.txt"
    end_case "$preset" "$folder, no library"
    if [ -n "$saved_locale" ]; then export LC_ALL=$saved_locale; else unset LC_ALL; fi
}

for preset in "${PRESETS[@]}"; do
    if [ ! -x "build/$preset/bin/lumaris-update.exe" ]; then
        log "build/$preset/bin/lumaris-update.exe is missing: build the $preset preset first"
        failed=$((failed + 1)); failures+=("$preset/build"); continue
    fi
    log "== $preset"
    if [ "$preset" = win32 ] && ! runs_32bit_programs; then
        log "SKIPPED $preset (x86 console program): this kernel runs no 32-bit programs, so 32-bit Wine cannot start; built, not run"
        continue
    fi
    load_facts "build/$preset/image/firmware_facts.txt" || { failed=$((failed + 1)); failures+=("$preset/facts"); continue; }
    device_app
    make_prefix "$preset" "$PREFIXES_DIR" "$OUT/$preset" || { failed=$((failed + 1)); failures+=("$preset/prefix"); continue; }
    case_update_json "$preset"
    case_list "$preset"
    case_check "$preset"
    case_info "$preset"
    case_missing_library "$preset"
    other=win32; [ "$preset" = win32 ] && other=win64
    case_unusable_library "$preset" "$other"
    case_two_devices "$preset"
    case_nul_stdin "$preset"
    case_wait_device "$preset"
    case_log "$preset"
    case_non_ascii_names "$preset"
done

log ""
log "console program under Wine: $passed passed, $failed failed"
[ "$failed" = 0 ] || { printf '  failed: %s\n' "${failures[@]}"; exit 1; }
