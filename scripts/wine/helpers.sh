# Helpers of scripts/wine-tests.sh, sourced by it: the X server, the Wine
# prefixes, the firmware's facts, relay patterns, driving the program with
# xdotool, and the frame every scenario runs in. Uses the caller's ROOT,
# E2E, PRESET, BIN, PROGRAM_DIR and the pass/fail counters.

log() { printf '%s\n' "$*"; }

. "$ROOT/scripts/lib/wine32.sh"

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
# The prefixes go under WINE_PREFIXES (default build/wine/).
use_prefix() {
    local preset=$1
    export WINEPREFIX=${WINE_PREFIXES:-$ROOT/build/wine}/$preset
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
    # Through the preset's own loader: the wineboot script takes 32-bit
    # Wine whenever it is installed.
    mkdir -p "$E2E/$preset"
    local boot_log=$E2E/$preset/wineboot.log
    if ! { timeout 120 $WINE wineboot --init >"$boot_log" 2>&1 && timeout 60 wineserver -w; }; then
        log "wineboot failed:"; tail -5 "$boot_log"; return 1
    fi
    local key
    for key in "Managed N" "Decorated N"; do
        timeout 30 $WINE reg add 'HKCU\Software\Wine\X11 Driver' /v ${key% *} /t REG_SZ /d ${key#* } /f >/dev/null 2>&1 || return 1
    done
    timeout 30 $WINE reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
        /d 'user32.MessageBoxW;user32.DialogBoxParamW;gdi32.TextOutW;gdi32.ExtTextOutW;user32.LoadImageW;user32.DrawTextW' /f >/dev/null 2>&1 || return 1
    timeout 60 wineserver -w
    log "Wine prefix $WINEARCH ready in $((SECONDS - started)) s"
}

# Sets the screen's DPI for the programs started from now on.
set_dpi() {  # dpi
    timeout 30 $WINE reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1 &&
        timeout 60 wineserver -w
}

# ---------------------------------------------------------------- the firmware's facts

# Reads what the build embeds from the embedding tool's facts file
# (type=0x83, version=1.00 or "no version", last_page=62, hex=PATH) and
# derives the devices the scenarios set up: IMAGE_TYPE, IMAGE_LAST_PAGE,
# FIRMWARE_HEX, IMAGE_VERSION_WORD (the version bytes as one number, 0xFFFF
# for none), UNVERSIONED (1: every update first asks the no-version
# question), OLDER_INSTALLED (a version the image may replace without a
# question), NEWER_INSTALLED (one that makes it ask, empty when there is
# none) and OTHER_TYPE (a known type the image is not for).
load_facts() {  # facts-file
    local file=$1 key value version=
    IMAGE_TYPE= IMAGE_LAST_PAGE= FIRMWARE_HEX=
    if [ ! -f "$file" ]; then log "  $file missing: is the preset built?"; return 1; fi
    while IFS='=' read -r key value; do
        case $key in
            type) IMAGE_TYPE=$value ;;
            version) version=$value ;;
            last_page) IMAGE_LAST_PAGE=$value ;;
            hex) FIRMWARE_HEX=$value ;;
        esac
    done <"$file"
    if ! [[ $IMAGE_TYPE =~ ^0x[0-9A-Fa-f]{2}$ && $IMAGE_LAST_PAGE =~ ^[0-9]+$ ]] || [ ! -f "$FIRMWARE_HEX" ]; then
        log "  $file: type, last_page or hex missing or wrong (hex: '$FIRMWARE_HEX')"; return 1
    fi
    IMAGE_VERSION_TEXT=$version   # as the About box shows it
    if [ "$version" = "no version" ]; then
        IMAGE_VERSION_WORD=$((0xFFFF)); UNVERSIONED=1
    elif [[ $version =~ ^([0-9]+)\.([0-9]+)$ ]]; then
        IMAGE_VERSION_WORD=$(((10#${BASH_REMATCH[1]} << 8) | 10#${BASH_REMATCH[2]})); UNVERSIONED=0
    else
        log "  $file: version '$version' not understood"; return 1
    fi
    local word=$IMAGE_VERSION_WORD
    [ "$UNVERSIONED" = 1 ] && word=1
    OLDER_INSTALLED=$(version_bytes $((word > 0 ? word - 1 : 0)))
    NEWER_INSTALLED=
    [ "$UNVERSIONED" = 0 ] && [ $((word + 1)) -lt $((0xFFFF)) ] && NEWER_INSTALLED=$(version_bytes $((word + 1)))
    OTHER_TYPE=0x84
    [ $((IMAGE_TYPE)) -eq $((0x84)) ] && OTHER_TYPE=0x83
    log "  firmware: type $IMAGE_TYPE, version $version, last page $IMAGE_LAST_PAGE, $FIRMWARE_HEX"
}
version_bytes() { printf '0x%02X 0x%02X' $(($1 >> 8)) $(($1 & 0xFF)); }

# ---------------------------------------------------------------- checks

check() {  # description, command...
    local what=$1; shift
    if "$@"; then return 0; fi
    log "    FAILED: $what"
    SCENARIO_OK=0
    return 1
}

count() { grep -c -E -- "$1" "$2" 2>/dev/null || true; }
eq() { [ "$1" = "$2" ] || { log "    expected '$2', got '$1'"; return 1; }; }

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
# The height DrawTextW returned when it first drew a text (the static
# controls of a dialog draw theirs with it, wrapping at word breaks): one
# line's height when the text fits the control's width.
drawn_height() {  # text-prefix
    awk -v text="L\"$1" '
        index($0, "Call user32.DrawTextW(") && index($0, text) { split($0, f, ":"); thread[f[1]] = 1; next }
        index($0, "Ret  user32.DrawTextW()") { split($0, f, ":"); if (thread[f[1]]) { sub(/.*retval=/, ""); sub(/ .*/, ""); print; exit } }
    ' "$RELAY"
}
dialog_ret() { printf 'Ret  user32\\.DialogBoxParamW\\(\\) retval=%s ' "$(int_arg "$1")"; }
# The class's small icon: icon 108, IMAGE_ICON, width, height, LR_SHARED.
small_icon_call() { printf 'Call user32\\.LoadImageW\\(%s,%s,%s,%s,%s,%s\\)' "$H" "$(int_arg 6c)" "$(int_arg 1)" "$(int_arg "$1")" "$(int_arg "$2")" "$(int_arg 8000)"; }
# The worker's texts at a position given in hex (at 96 DPI: (a, a) and (a, 28)).
TEXT_WORKING=$(text_call a a 'Working                ' 17)
text_ok() { text_call "$1" "$2" 'OK           ' d; }
text_reboot() { text_call "$1" "$2" 'REBOOT                       ' 1d; }
TEXT_OK=$(text_ok a a)
TEXT_REBOOT=$(text_reboot a 28)
TEXT_ERROR=$(text_call a a 'ERROR            ' 11)
ERROR_BOX=$(box_call Error ' ' 30)
OK_BOX=$(box_call OK ' ' 30)
OLDER_BOX=$(box_call Error Error 4)
UNVERSIONED_BOX=$(box_call Error ' ' 4)

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

# An image without a version makes every update ask first; answered Yes.
# Counts the questions so far: the n-th one is awaited.
answer_unversioned() {  # n
    [ "$UNVERSIONED" = 1 ] || return 0
    wait_relay "$UNVERSIONED_BOX" "$1" 40 && keys_to '^ $' y
}

# The texts drawn into the window, in order, as one line each.
drawn_texts() { grep -o -E 'Call gdi32\.TextOutW\([^)]*\)' "$RELAY" | sed -E 's/.* L"([^"]*)".*/\1/; s/ +$//' | tr '\n' '|'; }
# The texts the window painted again from its record (with ExtTextOutW; the
# worker draws with TextOutW), from line `first` of the trace on.
painted_call() {  # x y text count (hex)
    printf 'Call gdi32\\.ExtTextOutW\\(%s,%s,%s,%s,0+,%s L"%s",%s,0+\\)' "$H" "$(int_arg "$1")" "$(int_arg "$2")" \
        "$(int_arg 0)" "$H" "$3" "$(int_arg "$4")"
}
painted_texts() {  # [first]
    tail -n +"${1:-1}" "$RELAY" | grep -o -E 'Call gdi32\.ExtTextOutW\([^)]*\)' | sed -E 's/.* L"([^"]*)".*/\1/; s/ +$//' |
        tr '\n' '|'
}

# ---------------------------------------------------------------- the window seen from inside

# Sends the main window, with window_message.exe, a close request as the
# close box sends it (close) or makes it paint itself at once as uncovering
# it does (redraw).
window_message() {  # close|redraw
    timeout 30 "$WINE" "$BIN/window_message.exe" "$1" 'Lumaris Update' >>"$DIR/window-message.log" 2>&1
}
main_window_shown() { [ -n "$(timeout 5 xdotool search --onlyvisible --name '^Lumaris Update$' 2>/dev/null)" ]; }
# Pixels that differ between two pictures of the same size (ImageMagick's
# absolute error count); "x" when they cannot be compared.
differing_pixels() { compare -metric AE "$1" "$2" null: 2>&1 | sed -E 's/ .*//' || true; }

# Reads the main window's size, client area, DPI and the small-icon size
# with window_probe.exe into PROBE_WINDOW ("W H"), PROBE_CLIENT,
# PROBE_CLIENT_ORIGIN, PROBE_DPI and PROBE_SMALL_ICON.
probe_window() {
    local out=$DIR/window-probe.txt
    PROBE_WINDOW= PROBE_CLIENT= PROBE_CLIENT_ORIGIN= PROBE_DPI= PROBE_SMALL_ICON=
    timeout 30 $WINE "$BIN/window_probe.exe" 'Lumaris Update' >"$out" 2>&1 || { cat "$out"; return 1; }
    PROBE_WINDOW=$(sed -n 's/^window //p' "$out" | tr -d '\r')
    PROBE_CLIENT=$(sed -n 's/^client //p' "$out" | tr -d '\r')
    PROBE_CLIENT_ORIGIN=$(sed -n 's/^client_origin //p' "$out" | tr -d '\r')
    PROBE_DPI=$(sed -n 's/^dpi //p' "$out" | tr -d '\r')
    PROBE_SMALL_ICON=$(sed -n 's/^small_icon //p' "$out" | tr -d '\r')
    [ -n "$PROBE_CLIENT" ] && [ -n "$PROBE_DPI" ]
}

# The window's size as the X server has it, "W H".
x_window_size() {
    local WIDTH= HEIGHT=
    eval "$(timeout 10 xdotool getwindowgeometry --shell "$MAIN" | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
    printf '%s %s' "$WIDTH" "$HEIGHT"
}

# The window as it is now, texts included: only the mouse moves over it,
# which makes Wine show what was drawn, and nothing is repainted.
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
# The box around the dark pixels of one band of rows of the client area,
# "W H X Y" in client coordinates (empty when the band holds none).
glyph_box() {  # screenshot first-row rows
    local cw ch ox oy
    read -r cw ch <<<"$PROBE_CLIENT"
    read -r ox oy <<<"$PROBE_CLIENT_ORIGIN"
    convert "$1" -crop "${cw}x${3}+${ox}+$((oy + $2))" +repage -colorspace Gray -threshold 50% -negate \
        -bordercolor black -border 1 -trim -format '%w %h %X %Y' info: 2>/dev/null |
        awk -v top="$2" '$1 > 1 { sub(/^\+/, "", $3); sub(/^\+/, "", $4); print $1, $2, $3 - 1, $4 - 1 + top }'
}

# ---------------------------------------------------------------- the frame of a scenario

# Lays out one scenario folder with the program, a library and a scenario
# file, and starts the program from another folder as the current directory.
start_scenario() {  # name library(standin|partial|none) scenario-text
    local name=$1 library=$2
    DIR=$E2E/$PRESET/$name
    RELAY=$DIR/relay.log
    SCENARIO_OK=1
    rm -rf "$DIR"; mkdir -p "$DIR/cwd"
    cp "$PROGRAM_DIR/LumarisUpdate.exe" "$DIR/"
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

# Waits for the program to end without being asked; true when it ended with
# exit code 0.
ends_by_itself() {  # seconds
    local end=$((SECONDS + $1)) code
    while kill -0 "$APP_PID" 2>/dev/null; do
        if [ $SECONDS -ge $end ]; then log "    still running after $1 s"; return 1; fi
        sleep 0.1
    done
    wait "$APP_PID"; code=$?; APP_PID=""
    [ "$code" = 0 ] || { log "    exit code $code"; return 1; }
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

skip_scenario() {  # name reason
    skipped=$((skipped + 1)); log "  $PRESET $1: skipped ($2)"
}

state_has() { grep -q -E "$1" "$DIR/standin-state.txt" 2>/dev/null; }
# The library calls of a call log without their numbers, times and threads,
# and without the receive-queue polls, whose number depends on timing: what
# the device was asked and what it answered, in order.
library_calls() { sed -n -E 's/^#[0-9]+ t=[0-9]+ thread=[0-9]+ //p' "$1"; }
calls_have() { grep -q -E "$1" "$DIR/standin-calls.log" 2>/dev/null; }
one_thread() { [ "$(grep -o -E 'thread=[0-9]+' "$DIR/standin-calls.log" | sort -u | wc -l)" -eq 1 ]; }
