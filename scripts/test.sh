#!/usr/bin/env bash
# Checks the tree's form (clang-format, shellcheck), then builds and runs
# every test: native, under AddressSanitizer and
# UndefinedBehaviorSanitizer, both Windows cross-builds, the Windows core
# tests and end-to-end scenarios under Wine, the release zip, and bounded
# fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native tests windows wine release checks
# Every command the steps call answers as its tool, or the run stops here
# with one line naming it, rather than minutes later in the step that needs it.
scripts/install-deps.sh --verify native tests windows wine release checks

step() { printf '\n=== %s\n' "$*"; }

step "format: clang-format over the C++ files, shellcheck over the scripts"
scripts/check-format.sh

step "native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native -j2

step "script and Python tests from a checkout and TMPDIR with odd names"
scripts/odd-paths-test.sh

step "benchmarks build (scripts/bench.sh runs them)"
cmake --preset bench >/dev/null
cmake --build --preset bench

step "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -j2

step "Windows cross-builds (x86, x86-64)"
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

step "Windows: core tests and end-to-end scenarios under Wine"
scripts/wine-tests.sh

step "Windows console program under Wine"
scripts/wine-console-tests.sh

step "release: signed, reproducible, one firmware in every program"
scripts/release-test.sh

step "fuzzing (bounded)"
scripts/fuzz.sh

step "all tests passed"
