# shellcheck shell=bash
# The relay patterns (box_any, OK_BOX, ...) come from helpers.sh, which the
# caller sources first; ALL_STEPS is read by the caller.
# shellcheck disable=SC2034,SC2153,SC2154
# The end-to-end scenarios of scripts/wine-tests.sh, sourced by it. Each
# runs the program in a folder of its own (start_scenario), drives it with
# keys and checks what it showed and what the device saw. The devices are
# set up from the firmware's facts (load_facts), so a build with other
# firmware runs the same scenarios.

app_device() {
    printf 'device\nmode application\ntype %s\ninstalled %s valid\nflash pattern' "$IMAGE_TYPE" "$OLDER_INSTALLED"
}
# What the device holds after an update: the image's version and the
# application signature, back in its application, switched and run once.
updated_state() {
    printf 'device 0 mode=application present=no signature=0x3DC2 version=0x%04X .* runs=%s switches=%s' \
        "$IMAGE_VERSION_WORD" "$1" "$1"
}
flash_is_image() {
    "${CHECK_FLASH[@]}" programmed "$FIRMWARE_HEX" "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin" "$IMAGE_LAST_PAGE"
}
# File > Update Firmware on a device in application mode, up to "REBOOT";
# the n-th update of the scenario.
run_update() {  # n
    check "Update Firmware from the keyboard" menu_update
    check "no-version question answered Yes" answer_unversioned "$1"
    check "\"OK\" result box" wait_relay "$OK_BOX" "$1" 60
    check "OK box answered" keys_to '^ $' Return
}

scenario_update_ok() {
    start_scenario update-ok standin "$(app_device)" || { finish_scenario; return; }
    run_update 1
    check "\"Working\" drawn" wait_relay "$TEXT_WORKING" 1 30
    check "\"REBOOT\" drawn at (10, 40)" wait_relay "$TEXT_REBOOT" 1 30
    check "\"OK\" drawn at (10, 10)" wait_relay "$TEXT_OK" 1 5
    check "texts in order" eq "$(drawn_texts)" "Working|OK|REBOOT|"
    check "one box per update" eq "$(count "$box_any" "$RELAY")" "$((1 + UNVERSIONED))"
    check "device switched, programmed and started" state_has "$(updated_state 1)"
    check "flash equals the embedded image" flash_is_image
    if [ "$PRESET" = win64 ]; then
        check "handles beyond 32 bits reach the library whole" calls_have 'close handle=0x5A5A000100000000 -> 0'
    fi
    # At 96 DPI the window keeps its size, and the small icon is loaded at
    # the system's small-icon size.
    if check "window probed" probe_window; then
        check "window at 96 DPI" eq "$PROBE_DPI" 96
        check "window 250 x 200" eq "$PROBE_WINDOW" "250 200"
        check "X window as large as the window" eq "$(x_window_size)" "$PROBE_WINDOW"
        check "small icon at the small-icon size ($PROBE_SMALL_ICON)" \
            wait_relay "$(small_icon_call_for "$PROBE_SMALL_ICON")" 1 1
    fi
    check "screenshot taken" screenshot "$DIR/screenshot-update-ok.png"
    check "screenshot shows the texts" has_text_pixels "$DIR/screenshot-update-ok.png"
    [ -n "$PROBE_CLIENT" ] && check "both texts inside the client area" \
        texts_inside_client "$DIR/screenshot-update-ok.png" 10 40
    finish_scenario
}

