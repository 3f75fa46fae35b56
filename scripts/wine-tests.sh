#!/usr/bin/env bash
# Runs the Windows builds under Wine: first the core tests, then end-to-end
# scenarios that drive the real LumarisUpdate.exe with xdotool, as a person
# would, against the stand-in SiUSBXp.dll beside it.
#
#   scripts/wine-tests.sh [win32|win64]...     (default: both)
#
# Expects build/win32 and build/win64 to be built (scripts/test.sh does
# that). Each run makes a fresh, quiet Wine prefix per architecture under
# build/wine/, starts one Xvfb, and ends every process it started. What
# the program showed is read from Wine's relay trace, limited to
# MessageBoxW, DialogBoxParamW and TextOutW; what the device saw, from the
# stand-in's call log and flash dumps. Artifacts (screenshots, traces, call
# logs, flash dumps) are kept under build/e2e/<preset>/<scenario>/.
# Exits non-zero when any check fails.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
E2E=$ROOT/build/e2e
CHECK_FLASH="python3 $ROOT/sim/standin/check_flash.py"
FIRMWARE_HEX=$(sed -n 's/^LUMARIS_FIRMWARE_HEX:FILEPATH=//p' build/win32/CMakeCache.txt 2>/dev/null)
FIRMWARE_HEX=${FIRMWARE_HEX:-$ROOT/firmware/demo.hex}
IMAGE_TYPE=0x83       # the device type the embedded image declares
IMAGE_LAST_PAGE=62    # ... and its last page

