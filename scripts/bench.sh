#!/usr/bin/env bash
# Builds the benchmark program (Release, preset "bench") and runs it: one
# whole update against the simulated device on the virtual clock and on the
# real clock, the image step and the page checksum; the console program's
# own work; and --show-log on a 100 MB log beside jq. Prints tables in
# Markdown; the raw figures of every repetition go to build/bench/results.json.
# Extra arguments go to the benchmark program (e.g. --benchmark_filter=virtual).
# Takes about three minutes. The build is quiet when it succeeds; when it
# fails, its output is shown.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=lib/quietly.sh
source scripts/lib/quietly.sh

scripts/install-deps.sh native tests bench

quietly bench cmake --preset bench
build_quietly bench build/bench lumaris_bench -j2
build_quietly bench build/bench lumaris_console_bench -j2
build/bench/bench/lumaris_bench --benchmark_out=build/bench/results.json --benchmark_out_format=json "$@"
echo
build/bench/bench/lumaris_console_bench
echo
build_quietly bench build/bench lumaris-update -j2
/usr/bin/python3 bench/show_log_bench.py build/bench/console/lumaris-update