# The screen at 192 DPI: the window grows with it, the texts are drawn at
# twice their positions, and both lie whole inside the client area.
scenario_high_dpi() {
    if ! set_dpi 192; then skip_scenario high-dpi "LogPixels not set"; return; fi
    start_scenario high-dpi standin "$(app_device)" || { finish_scenario; set_dpi 96; return; }
    run_update 1
    check "\"REBOOT\" drawn at (20, 80)" wait_relay "$(text_reboot 14 50)" 1 30
    check "\"OK\" drawn at (20, 20)" wait_relay "$(text_ok 14 14)" 1 5
    check "texts in order" eq "$(drawn_texts)" "Working|OK|REBOOT|"
    check "device switched, programmed and started" state_has "$(updated_state 1)"
    if check "window probed" probe_window; then
        check "window at 192 DPI" eq "$PROBE_DPI" 192
        check "window 500 x 400" eq "$PROBE_WINDOW" "500 400"
        check "X window as large as the window" eq "$(x_window_size)" "$PROBE_WINDOW"
        check "small icon at the small-icon size ($PROBE_SMALL_ICON)" \
            wait_relay "$(small_icon_call_for "$PROBE_SMALL_ICON")" 1 1
        check "screenshot taken" screenshot "$DIR/screenshot-high-dpi.png"
        check "both texts inside the client area" texts_inside_client "$DIR/screenshot-high-dpi.png" 20 80
    fi
    finish_scenario
    set_dpi 96
}

# "OK" (drawn at row `ok`) and "REBOOT" (at row `reboot`) show whole in the
# client area: each band of rows holds glyphs, both are the same height (both
# words are capitals), neither touches the client area's right or bottom
# edge, and the letters keep their size beside the gap between the two rows
# (at least a quarter of it), so that a font left at 96 DPI's size fails.
texts_inside_client() {  # screenshot ok-row reboot-row
    local cw ch ok_box reboot_box
    read -r cw ch <<<"$PROBE_CLIENT"
    ok_box=$(glyph_box "$1" "$2" $(($3 - $2)))
    reboot_box=$(glyph_box "$1" "$3" $((ch - $3)))
    log "    client ${cw}x$ch; glyphs (w h x y): OK [$ok_box], REBOOT [$reboot_box]"
    if [ -z "$ok_box" ] || [ -z "$reboot_box" ]; then log "    a text shows no glyphs"; return 1; fi
    local ow oh ox rw rh rx ry
    read -r ow oh ox _ <<<"$ok_box"
    read -r rw rh rx ry <<<"$reboot_box"
    [ "$oh" -eq "$rh" ] || { log "    REBOOT's glyphs are not as tall as OK's"; return 1; }
    [ $((oh * 4)) -ge $(($3 - $2)) ] || { log "    letters small beside the rows' gap"; return 1; }
    if [ $((ox + ow)) -ge "$cw" ] || [ $((rx + rw)) -ge "$cw" ]; then log "    a text reaches the right edge"; return 1; fi
    [ $((ry + rh)) -lt "$ch" ] || { log "    REBOOT reaches the bottom edge"; return 1; }
}

scenario_no_device() {
    start_scenario no-device standin "# no device attached" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 30
    check "\"Error\" box on the screen" window_shown '^ $'
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
type $OTHER_TYPE
flash pattern" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 40
    check "Error box answered" keys_to '^ $' Return
    check "\"ERROR\" drawn" wait_relay "$TEXT_ERROR" 1 30
    check "texts in order" eq "$(drawn_texts)" "Working|ERROR|"
    check "one box only" eq "$(count "$box_any" "$RELAY")" 1
    check "nothing programmed" "${CHECK_FLASH[@]}" unchanged "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin"
    check "no run command" test "$(count 'write .* length=1 \[05\]' "$DIR/standin-calls.log")" = 0
    finish_scenario
}