PRESETS=("$@")
[ ${#PRESETS[@]} -gt 0 ] || PRESETS=(win32 win64)

export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=-all
unset WINEARCH WINEPREFIX WINELOADER

passed=0
failed=0
failures=()
XVFB_PID=""
PREFIXES=()
APP_PID=""

log() { printf '%s\n' "$*"; }

cleanup() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
    for prefix in "${PREFIXES[@]}"; do
        WINEPREFIX=$prefix timeout 20 wineserver -k 2>/dev/null
        WINEPREFIX=$prefix timeout 20 wineserver -w 2>/dev/null
    done
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------- X server

start_xvfb() {
    local fd_file=$E2E/xvfb-display.txt
    : >"$fd_file"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp -noreset 9>"$fd_file" 2>"$E2E/xvfb.log" &
    XVFB_PID=$!
    local end=$((SECONDS + 20))
    while [ ! -s "$fd_file" ]; do
        if [ $SECONDS -ge $end ] || ! kill -0 "$XVFB_PID" 2>/dev/null; then
            log "Xvfb did not start"; cat "$E2E/xvfb.log"; return 1
        fi
        sleep 0.1
    done
    export DISPLAY=:$(tr -d '\n' <"$fd_file")
}

# ---------------------------------------------------------------- Wine prefix

# Sets WINEPREFIX, WINEARCH and WINE for a preset and makes the prefix:
# once per run, without Mono or Gecko, unmanaged windows (no window manager
# here; managed windows make Wine stall on every close), and a relay trace
# limited to the calls the scenarios look at.
use_prefix() {
    local preset=$1
    export WINEPREFIX=$ROOT/build/wine/$preset
    if [ "$preset" = win32 ]; then
        export WINEARCH=win32; WINE=wine
    else
        export WINEARCH=win64
        WINE=/usr/lib/wine/wine64; [ -x "$WINE" ] || WINE=wine64
        export WINELOADER=$WINE
    fi
}

make_prefix() {
    local preset=$1 started=$SECONDS
    use_prefix "$preset"
    PREFIXES+=("$WINEPREFIX")
    timeout 20 wineserver -k 2>/dev/null
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 120 wineboot --init >/dev/null 2>&1 && timeout 60 wineserver -w || { log "wineboot failed"; return 1; }
    local key
    for key in "Managed N" "Decorated N"; do
        timeout 30 $WINE reg add 'HKCU\Software\Wine\X11 Driver' /v ${key% *} /t REG_SZ /d ${key#* } /f >/dev/null 2>&1 || return 1
    done
    timeout 30 $WINE reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
        /d 'user32.MessageBoxW;user32.DialogBoxParamW;gdi32.TextOutW' /f >/dev/null 2>&1 || return 1
    timeout 60 wineserver -w
    log "Wine prefix $WINEARCH ready in $((SECONDS - started)) s"
}

# ---------------------------------------------------------------- checks

SCENARIO_OK=1
DIR=""
RELAY=""
MAIN=""

check() {  # description, command...
    local what=$1; shift
    if "$@"; then return 0; fi
    log "    FAILED: $what"
    SCENARIO_OK=0
    return 1
}

count() { grep -c -E -- "$1" "$2" 2>/dev/null || true; }

# Relay patterns. Pointers are hex of the process's width. A 32-bit
# argument is shown as the whole register: in a 64-bit process its upper
# half may hold leftovers, so only the low 8 hex digits are matched.
H='[0-9a-fA-F]+'
int_arg() { printf '[0-9a-fA-F]*%08x' "$((16#$1))"; }
box_call() { printf 'Call user32\\.MessageBoxW\\(0+,%s L"%s",%s L"%s",%s\\)' "$H" "$1" "$H" "$2" "$(int_arg "$3")"; }
box_any='Call user32\.MessageBoxW\('
box_ret() { printf 'Ret  user32\\.MessageBoxW\\(\\) retval=%s ' "$(int_arg "$1")"; }
text_call() {
    printf 'Call gdi32\\.TextOutW\\(%s,%s,%s,%s L"%s",%s\\)' "$H" "$(int_arg "$1")" "$(int_arg "$2")" "$H" "$3" "$(int_arg "$4")"
}
text_any='Call gdi32\.TextOutW\('
dialog_call="Call user32\.DialogBoxParamW\($H,0*67,"   # dialog 103
dialog_ret() { printf 'Ret  user32\\.DialogBoxParamW\\(\\) retval=%s ' "$(int_arg "$1")"; }
TEXT_WORKING=$(text_call a a 'Working                ' 17)
TEXT_OK=$(text_call a a 'OK           ' d)
TEXT_REBOOT=$(text_call a 28 'REBOOT                       ' 1d)
TEXT_ERROR=$(text_call a a 'ERROR            ' 11)
ERROR_BOX=$(box_call Error ' ' 30)
OK_BOX=$(box_call OK ' ' 30)
OLDER_BOX=$(box_call Error Error 4)

# Waits until `pattern` occurs `n` times in `file`.
wait_for() {  # file pattern n seconds
    local file=$1 pattern=$2 n=$3 end=$((SECONDS + $4))
    while [ "$(count "$pattern" "$file")" -lt "$n" ]; do
        if [ $SECONDS -ge $end ]; then
            log "    timed out waiting for ${n}x /$pattern/ in $(basename "$file")"
            return 1
        fi
        sleep 0.1
    done
}
wait_relay() { wait_for "$RELAY" "$1" "${2:-1}" "${3:-30}"; }

# Finds a visible window by its exact title, makes it the active one as a
# person would, by clicking into it, and types keys into it. (Wine sends
# keys to the window it considers active; X focus alone does not change
# that while another thread's box is up.) The click lands at mid-width, 30%
# down: below the menu bar and caption, above the buttons of a box or the
# About box, so it activates without pressing anything.
keys_to() {  # title-regex keys...
    local title=$1 w WIDTH= HEIGHT=; shift
    w=$(timeout 20 xdotool search --sync --onlyvisible --name "$title" 2>/dev/null | head -1)
    if [ -z "$w" ]; then log "    no window titled /$title/"; return 1; fi
    eval "$(timeout 10 xdotool getwindowgeometry --shell "$w" | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
    timeout 10 xdotool mousemove --window "$w" $((${WIDTH:-100} / 2)) $((${HEIGHT:-100} * 3 / 10)) click 1 &&
        timeout 10 xdotool windowfocus --sync "$w" && timeout 10 xdotool key --delay 80 "$@"
}
menu_update() { keys_to '^Lumaris Update$' alt+f p; }

# The texts drawn into the window, in order, as one line each.
drawn_texts() { grep -o -E 'Call gdi32\.TextOutW\([^)]*\)' "$RELAY" | sed -E 's/.* L"([^"]*)".*/\1/; s/ +$//' | tr '\n' '|'; }

# ---------------------------------------------------------------- scenarios

# Lays out one scenario folder with the program, a library and a scenario
# file, and starts the program from another folder as the current directory.
start_scenario() {  # name library(standin|partial|none) scenario-text
    local name=$1 library=$2
    DIR=$E2E/$PRESET/$name
    RELAY=$DIR/relay.log
    SCENARIO_OK=1
    rm -rf "$DIR"; mkdir -p "$DIR/cwd"
    cp "$BIN/LumarisUpdate.exe" "$DIR/"
    case "$library" in
        standin) cp "$BIN/SiUSBXp.dll" "$DIR/" ;;
        partial) cp "$BIN/partial/SiUSBXp.dll" "$DIR/" ;;
        none) ;;
    esac
    printf '%s\n' "$3" >"$DIR/scenario.txt"
    export LUMARIS_STANDIN_SCENARIO="Z:${DIR//\//\\}\\scenario.txt"
    log "  $PRESET $name"
    timeout 20 wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null
    (cd "$DIR/cwd" && exec env WINEDEBUG=-all,+relay $WINE "$DIR/LumarisUpdate.exe" >"$DIR/stdout.log" 2>"$RELAY") &
    APP_PID=$!
    MAIN=$(timeout 30 xdotool search --sync --onlyvisible --name '^Lumaris Update$' 2>/dev/null | head -1)
    check "main window appears" test -n "$MAIN"
}

