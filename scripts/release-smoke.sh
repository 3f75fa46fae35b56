#!/usr/bin/env bash
# Smoke test of a release's programs as they were packed: for x86 and x64,
# the window program updates a simulated device in application mode, under
# Wine with the stand-in SiUSBXp.dll beside it, driven with xdotool as a
# person would: File > Update Firmware, the "OK" box, "REBOOT", File > Exit
# with exit code 0; the device's flash must then hold the firmware file.
#
#   scripts/release-smoke.sh PROGRAMS BUILDS FIRMWARE.hex
#
# PROGRAMS holds x86/ and x64/ as unpacked from the zip; BUILDS holds the
# release's build folders win32/ and win64/, whose bin/SiUSBXp.dll is the
# stand-in. Wine prefixes are kept in build/release-wine/ across runs.
# Artifacts (relay trace, the stand-in's call log and flash) go to
# BUILDS/smoke/<arch>/. Prints "smoke: ..." lines; exits non-zero on a failure.
set -uo pipefail
[ $# -eq 3 ] || { echo "usage: $0 PROGRAMS BUILDS FIRMWARE.hex" >&2; exit 2; }
PROGRAMS=$1 BUILDS=$2 FIRMWARE=$3
cd "$(dirname "$0")/.."
ROOT=$PWD
PY=/usr/bin/python3

export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=-all
unset WINEARCH WINEPREFIX WINELOADER
XVFB_PID="" APP_PID="" PREFIXES=()
failed=0

log() { printf 'smoke: %s\n' "$*"; }
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
  for prefix in "${PREFIXES[@]}"; do WINEPREFIX=$prefix timeout 20 wineserver -k 2>/dev/null; done
  [ -n "$XVFB_PID" ] && { kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; }
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The image's type and last page, as the firmware file gives them.
read -r TYPE LAST_PAGE < <("$PY" - "$FIRMWARE" <<'EOF'
import sys
from intelhex import IntelHex
h = IntelHex(); h.padding = 0xFF; h.loadhex(sys.argv[1])
last = max(a for a in h.addresses() if a < 0xFC00) >> 9
print(f"0x{h[last * 512 + 0x1FB]:02X} {last}")
EOF
) || { log "cannot read $FIRMWARE"; exit 1; }

mkdir -p "$BUILDS/smoke"
fd_file=$BUILDS/smoke/xvfb-display.txt
: >"$fd_file"
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp -noreset 9>"$fd_file" 2>"$BUILDS/smoke/xvfb.log" &
XVFB_PID=$!
end=$((SECONDS + 20))
while [ ! -s "$fd_file" ]; do
  if [ $SECONDS -ge $end ] || ! kill -0 "$XVFB_PID" 2>/dev/null; then log "Xvfb did not start"; exit 1; fi
  sleep 0.1
done
export DISPLAY=:$(tr -d '\n' <"$fd_file")

# A quiet prefix without a window manager, with a relay trace limited to
# the boxes and texts.
use_prefix() {  # preset
  export WINEPREFIX=$ROOT/build/release-wine/$1
  if [ "$1" = win32 ]; then
    export WINEARCH=win32; WINE=wine; unset WINELOADER
  else
    export WINEARCH=win64; WINE=/usr/lib/wine/wine64; [ -x "$WINE" ] || WINE=wine64
    export WINELOADER=$WINE
  fi
  PREFIXES+=("$WINEPREFIX")
  [ -f "$WINEPREFIX/.smoke-ready" ] && return 0
  rm -rf "$WINEPREFIX"; mkdir -p "$(dirname "$WINEPREFIX")"
  # wineboot through the loader itself: the wrapper scripts pick 32-bit Wine.
  timeout 120 $WINE wineboot --init >/dev/null 2>&1 && timeout 60 wineserver -w || return 1
  timeout 30 $WINE reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 &&
    timeout 30 $WINE reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 &&
    timeout 30 $WINE reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
      /d 'user32.MessageBoxW;gdi32.TextOutW' /f >/dev/null 2>&1 || return 1
  timeout 60 wineserver -w
  touch "$WINEPREFIX/.smoke-ready"
}

count() { grep -c -E -- "$1" "$2" 2>/dev/null || true; }
wait_for() {  # file pattern seconds
  local end=$((SECONDS + $3))
  until [ "$(count "$2" "$1")" -gt 0 ]; do
    [ $SECONDS -lt $end ] || { log "  timed out waiting for /$2/ in $(basename "$1")"; return 1; }
    sleep 0.1
  done
}
# Activates a window by clicking into it (below a caption and menu, above
# any buttons), then types keys into it.
keys_to() {  # title-regex keys...
  local title=$1 w WIDTH= HEIGHT=; shift
  w=$(timeout 20 xdotool search --sync --onlyvisible --name "$title" 2>/dev/null | head -1)
  [ -n "$w" ] || { log "  no window titled /$title/"; return 1; }
  eval "$(timeout 10 xdotool getwindowgeometry --shell "$w" | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
  timeout 10 xdotool mousemove --window "$w" $((${WIDTH:-100} / 2)) $((${HEIGHT:-100} * 3 / 10)) click 1 &&
    timeout 10 xdotool windowfocus --sync "$w" && timeout 10 xdotool key --delay 80 "$@"
}
step() {  # description command...
  local what=$1; shift
  "$@" && return 0
  log "  FAILED: $what"; ok=0; return 1
}

update_ok() {  # arch preset
  local arch=$1 preset=$2 dir=$BUILDS/smoke/$1 began=$SECONDS code=""
  ok=1
  rm -rf "$dir"; mkdir -p "$dir/cwd"
  cp "$PROGRAMS/$arch/LumarisUpdate.exe" "$BUILDS/$preset/bin/SiUSBXp.dll" "$dir/"
  printf 'device\nmode application\ntype %s\ninstalled 0x00 0x00 valid\nflash pattern\n' "$TYPE" >"$dir/scenario.txt"
  export LUMARIS_STANDIN_SCENARIO="Z:${dir//\//\\}\\scenario.txt"
  local relay=$dir/relay.log
  (cd "$dir/cwd" && exec env WINEDEBUG=-all,+relay $WINE "$dir/LumarisUpdate.exe" >"$dir/stdout.log" 2>"$relay") &
  APP_PID=$!
  step "main window appears" keys_to '^Lumaris Update$' alt+f p &&
    step "\"OK\" box" wait_for "$relay" 'Call user32\.MessageBoxW\([0-9a-fA-F]+,[0-9a-fA-F]+ L"OK",' 90 &&
    step "OK box answered" keys_to '^ $' Return &&
    step "\"REBOOT\" drawn" wait_for "$relay" 'Call gdi32\.TextOutW\(.* L"REBOOT' 30 &&
    step "File > Exit" keys_to '^Lumaris Update$' alt+f x
  local end=$((SECONDS + 20))
  while kill -0 "$APP_PID" 2>/dev/null && [ $SECONDS -lt $end ]; do sleep 0.1; done
  if ! kill -0 "$APP_PID" 2>/dev/null; then wait "$APP_PID"; code=$?; fi
  kill "$APP_PID" 2>/dev/null; wait "$APP_PID" 2>/dev/null; APP_PID=""
  timeout 20 wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null
  step "exit code 0 (got '${code:-still running}')" test "$code" = 0
  step "one box only" test "$(count 'Call user32\.MessageBoxW\(' "$relay")" = 1
  step "device started with a valid signature" grep -q -E 'signature=0x3DC2 .*runs=1' "$dir/standin-state.txt"
  step "flash holds $(basename "$FIRMWARE")" "$PY" "$ROOT/sim/standin/check_flash.py" programmed "$FIRMWARE" \
    "$dir/standin-flash-0.initial.bin" "$dir/standin-flash-0.bin" "$LAST_PAGE"
  if [ "$ok" = 1 ]; then
    log "$arch/LumarisUpdate.exe updated a device of type $TYPE: ok ($((SECONDS - began)) s)"
  else
    log "$arch/LumarisUpdate.exe: FAILED (artifacts in $dir)"; failed=$((failed + 1))
  fi
}

skipped=0
for pair in x86:win32 x64:win64; do
  arch=${pair%:*} preset=${pair#*:}
  began=$SECONDS
  # Some kernels run no 32-bit programs at all (no 32-bit emulation): 32-bit
  # Wine cannot start there, and that says nothing about the program.
  if [ "$preset" = win32 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    log "$arch: SKIPPED: this machine cannot run 32-bit programs ($(/usr/lib/wine/wine --version 2>&1 | tail -1 | sed 's/.*: //'))"
    skipped=$((skipped + 1)); continue
  fi
  use_prefix "$preset" || { log "$preset: Wine prefix failed"; failed=$((failed + 1)); continue; }
  log "$preset Wine prefix ready ($((SECONDS - began)) s)"
  update_ok "$arch" "$preset"
done
[ "$failed" -eq 0 ]