scenario_older_image() {
    if [ -z "$NEWER_INSTALLED" ]; then
        skip_scenario older-image "no version is newer than the image's"; return
    fi
    start_scenario older-image standin "device
mode bootloader
type $IMAGE_TYPE
installed $NEWER_INSTALLED valid
flash pattern" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "older-image question" wait_relay "$OLDER_BOX" 1 40
    check "answered No" keys_to '^Error$' n
    check "question returned IDNO" wait_relay "$(box_ret 7)" 1 15
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    check "texts in order" eq "$(drawn_texts)" "Working|OK|REBOOT|"
    check "one box only" eq "$(count "$box_any" "$RELAY")" 1
    check "nothing programmed" "${CHECK_FLASH[@]}" unchanged "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin"
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
    # The second line names the firmware and the build within its 114 x 8
    # dialog units: drawn on one line, as high as the first.
    local first second
    first=$(drawn_height 'Lumaris Firmware Update v1.00')
    second=$(drawn_height "Firmware $IMAGE_VERSION_TEXT ")
    check "second line drawn on one line (heights ${first:-none} and ${second:-none})" \
        test -n "$first" -a "$second" = "$first"
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
    start_scenario second-command standin "$(app_device)
reboot-delay 10" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "worker running" wait_for "$DIR/standin-calls.log" 'device-count' 1 30
    check "Update Firmware again during the run" menu_update
    check "no-version question answered Yes" answer_unversioned 1
    check "\"OK\" result box" wait_relay "$OK_BOX" 1 60
    check "OK box answered" keys_to '^ $' Return
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    check "one run: one \"Working\"" eq "$(count "$TEXT_WORKING" "$RELAY")" 1
    check "one run: its boxes only" eq "$(count "$box_any" "$RELAY")" "$((1 + UNVERSIONED))"
    check "one run: all library calls from one thread" one_thread
    # Once the run has ended, the command starts a new one, and the device
    # (back in its application) is updated again from the same embedded image.
    run_update 2
    check "second \"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 2 30
    check "device started twice" state_has 'runs=2 switches=2'
    check "flash still equals the embedded image" flash_is_image
    finish_scenario
}

# Two devices: the first, in its application, is switched and comes back
# only after the 2,000 ms wait; the second sits in its bootloader all along.
# The second discovery counts one device fewer than the first: the
# bootloader it sees is the bystander, which must not get the update.
# Nothing is written after the mode switch, the run ends in "ERROR", and
# no "OK" appears.
scenario_bystander() {
    start_scenario bystander standin "$(app_device)
reboot-delay 3000
device
mode bootloader
type $IMAGE_TYPE
flash pattern" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 40
    check "Error box answered" keys_to '^ $' Return
    check "\"ERROR\" drawn" wait_relay "$TEXT_ERROR" 1 30
    check "texts in order" eq "$(drawn_texts)" "Working|ERROR|"
    check "one box only, no \"OK\"" eq "$(count "$box_any" "$RELAY")" 1
    check "the mode switch is the one packet written" \
        eq "$(grep -c ' write ' "$DIR/standin-calls.log")|$(count ' write .* length=32 \[00 16 A8 ' "$DIR/standin-calls.log")" "1|1"
    check "no device opened after the restart wait" eq "$(count ' open ' "$DIR/standin-calls.log")" 1
    check "switched device untouched" "${CHECK_FLASH[@]}" unchanged "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin"
    check "bystander untouched" "${CHECK_FLASH[@]}" unchanged "$DIR/standin-flash-1.initial.bin" "$DIR/standin-flash-1.bin"
    check "the bystander got no command at all" state_has 'device 1 mode=bootloader .* erased=0 halves=0 checksums=0 runs=0 switches=0'
    finish_scenario
}

# One device, in its application, is switched; 500 ms into the restart wait
# a second device, already in its bootloader, is plugged in and takes bus
# index 0. The second discovery counts one device more than the first: the
# first bootloader may be the newcomer, so the run ends as a failed
# discovery, with that count as its last library call: nothing is opened
# after the restart wait and nothing is written to either device.
scenario_arrival_during_restart() {
    start_scenario arrival-during-restart standin "device
mode bootloader
type $IMAGE_TYPE
flash pattern
arrives-after-restart 500
$(app_device)
reboot-delay 300" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 40
    check "Error box answered" keys_to '^ $' Return
    check "\"ERROR\" drawn" wait_relay "$TEXT_ERROR" 1 30
    check "texts in order" eq "$(drawn_texts)" "Working|ERROR|"
    check "one box only, no \"OK\"" eq "$(count "$box_any" "$RELAY")" 1
    check "the mode switch is the one packet written" \
        eq "$(grep -c ' write ' "$DIR/standin-calls.log")|$(count ' write .* length=32 \[00 16 A8 ' "$DIR/standin-calls.log")" "1|1"
    check "after the switch's close, one count of two devices and no other call" \
        eq "$(library_calls "$DIR/standin-calls.log" | sed -n '/^close /,$p' | tail -n +2 | sed -E 's/ -> .*//' | tr '\n' '|')" \
        "device-count count=2|"
    check "newcomer untouched" "${CHECK_FLASH[@]}" unchanged "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin"
    check "switched device untouched" "${CHECK_FLASH[@]}" unchanged "$DIR/standin-flash-1.initial.bin" "$DIR/standin-flash-1.bin"
    check "the newcomer got no command at all" state_has 'device 0 mode=bootloader .* erased=0 halves=0 checksums=0 runs=0 switches=0'
    finish_scenario
}