# Ends the program with File > Exit, which must end the process with exit
# code 0, then makes sure nothing of the scenario is left running.
stop_program() {
    local code=
    if [ -n "$MAIN" ] && keys_to '^Lumaris Update$' alt+f x; then
        local end=$((SECONDS + 20))
        while kill -0 "$APP_PID" 2>/dev/null && [ $SECONDS -lt $end ]; do sleep 0.1; done
        if ! kill -0 "$APP_PID" 2>/dev/null; then wait "$APP_PID"; code=$?; fi
    fi
    check "File > Exit ends the program with exit code 0 (got '${code:-still running}')" test "$code" = 0
    kill "$APP_PID" 2>/dev/null; wait "$APP_PID" 2>/dev/null; APP_PID=""
    timeout 20 wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null
}

record_result() {
    if [ "$SCENARIO_OK" = 1 ]; then
        passed=$((passed + 1)); log "    ok"
    else
        failed=$((failed + 1)); failures+=("$PRESET $(basename "$DIR")")
    fi
}

no_violation() { ! calls_have 'violation:'; }
finish_scenario() {
    stop_program
    check "no call broke the library's rules (null output pointer, non-zero last argument)" no_violation
    record_result
}

state_has() { grep -q -E "$1" "$DIR/standin-state.txt" 2>/dev/null; }
calls_have() { grep -q -E "$1" "$DIR/standin-calls.log" 2>/dev/null; }
one_thread() { [ "$(grep -o -E 'thread=[0-9]+' "$DIR/standin-calls.log" | sort -u | wc -l)" -eq 1 ]; }
eq() { [ "$1" = "$2" ] || { log "    expected '$2', got '$1'"; return 1; }; }

# The window as it is now, texts included: a repaint would erase them, so
# only the mouse moves over it, which makes Wine show what was drawn.
screenshot() {  # file
    timeout 10 xdotool mousemove --window "$MAIN" 200 150 && sleep 0.3
    timeout 20 import -window "$MAIN" "$1"
}
# Dark pixels in the client area below the menu: the drawn texts.
has_text_pixels() {
    local dark
    dark=$(convert "$1" -crop 230x120+5+45 -colorspace Gray -threshold 50% -negate -format '%[fx:mean*w*h]' info: 2>/dev/null)
    [ "${dark%.*}" -gt 50 ] 2>/dev/null
}

APP_DEVICE="device
mode application
type $IMAGE_TYPE
installed 0x00 0x90 valid
flash pattern"

