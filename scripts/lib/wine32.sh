# shellcheck shell=bash
# Sourced by the scripts that run Windows programs under Wine.
# Whether this machine runs 32-bit Linux programs, which 32-bit Wine is.
# A kernel may be built or booted without them (ia32 emulation off); then
# the loader is there but cannot be executed at all.
runs_32bit_programs() {
    local loader=/usr/lib/wine/wine
    [ -e "$loader" ] || return 0   # not installed: let the prefix step fail and say so
    "$loader" --version >/dev/null 2>&1
    [ $? -ne 126 ]
}