# The library is found only beside the program or in the system folder; one
# in the current directory is not loaded.
scenario_library_in_cwd_only() {
    start_scenario library-in-cwd-only none "$(app_device)" || { finish_scenario; return; }
    cp "$BIN/SiUSBXp.dll" "$DIR/cwd/"
    check "Update Firmware" menu_update
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 30
    check "Error box answered" keys_to '^ $' Return
    check "Error box closed" wait_relay "$(box_ret 1)" 1 15
    check "library in the current directory never loaded" test ! -e "$DIR/cwd/standin-calls.log"
    check "log: no-library, the paths looked at named" \
        support_log_run_is --problem "SiUSBXp.dll was not found: looked for" no-library unknown
    finish_scenario
}

# A library without ordinal 12 is not bound at all: no call reaches it.
scenario_partial_library() {
    start_scenario partial-library partial "$(app_device)" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 30
    check "Error box answered" keys_to '^ $' Return
    check "Error box closed" wait_relay "$(box_ret 1)" 1 15
    check "no call reached the partial library" test ! -e "$DIR/standin-calls.log"
    check "log: no-library, the missing ordinal named" support_log_run_is --problem "lacks ordinal 12" no-library unknown
    finish_scenario
}

# A device whose update lasts some 4 s (each reply 10 ms late): long enough
# to act in the middle of its programming.
slow_app_device() { printf '%s\nreply-delay 10' "$(app_device)"; }
# Half pages written so far (two per page).
halves_written() { count 'write .* length=258 \[03 ' "$DIR/standin-calls.log"; }

# The library calls of a plain update of a slow device (File > Update
# Firmware, its boxes answered, File > Exit afterwards), run once per preset
# and kept in PLAIN_UPDATE_CALLS: what a scenario that does something else in
# the middle of an update compares its own calls with.
PLAIN_UPDATE_CALLS=""
plain_update_calls() {
    local file=$E2E/$PRESET/plain-update.calls
    [ "$PLAIN_UPDATE_CALLS" = "$file" ] && return 0
    start_scenario plain-update standin "$(slow_app_device)" || { stop_program; return 1; }
    run_update 1
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    stop_program
    check "device switched, programmed and started" state_has "$(updated_state 1)"
    [ "$STEP_OK" = 1 ] || { log "    the plain update failed"; return 1; }
    library_calls "$DIR/standin-calls.log" >"$file" && PLAIN_UPDATE_CALLS=$file
}
same_calls_as_plain_update() {
    local own=$DIR/library.calls
    library_calls "$DIR/standin-calls.log" >"$own"
    diff -q "$own" "$PLAIN_UPDATE_CALLS" >/dev/null && return 0
    log "    first differences from a plain update ($PLAIN_UPDATE_CALLS):"
    diff "$PLAIN_UPDATE_CALLS" "$own" | head -6 | cut -c1-160 | sed 's/^/      /'
    return 1
}