scenario_update_ok() {
    start_scenario update-ok standin "$APP_DEVICE" || { finish_scenario; return; }
    check "Update Firmware from the keyboard" menu_update
    check "\"Working\" drawn" wait_relay "$TEXT_WORKING" 1 30
    check "\"OK\" result box" wait_relay "$OK_BOX" 1 60
    check "OK box answered" keys_to '^ $' Return
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    check "texts in order" eq "$(drawn_texts)" "Working|OK|REBOOT|"
    check "one box only" eq "$(count "$box_any" "$RELAY")" 1
    check "device switched, programmed and started" \
        state_has 'device 0 mode=application present=no signature=0x3DC2 version=0x0100 .* runs=1 switches=1'
    check "flash equals the embedded image" \
        $CHECK_FLASH programmed "$FIRMWARE_HEX" "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin" $IMAGE_LAST_PAGE
    if [ "$PRESET" = win64 ]; then
        check "handles beyond 32 bits reach the library whole" calls_have 'close handle=0x5A5A000100000000 -> 0'
    fi
    check "screenshot taken" screenshot "$DIR/screenshot-update-ok.png"
    check "screenshot shows the texts" has_text_pixels "$DIR/screenshot-update-ok.png"
    finish_scenario
}

scenario_no_device() {
    start_scenario no-device standin "# no device attached" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 30
    # While the worker's box is up, the window still answers.
    check "About opens while the box is up" keys_to '^Lumaris Update$' alt+question
    check "About box shown" wait_relay "$dialog_call" 1 15
    check "About closed with Esc" keys_to '^About Lumaris Upgrade$' Escape
    check "About returned IDCANCEL" wait_relay "$(dialog_ret 2)" 1 15
    check "Error box answered" keys_to '^ $' Return
    check "Error box closed" wait_relay "$(box_ret 1)" 1 15
    stop_program  # the worker has surely ended now
    check "one box only" eq "$(count "$box_any" "$RELAY")" 1
    check "nothing drawn" eq "$(count "$text_any" "$RELAY")" 0
    record_result
}

scenario_refused_image() {
    start_scenario refused-image standin "device
mode bootloader
type 0x84
flash pattern" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 40
    check "Error box answered" keys_to '^ $' Return
    check "\"ERROR\" drawn" wait_relay "$TEXT_ERROR" 1 30
    check "texts in order" eq "$(drawn_texts)" "Working|ERROR|"
    check "one box only" eq "$(count "$box_any" "$RELAY")" 1
    check "nothing programmed" $CHECK_FLASH unchanged "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin"
    check "no run command" test "$(count 'write .* length=1 \[05\]' "$DIR/standin-calls.log")" = 0
    finish_scenario
}

scenario_older_image() {
    start_scenario older-image standin "device
mode bootloader
type $IMAGE_TYPE
installed 0x02 0x00 valid
flash pattern" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "older-image question" wait_relay "$OLDER_BOX" 1 40
    check "answered No" keys_to '^Error$' n
    check "question returned IDNO" wait_relay "$(box_ret 7)" 1 15
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    check "texts in order" eq "$(drawn_texts)" "Working|OK|REBOOT|"
    check "one box only" eq "$(count "$box_any" "$RELAY")" 1
    check "nothing programmed" $CHECK_FLASH unchanged "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin"
    check "no flash key, erase or write sent" test "$(count 'write .* \[(06 A5|01 |02\]|03 |07 )' "$DIR/standin-calls.log")" = 0
    check "run command sent" calls_have 'write .* length=1 \[05\] -> 0'
    finish_scenario
}

scenario_about() {
    start_scenario about standin "# no device needed" || { finish_scenario; return; }
    check "Alt+? opens About" keys_to '^Lumaris Update$' alt+question
    check "About box shown" wait_relay "$dialog_call" 1 15
    local w
    w=$(timeout 10 xdotool search --sync --onlyvisible --name '^About Lumaris Upgrade$' 2>/dev/null | head -1)
    [ -n "$w" ] && timeout 20 import -window "$w" "$DIR/about.png"
    check "Esc closes it" keys_to '^About Lumaris Upgrade$' Escape
    check "About returned IDCANCEL" wait_relay "$(dialog_ret 2)" 1 15
    check "Alt+/ opens About" keys_to '^Lumaris Update$' alt+slash
    check "About box shown again" wait_relay "$dialog_call" 2 15
    check "Esc closes it" keys_to '^About Lumaris Upgrade$' Escape
    check "About returned IDCANCEL" wait_relay "$(dialog_ret 2)" 2 15
    check "no box, no text" eq "$(count "$box_any|$text_any" "$RELAY")" 0
    finish_scenario
}

