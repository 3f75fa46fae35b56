#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from
# its committed seed corpus fuzz/corpus/<target without "fuzz_">. Fails when a
# fuzzer finds a crash, a leak, undefined behaviour or a timeout; the input
# that did it is left in build/fuzz/artifacts/<target>/.
#
# Usage: scripts/fuzz.sh [SECONDS_SCALE]   (e.g. 0.1 for a quick try)
set -euo pipefail
cd "$(dirname "$0")/.."

# One line per fuzz target: name and seconds to run.
TARGETS=(
  "fuzz_hex_loader 60"
  "fuzz_device_protocol 60"
  "fuzz_show_log 60"
)

scripts/install-deps.sh native tests
scale="${1:-1}"
build=build/fuzz

cmake --preset fuzz >/dev/null
names=()
for entry in "${TARGETS[@]}"; do names+=("${entry%% *}"); done
cmake --build --preset fuzz -j2 --target "${names[@]}"

for entry in "${TARGETS[@]}"; do
  name="${entry%% *}"
  seconds=$(awk -v s="${entry##* }" -v k="$scale" 'BEGIN { t = int(s * k); print (t < 1 ? 1 : t) }')
  seeds="fuzz/corpus/${name#fuzz_}"
  corpus="$build/corpus/$name"      # grows across runs; never committed
  artifacts="$build/artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  echo "fuzz: $name for ${seconds}s"
  "$build/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "$seeds"
done
echo "fuzz: all targets ran clean"