# A close request while the device's flash is being written (the close box,
# or File > Exit): the program keeps running, the update goes on to its end
# exactly as a plain update does, and then the program ends by itself with
# exit code 0.
scenario_close_during_programming() {  # name close-box|file-exit
    local name=$1 how=$2 before
    if ! plain_update_calls; then
        failed=$((failed + 1)); failures+=("$PRESET $name (no plain update to compare with)"); return
    fi
    start_scenario "$name" standin "$(slow_app_device)" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "no-version question answered Yes" answer_unversioned 1
    check "programming under way (10 pages written)" wait_for "$DIR/standin-calls.log" 'write .* length=258 \[03 ' 20 60
    case $how in
        close-box) check "close box (WM_CLOSE) during programming" window_message close ;;
        file-exit) check "File > Exit during programming" keys_to '^Lumaris Update$' alt+f x ;;
    esac
    before=$(halves_written)
    sleep 0.5
    check "the program runs on after the request" kill -0 "$APP_PID"
    check "its window stays" main_window_shown
    check "programming goes on (past $before halves)" wait_for "$DIR/standin-calls.log" 'write .* length=258 \[03 ' \
        $((before + 4)) 30
    check "\"OK\" result box" wait_relay "$OK_BOX" 1 60
    check "OK box answered" keys_to '^ $' Return
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    check "the program ends by itself, exit code 0" ends_by_itself 30
    [ -n "$APP_PID" ] && { kill "$APP_PID" 2>/dev/null; wait "$APP_PID" 2>/dev/null; APP_PID=""; }
    timeout 20 wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null
    check "texts in order" eq "$(drawn_texts)" "Working|OK|REBOOT|"
    check "one box per update" eq "$(count "$box_any" "$RELAY")" "$((1 + UNVERSIONED))"
    check "device switched, programmed and started" state_has "$(updated_state 1)"
    check "flash equals the embedded image" flash_is_image
    check "the library was called as in a plain update" same_calls_as_plain_update
    check "all library calls from one thread" one_thread
    check "no call broke the library's rules" no_violation
    record_result
}

