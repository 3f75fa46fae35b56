# shellcheck shell=bash
# The Wine setup that the window program's and the console program's Wine
# tests share, sourced by both: a log line, the Wine prefixes, the facts of
# the firmware a build embeds, one check that counts a failed step, and the
# end of the Wine servers started. Every function takes what it needs as
# arguments; the values it sets are named in its comment.

# The facts and the STEP_OK flag set here are read by the scripts that source
# this file.
# shellcheck disable=SC2034
WINE_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=../lib/wine32.sh
. "$WINE_LIB_DIR/lib/wine32.sh"

log() { printf '%s\n' "$*"; }

# The prefixes made so far, for stop_wine_servers.
WINE_PREFIXES_MADE=()

# Ends the Wine server of every prefix made.
stop_wine_servers() {
    local prefix
    for prefix in "${WINE_PREFIXES_MADE[@]}"; do
        WINEPREFIX=$prefix timeout 20 wineserver -k 2>/dev/null
        WINEPREFIX=$prefix timeout 20 wineserver -w 2>/dev/null
    done
}

# Sets WINEPREFIX, WINEARCH and WINE for PRESET's prefix in the folder
# PREFIXES (one prefix per preset under it).
use_prefix() {  # preset prefixes-folder
    local preset=$1
    export WINEPREFIX=$2/$preset
    if [ "$preset" = win32 ]; then
        export WINEARCH=win32; WINE=wine
    else
        export WINEARCH=win64
        WINE=/usr/lib/wine/wine64; [ -x "$WINE" ] || WINE=wine64
        export WINELOADER=$WINE
    fi
}

# Makes PRESET's prefix afresh under PREFIXES, with its boot log in
# LOG_DIR: without Mono or Gecko, unmanaged windows (no window manager here;
# managed windows make Wine stall on every close), and a relay trace limited
# to the calls the window scenarios look at. Sets what use_prefix sets.
make_prefix() {  # preset prefixes-folder log-folder
    local preset=$1 log_dir=$3 started=$SECONDS
    use_prefix "$preset" "$2"
    WINE_PREFIXES_MADE+=("$WINEPREFIX")
    timeout 20 wineserver -k 2>/dev/null
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Through the preset's own loader: the wineboot script takes 32-bit
    # Wine whenever it is installed.
    mkdir -p "$log_dir"
    local boot_log=$log_dir/wineboot.log
    if ! { timeout 120 "$WINE" wineboot --init >"$boot_log" 2>&1 && timeout 60 wineserver -w; }; then
        log "wineboot failed:"; tail -5 "$boot_log"; return 1
    fi
    local key
    for key in "Managed N" "Decorated N"; do
        timeout 30 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v "${key% *}" /t REG_SZ /d "${key#* }" /f >/dev/null 2>&1 || return 1
    done
    timeout 30 "$WINE" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
        /d 'user32.MessageBoxW;user32.DialogBoxParamW;gdi32.TextOutW;gdi32.ExtTextOutW;user32.LoadImageW;user32.DrawTextW' /f >/dev/null 2>&1 || return 1
    timeout 60 wineserver -w
    log "Wine prefix $WINEARCH ready in $((SECONDS - started)) s"
}

# Sets the screen's DPI for the programs started from now on.
set_dpi() {  # dpi
    timeout 30 "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1 &&
        timeout 60 wineserver -w
}

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
    IMAGE_TYPE='' IMAGE_LAST_PAGE='' FIRMWARE_HEX=
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

# Runs COMMAND; when it fails, says so and clears STEP_OK, which the step
# (a scenario, a case) set to 1 when it began.
check() {  # description, command...
    local what=$1; shift
    if "$@"; then return 0; fi
    log "    FAILED: $what"
    STEP_OK=0
    return 1
}