scenario_second_command() {
    # The device is back on the bus 10 ms after it starts its application,
    # so that the command after the run finds it.
    start_scenario second-command standin "$APP_DEVICE
reboot-delay 10" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "worker running" wait_for "$DIR/standin-calls.log" 'device-count' 1 30
    check "Update Firmware again during the run" menu_update
    check "\"OK\" result box" wait_relay "$OK_BOX" 1 60
    check "OK box answered" keys_to '^ $' Return
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    check "one run: one \"Working\"" eq "$(count "$TEXT_WORKING" "$RELAY")" 1
    check "one run: one box" eq "$(count "$box_any" "$RELAY")" 1
    check "one run: all library calls from one thread" one_thread
    # Once the run has ended, the command starts a new one, and the device
    # (back in its application) is updated again from the same embedded image.
    check "Update Firmware after the run" menu_update
    check "second \"OK\" result box" wait_relay "$OK_BOX" 2 60
    check "OK box answered" keys_to '^ $' Return
    check "second \"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 2 30
    check "device started twice" state_has 'runs=2 switches=2'
    check "flash still equals the embedded image" \
        $CHECK_FLASH programmed "$FIRMWARE_HEX" "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin" $IMAGE_LAST_PAGE
    finish_scenario
}

# The library is found only beside the program or in the system folder; one
# in the current directory is not loaded.
scenario_library_in_cwd_only() {
    start_scenario library-in-cwd-only none "$APP_DEVICE" || { finish_scenario; return; }
    cp "$BIN/SiUSBXp.dll" "$DIR/cwd/"
    check "Update Firmware" menu_update
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 30
    check "Error box answered" keys_to '^ $' Return
    check "Error box closed" wait_relay "$(box_ret 1)" 1 15
    check "library in the current directory never loaded" test ! -e "$DIR/cwd/standin-calls.log"
    finish_scenario
}

# A library without ordinal 12 is not bound at all: no call reaches it.
scenario_partial_library() {
    start_scenario partial-library partial "$APP_DEVICE" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 30
    check "Error box answered" keys_to '^ $' Return
    check "Error box closed" wait_relay "$(box_ret 1)" 1 15
    check "no call reached the partial library" test ! -e "$DIR/standin-calls.log"
    finish_scenario
}

# ---------------------------------------------------------------- core tests

core_tests() {
    local exe=$BIN/lumaris_tests.exe out=$E2E/$PRESET/core-tests.log
    if [ ! -f "$exe" ]; then
        log "  $PRESET core tests: $exe missing"; failed=$((failed + 1)); failures+=("$PRESET core tests"); return
    fi
    log "  $PRESET core tests"
    local began=$SECONDS
    # From its own folder, so that nothing depends on the caller's directory.
    if (cd "$BIN" && timeout 600 $WINE "$exe" --gtest_brief=1 >"$out" 2>&1); then
        passed=$((passed + 1)); log "    ok: $(grep -E '^\[  PASSED  \]' "$out") ($((SECONDS - began)) s)"
    else
        failed=$((failed + 1)); failures+=("$PRESET core tests"); tail -40 "$out"
    fi
}

# ---------------------------------------------------------------- main

mkdir -p "$E2E"
started=$SECONDS
start_xvfb || exit 1
for PRESET in "${PRESETS[@]}"; do
    BIN=$ROOT/build/$PRESET/bin
    mkdir -p "$E2E/$PRESET"
    log "== $PRESET"
    if ! make_prefix "$PRESET"; then
        failed=$((failed + 1)); failures+=("$PRESET prefix"); continue
    fi
    core_tests
    e2e_started=$SECONDS
    scenario_update_ok
    scenario_no_device
    scenario_refused_image
    scenario_older_image
    scenario_about
    scenario_second_command
    scenario_library_in_cwd_only
    scenario_partial_library
    log "  $PRESET end-to-end scenarios took $((SECONDS - e2e_started)) s"
    timeout 20 wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null
done
log "Wine tests took $((SECONDS - started)) s; artifacts in build/e2e/"
for f in "${failures[@]}"; do log "failed: $f"; done
log "wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