# The window paints the worker's texts again: after a run, a repaint shows
# "OK" and "REBOOT" exactly as the worker drew them. In the next run a
# repaint after its "Working" shows that alone: nothing of the last run.
scenario_repaint() {
    # The device is back in its application 10 ms after it starts it, ready
    # for the second run.
    start_scenario repaint standin "$(slow_app_device)
reboot-delay 10" || { finish_scenario; return; }
    run_update 1
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    check "window probed" probe_window
    check "the worker's texts shot" screenshot "$DIR/drawn.png"
    local first
    first=$(($(wc -l <"$RELAY") + 1))
    check "repaint asked for" window_message redraw
    check "\"REBOOT\" painted again at (10, 40)" wait_relay "$(painted_call a 28 'REBOOT                       ' 1d)" 1 15
    check "painted: \"OK\" and \"REBOOT\", once each" eq "$(painted_texts "$first")" "OK|REBOOT|"
    check "the repaint shot" screenshot "$DIR/repainted.png"
    check "the repaint shows the texts" has_text_pixels "$DIR/repainted.png"
    check "it shows them as the worker drew them (pixels that differ)" \
        eq "$(differing_pixels "$DIR/drawn.png" "$DIR/repainted.png")" 0
    [ -n "$PROBE_CLIENT" ] && check "both texts inside the client area" texts_inside_client "$DIR/repainted.png" 10 40

    check "Update Firmware again" menu_update
    check "no-version question answered Yes" answer_unversioned 2
    check "second \"Working\"" wait_relay "$TEXT_WORKING" 2 30
    first=$(($(wc -l <"$RELAY") + 1))
    check "repaint asked for during the second run" window_message redraw
    check "\"Working\" painted again" wait_relay "$(painted_call a a 'Working                ' 17)" 1 15
    sleep 0.3
    check "painted: \"Working\" alone" eq "$(painted_texts "$first")" "Working|"
    check "the second run's repaint shot" screenshot "$DIR/second-run.png"
    if [ -n "$PROBE_CLIENT" ]; then
        local ch=${PROBE_CLIENT#* }
        check "no glyph below \"Working\" (rows 30 and down)" eq "$(glyph_box "$DIR/second-run.png" 30 $((ch - 30)))" ""
    fi
    check "second \"OK\" result box" wait_relay "$OK_BOX" 2 60
    check "OK box answered" keys_to '^ $' Return
    check "second \"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 2 30
    check "device started twice" state_has 'runs=2 switches=2'
    finish_scenario
}

# What a screen reader hears, read from another process: the client area is
# a status bar named by the status the window shows, before an update,
# while a box is up, after "ERROR", while pages are written and after "OK"
# and "REBOOT"; each change is announced once (EVENT_OBJECT_NAMECHANGE),
# the pages not at all. The first run ends in "ERROR": the switched device
# is back only after 3 s, past the 2 s wait. It comes back in its
# bootloader, and the second run programs it, each reply 10 ms late. The
# second run is started and the program ended with the menu's letters typed
# one at a time (Alt, F, P and Alt, F, X), as without a mouse.
scenario_screen_reader() {
    start_scenario screen-reader standin "$(slow_app_device)
reboot-delay 3000" || { finish_scenario; return; }
    check "before an update: an empty status bar" screen_reader_hears ""
    check "name changes watched from another process" start_watching_names
    check "Update Firmware" menu_update
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 40
    check "while the box is up: \"Working\"" screen_reader_hears "Working"
    check "Error box answered" keys_to '^ $' Return
    check "\"ERROR\" drawn" wait_relay "$TEXT_ERROR" 1 30
    check "after the failed run: \"ERROR\"" screen_reader_hears "ERROR"
    # The device is back 3 s after its switch, which the box came 2 s after.
    sleep 1.5
    # As a screen reader's user would type it: Alt, F, P, one key at a time.
    check "Update Firmware again by Alt, F, P" keys_to '^Lumaris Update$' alt f p
    check "no-version question answered Yes" answer_unversioned 1
    check "pages being written (10 of them)" wait_for "$DIR/standin-calls.log" 'write .* length=258 \[03 ' 20 60
    check "while pages are written: \"Working\"" screen_reader_hears "Working"
    check "\"OK\" result box" wait_relay "$OK_BOX" 1 60
    check "OK box answered" keys_to '^ $' Return
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    check "after the update: \"OK REBOOT\"" screen_reader_hears "OK REBOOT"
    check "texts in order" eq "$(drawn_texts)" "Working|ERROR|Working|OK|REBOOT|"
    check "the last change announced" wait_for "$DIR/names-announced.txt" '^namechange OK REBOOT' 1 15
    # The second run's start empties the window: that is a change too.
    check "each change announced once, no page" eq "$(names_announced)" "Working|ERROR||Working|OK REBOOT|"
    check "File > Exit by Alt, F, X" keys_to '^Lumaris Update$' alt f x
    check "the program ends, exit code 0" ends_by_itself 20
    [ -n "$APP_PID" ] && { kill "$APP_PID" 2>/dev/null; wait "$APP_PID" 2>/dev/null; APP_PID=""; }
    stop_watching_names
    timeout 20 wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null
    check "device programmed and started" state_has "$(updated_state 1)"
    check "flash equals the embedded image" flash_is_image
    check "no call broke the library's rules" no_violation
    record_result
}

# ---------------------------------------------------------------- the support log

CHECK_SUPPORT_LOG=(/usr/bin/python3 "$ROOT/scripts/wine/check_support_log.py")
# The log's folder in the prefix's local application data
# (FOLDERID_LocalAppData), and the log in it.
support_log_folder() { printf '%s/drive_c/users/%s/AppData/Local/Lumaris Update' "$WINEPREFIX" "$(id -un)"; }
support_log() { printf '%s/support-log.jsonl' "$(support_log_folder)"; }
# The log of the scenario's run, checked as check_support_log.py says, and
# kept with the scenario's artifacts.
support_log_run_is() {  # [--after COPY] [--failure PAGE CAUSE] outcome device-state
    cp "$(support_log)" "$DIR/support-log.jsonl" 2>/dev/null
    "${CHECK_SUPPORT_LOG[@]}" "$(support_log)" run "$@"
}
# What the log holds before the scenario's run, for --after.
keep_support_log() {
    mkdir -p "$(support_log_folder)"
    touch "$(support_log)"
    cp "$(support_log)" "$DIR/support-log.before.jsonl"
}

# The erase reply of the signature page (erased first) comes 2 s late: the
# run fails before any page is written. The screen says "ERROR", and the log
# says why: the failure names that page and no-reply, and the run ends with a
# result that says what the device holds now.
scenario_support_log_failure() {
    rm -rf "$(support_log_folder)"
    start_scenario support-log-failure standin "device
mode bootloader
type $IMAGE_TYPE
installed $OLDER_INSTALLED valid
flash pattern
erase-delay 2000" || { finish_scenario; return; }
    check "Update Firmware" menu_update
    check "no-version question answered Yes" answer_unversioned 1
    check "\"Error\" box" wait_relay "$ERROR_BOX" 1 40
    check "Error box answered" keys_to '^ $' Return
    # The first box gone before the second is looked for: both have one title.
    check "first Error box closed" wait_relay "$(box_ret 1)" 1 15
    check "second \"Error\" box (the caller's)" wait_relay "$ERROR_BOX" 2 15
    check "second Error box answered" keys_to '^ $' Return
    check "\"ERROR\" drawn" wait_relay "$TEXT_ERROR" 1 30
    check "texts in order" eq "$(drawn_texts)" "Working|ERROR|"
    check "no run command" test "$(count 'write .* length=1 \[05\]' "$DIR/standin-calls.log")" = 0
    check "log: the erase of page $IMAGE_LAST_PAGE had no reply; the run ended as \"ERROR\"" \
        support_log_run_is --failure "$IMAGE_LAST_PAGE" no-reply programming-failed no-valid-application
    finish_scenario
}

# A good run adds its run to what the log held, and says the device runs
# the image.
scenario_support_log_update() {
    start_scenario support-log-update standin "$(app_device)" || { finish_scenario; return; }
    keep_support_log
    run_update 1
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    check "texts in order" eq "$(drawn_texts)" "Working|OK|REBOOT|"
    check "device switched, programmed and started" state_has "$(updated_state 1)"
    check "log: one run more, the device runs the image" \
        support_log_run_is --after "$DIR/support-log.before.jsonl" updated runs-image
    finish_scenario
}

# A No to the older-image question: the screen says "OK" and "REBOOT" as
# after an update; the log says the update was declined.
scenario_support_log_declined() {
    if [ -z "$NEWER_INSTALLED" ]; then
        skip_scenario support-log-declined "no version is newer than the image's"; return
    fi
    start_scenario support-log-declined standin "device
mode bootloader
type $IMAGE_TYPE
installed $NEWER_INSTALLED valid
flash pattern" || { finish_scenario; return; }
    keep_support_log
    check "Update Firmware" menu_update
    check "older-image question" wait_relay "$OLDER_BOX" 1 40
    check "answered No" keys_to '^Error$' n
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    check "texts in order" eq "$(drawn_texts)" "Working|OK|REBOOT|"
    check "nothing programmed" "${CHECK_FLASH[@]}" unchanged "$DIR/standin-flash-0.initial.bin" "$DIR/standin-flash-0.bin"
    check "log: one run more, declined, the device keeps its application" \
        support_log_run_is --after "$DIR/support-log.before.jsonl" declined kept-application
    finish_scenario
}

# A file where the log's folder should be: no log, and the update runs as
# it does without one: the same texts, boxes, library calls and flash.
scenario_support_log_blocked() {
    if ! plain_update_calls; then
        failed=$((failed + 1)); failures+=("$PRESET support-log-blocked (no plain update to compare with)"); return
    fi
    local folder
    folder=$(support_log_folder)
    rm -rf "$folder"
    mkdir -p "$(dirname "$folder")"
    printf 'not a folder\n' >"$folder"
    start_scenario support-log-blocked standin "$(slow_app_device)" || { finish_scenario; rm -f "$folder"; return; }
    run_update 1
    check "\"REBOOT\" drawn" wait_relay "$TEXT_REBOOT" 1 30
    stop_program
    check "texts in order" eq "$(drawn_texts)" "Working|OK|REBOOT|"
    check "one box per update" eq "$(count "$box_any" "$RELAY")" "$((1 + UNVERSIONED))"
    check "device switched, programmed and started" state_has "$(updated_state 1)"
    check "flash equals the embedded image" flash_is_image
    check "the library was called as in a plain update" same_calls_as_plain_update
    check "the file is left as it was" eq "$(cat "$folder")" "not a folder"
    check "no call broke the library's rules" no_violation
    record_result
    rm -f "$folder"
}

core_tests() {
    local exe=$BIN/lumaris_tests.exe out=$E2E/$PRESET/core-tests.log
    if [ ! -f "$exe" ]; then
        log "  $PRESET core tests: $exe missing"; failed=$((failed + 1)); failures+=("$PRESET core tests"); return
    fi
    log "  $PRESET core tests"
    local began=$SECONDS
    # From its own folder, so that nothing depends on the caller's directory.
    if (cd "$BIN" && timeout 600 "$WINE" "$exe" --gtest_brief=1 >"$out" 2>&1); then
        passed=$((passed + 1)); log "    ok: $(grep -E '^\[  PASSED  \]' "$out") ($((SECONDS - began)) s)"
    else
        failed=$((failed + 1)); failures+=("$PRESET core tests"); tail -40 "$out"
    fi
}

# The program, the library and its scenario in a folder named in characters
# that no ANSI code page holds, the device's flash read from a copy of the
# firmware's HEX file beside the scenario: the library must find its
# scenario, read the HEX file and write its log there, and the update runs as
# anywhere else. The device starts with the image's pages (from the HEX
# file) and an older installed version.
scenario_non_ascii_folder() {
    local saved_locale=${LC_ALL-}
    export LC_ALL=C.UTF-8  # Wine takes the environment's paths in the locale's characters
    start_scenario "Prüfplatz Ω 1" standin "$(printf 'device\nmode application\ntype %s\ninstalled %s valid\nflash hex firmware.hex' \
        "$IMAGE_TYPE" "$OLDER_INSTALLED")"
    cp "$FIRMWARE_HEX" "$DIR/firmware.hex"
    if [ -n "$MAIN" ]; then
        run_update 1
        check "\"REBOOT\" drawn at (10, 40)" wait_relay "$TEXT_REBOOT" 1 30
        check "the library wrote its call log in the folder" test -s "$DIR/standin-calls.log"
        check "device switched, programmed and started" state_has "$(updated_state 1)"
        check "flash equals the embedded image" flash_is_image
        check "the device started from the HEX file (page 10 as the image's)" cmp -s \
            <(dd if="$DIR/standin-flash-0.initial.bin" bs=512 skip=10 count=1 2>/dev/null) \
            <(dd if="$DIR/standin-flash-0.bin" bs=512 skip=10 count=1 2>/dev/null)
    fi
    finish_scenario
    if [ -n "$saved_locale" ]; then export LC_ALL=$saved_locale; else unset LC_ALL; fi
}

# Every step a run can take, in the order of a full run.
ALL_STEPS=(core-tests update-ok no-device refused-image older-image about second-command
           library-in-cwd-only partial-library high-dpi close-box file-exit repaint screen-reader bystander
           arrival-during-restart non-ascii-folder support-log-failure support-log-update support-log-declined support-log-blocked)

run_step() {  # step name
    case $1 in
        core-tests) core_tests ;;
        update-ok) scenario_update_ok ;;
        no-device) scenario_no_device ;;
        refused-image) scenario_refused_image ;;
        older-image) scenario_older_image ;;
        about) scenario_about ;;
        second-command) scenario_second_command ;;
        library-in-cwd-only) scenario_library_in_cwd_only ;;
        partial-library) scenario_partial_library ;;
        high-dpi) scenario_high_dpi ;;
        close-box) scenario_close_during_programming close-box close-box ;;
        file-exit) scenario_close_during_programming file-exit file-exit ;;
        repaint) scenario_repaint ;;
        screen-reader) scenario_screen_reader ;;
        bystander) scenario_bystander ;;
        arrival-during-restart) scenario_arrival_during_restart ;;
        non-ascii-folder) scenario_non_ascii_folder ;;
        support-log-failure) scenario_support_log_failure ;;
        support-log-update) scenario_support_log_update ;;
        support-log-declined) scenario_support_log_declined ;;
        support-log-blocked) scenario_support_log_blocked ;;
        *) return 1 ;;
    esac
}
