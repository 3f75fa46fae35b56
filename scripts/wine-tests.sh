#!/usr/bin/env bash
# Runs the Windows builds under Wine: first the core tests, then end-to-end
# scenarios that drive the real LumarisUpdate.exe with xdotool, as a person
# would, against the stand-in SiUSBXp.dll beside it.
#
#   scripts/wine-tests.sh [--build DIR] [--programs DIR] [PRESET...] [STEP...]
#
#   PRESET           win32 or win64 (default: both)
#   STEP             core-tests or a scenario name (default: all of them):
#                    update-ok no-device refused-image older-image about
#                    second-command library-in-cwd-only partial-library high-dpi
#                    close-box file-exit repaint screen-reader bystander
#                    arrival-during-restart non-ascii-folder
#                    support-log-failure support-log-update support-log-declined
#                    support-log-blocked
#   --build DIR      the build folder of the (one) preset instead of
#                    build/<preset>: its bin/ gives the stand-in library, the
#                    core tests, window_probe.exe, window_message.exe and
#                    accessible_probe.exe, its image/firmware_facts.txt what
#                    the program embeds
#   --programs DIR   take LumarisUpdate.exe from DIR instead of the build's
#                    bin/ (e.g. an unpacked release), with one preset
#
# For example, the x86 program of a release, against the win32 build it was
# made from:   scripts/wine-tests.sh --programs DIR/x86 win32 update-ok
#
# Each run makes a fresh, quiet Wine prefix per architecture under
# build/wine/, starts one Xvfb, and ends every process it started. What
# the program showed is read from Wine's relay trace, limited to
# MessageBoxW, DialogBoxParamW, TextOutW, ExtTextOutW, LoadImageW and
# DrawTextW; what the device saw, from the stand-in's call log and flash
# dumps. The devices are set up
# from the facts of the firmware each build embeds. Artifacts (screenshots,
# traces, call logs, flash dumps) are kept under build/e2e/<preset>/<step>/.
# Exits non-zero when any check fails.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
ROOT=$PWD
E2E=$ROOT/build/e2e
CHECK_FLASH=(/usr/bin/python3 "$ROOT/sim/standin/check_flash.py")

# shellcheck source=wine/helpers.sh
. "$ROOT/scripts/wine/helpers.sh"
# shellcheck source=wine/scenarios.sh
. "$ROOT/scripts/wine/scenarios.sh"

usage() { sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit "${1:-0}"; }

PRESETS=()
STEPS=()
BUILD_OVERRIDE=""
PROGRAMS_OVERRIDE=""
while [ $# -gt 0 ]; do
    case $1 in
        -h|--help) usage ;;
        --build) BUILD_OVERRIDE=$(realpath -m "${2:?--build needs a folder}"); shift ;;
        --programs) PROGRAMS_OVERRIDE=$(realpath -m "${2:?--programs needs a folder}"); shift ;;
        win32|win64) PRESETS+=("$1") ;;
        *)
            if [[ " ${ALL_STEPS[*]} " == *" $1 "* ]]; then STEPS+=("$1"); else log "unknown argument: $1"; usage 2; fi ;;
    esac
    shift
done
[ ${#PRESETS[@]} -gt 0 ] || PRESETS=(win32 win64)
[ ${#STEPS[@]} -gt 0 ] || STEPS=("${ALL_STEPS[@]}")
if [ -n "$BUILD_OVERRIDE$PROGRAMS_OVERRIDE" ] && [ ${#PRESETS[@]} -ne 1 ]; then
    log "--build and --programs go with one preset"; exit 2
fi
if [ -n "$PROGRAMS_OVERRIDE" ] && [ ! -f "$PROGRAMS_OVERRIDE/LumarisUpdate.exe" ]; then
    log "$PROGRAMS_OVERRIDE/LumarisUpdate.exe missing"; exit 2
fi

export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=-all
unset WINEARCH WINEPREFIX WINELOADER

passed=0
failed=0
skipped=0
failures=()

trap end_window_tests EXIT
trap 'exit 130' INT TERM

mkdir -p "$E2E"
started=$SECONDS
start_xvfb "$E2E" || exit 1
for PRESET in "${PRESETS[@]}"; do
    BUILD=${BUILD_OVERRIDE:-$ROOT/build/$PRESET}
    BIN=$BUILD/bin
    PROGRAM_DIR=${PROGRAMS_OVERRIDE:-$BIN}
    set_window_target "$PRESET" "$BIN" "$PROGRAM_DIR" "$E2E"
    mkdir -p "$E2E/$PRESET"
    log "== $PRESET: $PROGRAM_DIR/LumarisUpdate.exe"
    if [ "$PRESET" = win32 ] && ! runs_32bit_programs; then
        log "SKIPPED $PRESET (x86 window program): this kernel runs no 32-bit programs, so 32-bit Wine cannot start; built, not run"
        skipped=$((skipped + 1)); continue
    fi
    if ! load_facts "$BUILD/image/firmware_facts.txt"; then
        failed=$((failed + 1)); failures+=("$PRESET firmware facts"); continue
    fi
    if ! make_prefix "$PRESET" "$ROOT/build/wine" "$E2E/$PRESET"; then
        failed=$((failed + 1)); failures+=("$PRESET prefix"); continue
    fi
    e2e_started=$SECONDS
    for step in "${STEPS[@]}"; do run_step "$step"; done
    log "  $PRESET took $((SECONDS - e2e_started)) s"
    timeout 20 wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null
done
log "Wine tests took $((SECONDS - started)) s; artifacts in build/e2e/"
for f in "${failures[@]}"; do log "failed: $f"; done
log "wine: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
