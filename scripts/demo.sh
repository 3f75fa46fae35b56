#!/usr/bin/env bash
# The main job: builds the console program and updates a simulated device
# with the built-in firmware. Extra arguments go to lumaris-update (try --help).
#
#   scripts/demo.sh [--firmware FILE.hex] [options of lumaris-update]
#
# --firmware FILE.hex builds the program with that firmware instead of
# firmware/demo.hex (it stays in build/demo until another is given). The
# build is quiet when it succeeds; when it fails, its output is shown, with
# the embedding tool's "file:line: error: reason" for a bad firmware file,
# and the script exits with the build's status. LUMARIS_DEMO_BUILD_DIR
# chooses another build folder than build/demo.
set -euo pipefail
caller_dir=$PWD
cd "$(dirname "$0")/.."
# shellcheck source=lib/quietly.sh
source scripts/lib/quietly.sh

firmware=$PWD/firmware/demo.hex
help=0
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --firmware)
      [ $# -ge 2 ] || { echo "demo: --firmware needs a file" >&2; exit 2; }
      firmware=$2; shift 2 ;;
    --firmware=*) firmware=${1#--firmware=}; shift ;;
    -h|--help) help=1; args+=("$1"); shift ;;
    *) args+=("$1"); shift ;;
  esac
done
case "$firmware" in /*) ;; *) firmware=$caller_dir/$firmware ;; esac
[ -f "$firmware" ] || { echo "demo: no firmware file $firmware" >&2; exit 2; }

build=${LUMARIS_DEMO_BUILD_DIR:-build/demo}

scripts/install-deps.sh native
quietly demo cmake --preset native -B "$build" -DLUMARIS_BUILD_TESTS=OFF \
  "-DLUMARIS_FIRMWARE_HEX:FILEPATH=$firmware" -DLUMARIS_FIRMWARE_CHECK=ON
build_quietly demo "$build" lumaris-update

if [ "$help" = 1 ]; then
  cat <<'USAGE'
usage: scripts/demo.sh [--firmware FILE.hex] [options]
  --firmware FILE.hex   build the program with this firmware (default: firmware/demo.hex)
The options are those of the console program:
USAGE
fi
exec "$build/console/lumaris-update" "${args[@]}"
