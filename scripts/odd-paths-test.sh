#!/usr/bin/env bash
# Runs the native suite's script and Python tests from a copy of the
# checkout whose path holds a space, "__", a quote and a non-ASCII letter,
# with TMPDIR set to a folder named the same way (and a double quote). A
# test or script that splits, rewrites or quotes a path wrongly fails here,
# whatever names the machine's temporary folders happen to get.
#
#   scripts/odd-paths-test.sh
#
# The copy holds the checkout's tracked files as they are in the work tree.
# Only the programs the tests run are built (not the C++ test binary, which
# the native step runs).
set -euo pipefail
cd "$(dirname "$0")/.."

base=$(mktemp -d)
trap 'rm -rf "$base"' EXIT
# CMake cannot configure a source or build folder whose path holds a double
# quote (its generated try-compile project does not parse), so the checkout
# holds the single quote and the temporary folder both.
src="$base/check out a b__c'd é"
tmp="$base/tmp a b__c'd\"e é"
mkdir -p "$src" "$tmp"
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$src"

cd "$src"
export TMPDIR=$tmp
cmake --preset native >/dev/null
cmake --build --preset native --target lumaris-update lumaris_embed_image image_load_dump
# The Python and script tests: every test but the C++ test binary's cases
# and its run under valgrind.
ctest --preset native -j2 -R '^(image_|demo_script|install_deps_script|include_layers|console\.)'
