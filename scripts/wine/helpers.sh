# shellcheck shell=bash
# Helpers of scripts/wine-tests.sh, sourced by it: the X server, relay
# patterns, driving the window program with xdotool, and the frame every
# scenario runs in. The prefixes, the firmware's facts and `check` come from
# scripts/wine/prefix.sh. The scenario frame works on the target that
# set_window_target names (PRESET, BIN, PROGRAM_DIR, E2E) and counts into
# passed, failed, skipped and failures.
#
# The patterns, texts and probe results set here are read by the scenarios.
# shellcheck disable=SC2034

# shellcheck source=prefix.sh
. "$(dirname "${BASH_SOURCE[0]}")/prefix.sh"

XVFB_PID=""
APP_PID=""
STEP_OK=1
DIR=""
RELAY=""
MAIN=""
WATCH_PID=""

# The build and the programs the scenarios run from now on: PRESET, its
# build's bin/ folder (stand-in library, core tests, window helpers),
# the folder of LumarisUpdate.exe, and the folder for the artifacts.
set_window_target() {  # preset bin-folder program-folder artifacts-folder
    PRESET=$1 BIN=$2 PROGRAM_DIR=$3 E2E=$4
}

# Ends what the window tests started: the program, the Wine servers, Xvfb.
end_window_tests() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
    [ -n "$WATCH_PID" ] && kill "$WATCH_PID" 2>/dev/null
    stop_wine_servers
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
    fi
}

# ---------------------------------------------------------------- X server

start_xvfb() {  # artifacts-folder
    local dir=$1
    local fd_file=$dir/xvfb-display.txt
    : >"$fd_file"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp -noreset 9>"$fd_file" 2>"$dir/xvfb.log" &
    XVFB_PID=$!
    local end=$((SECONDS + 20))
    while [ ! -s "$fd_file" ]; do
        if [ $SECONDS -ge $end ] || ! kill -0 "$XVFB_PID" 2>/dev/null; then
            log "Xvfb did not start"; cat "$dir/xvfb.log"; return 1
        fi
        sleep 0.1
    done
    DISPLAY=:$(tr -d '\n' <"$fd_file")
    export DISPLAY
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
# The same for the probe's "WIDTH HEIGHT" in decimal.
small_icon_call_for() {  # "width height"
    local width height
    read -r width height <<<"$1"
    small_icon_call "$(printf '%x' "$width")" "$(printf '%x' "$height")"
}
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
    local title=$1 w WIDTH='' HEIGHT=''; shift
    w=$(timeout 20 xdotool search --sync --onlyvisible --name "$title" 2>/dev/null | head -1)
    if [ -z "$w" ]; then log "    no window titled /$title/"; return 1; fi
    eval "$(timeout 10 xdotool getwindowgeometry --shell "$w" | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
    timeout 10 xdotool mousemove --window "$w" $((${WIDTH:-100} / 2)) $((${HEIGHT:-100} * 3 / 10)) click 1 &&
        timeout 10 xdotool windowfocus --sync "$w" && timeout 10 xdotool key --delay 80 "$@"
}
menu_update() { keys_to '^Lumaris Update$' alt+f p; }

# Waits until a window of that title is on the screen, then a little
# longer, so that Wine has made it the active window. The relay trace shows
# a box's call before the box is shown: a click into another window in
# between loses to the box when it appears, and the keys meant for that
# window go to the box.
window_shown() {  # title-regex
    [ -n "$(timeout 20 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1)" ] || {
        log "    no window titled /$1/ on the screen"
        return 1
    }
    sleep 0.3
}

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
    PROBE_WINDOW='' PROBE_CLIENT='' PROBE_CLIENT_ORIGIN='' PROBE_DPI='' PROBE_SMALL_ICON=
    timeout 30 "$WINE" "$BIN/window_probe.exe" 'Lumaris Update' >"$out" 2>&1 || { cat "$out"; return 1; }
    PROBE_WINDOW=$(sed -n 's/^window //p' "$out" | tr -d '\r')
    PROBE_CLIENT=$(sed -n 's/^client //p' "$out" | tr -d '\r')
    PROBE_CLIENT_ORIGIN=$(sed -n 's/^client_origin //p' "$out" | tr -d '\r')
    PROBE_DPI=$(sed -n 's/^dpi //p' "$out" | tr -d '\r')
    PROBE_SMALL_ICON=$(sed -n 's/^small_icon //p' "$out" | tr -d '\r')
    [ -n "$PROBE_CLIENT" ] && [ -n "$PROBE_DPI" ]
}

# The main window's client area as a screen reader reads it from another
# process (accessible_probe.exe): its name and its role, "NAME|ROLE". Each
# reading is added to accessible-probe.log.
client_object() {
    local out
    out=$(timeout 30 "$WINE" "$BIN/accessible_probe.exe" 'Lumaris Update' 2>&1 | tr -d '\r')
    printf '%s\n' "$out" >>"$DIR/accessible-probe.log"
    printf '%s|%s' "$(sed -n 's/^name //p' <<<"$out")" "$(sed -n 's/^role //p' <<<"$out")"
}
# A screen reader hears `name` from a status bar (role 23).
screen_reader_hears() { eq "$(client_object)" "$1|23"; }

# accessible_probe.exe --watch in the background (WATCH_PID): the main
# window's announced name changes, one line each, in names-announced.txt.
start_watching_names() {
    timeout 300 "$WINE" "$BIN/accessible_probe.exe" --watch 300 'Lumaris Update' >"$DIR/names-announced.txt" 2>&1 &
    WATCH_PID=$!
    wait_for "$DIR/names-announced.txt" '^watching' 1 30
}
# The names announced so far, in order, each followed by "|".
names_announced() { sed -n 's/^namechange //p' "$DIR/names-announced.txt" | tr -d '\r' | tr '\n' '|'; }
stop_watching_names() {
    [ -n "$WATCH_PID" ] || return 0
    kill "$WATCH_PID" 2>/dev/null; wait "$WATCH_PID" 2>/dev/null; WATCH_PID=""
}

# The window's size as the X server has it, "W H".
x_window_size() {
    local WIDTH='' HEIGHT=
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
    STEP_OK=1
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
    (cd "$DIR/cwd" && exec env WINEDEBUG=-all,+relay "$WINE" "$DIR/LumarisUpdate.exe" >"$DIR/stdout.log" 2>"$RELAY") &
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
    if [ "$STEP_OK" = 1 ]; then
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
