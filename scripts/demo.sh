#!/usr/bin/env bash
# The main job: builds the console program and updates a simulated device
# with the built-in firmware. Extra arguments go to lumaris-update (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native
cmake --preset native -B build/demo -DLUMARIS_BUILD_TESTS=OFF >/dev/null
cmake --build build/demo --target lumaris-update >/dev/null
exec build/demo/app/lumaris-update "$@"
