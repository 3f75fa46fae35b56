#!/usr/bin/env bash
# Builds the benchmark program (Release, preset "bench") and runs it: one
# whole update against the simulated device on the virtual clock and on the
# real clock, the image step and the page checksum. Prints one table in
# Markdown; the raw figures of every repetition go to build/bench/results.json.
# Extra arguments go to the benchmark program (e.g. --benchmark_filter=virtual).
# Takes about three minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native tests

cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target lumaris_bench lumaris_console_bench >/dev/null
build/bench/bench/lumaris_bench --benchmark_out=build/bench/results.json --benchmark_out_format=json "$@"
echo
build/bench/bench/lumaris_console_bench
