# shellcheck shell=bash
# Sourced by the scripts that build: build steps run with their output kept
# aside, and that output is shown only when a step fails, so that a failing
# build says why (the compiler's or the embedding tool's file:line: error
# lines among it).

# quietly LABEL COMMAND...
# Runs COMMAND with its output in a temporary file. On failure prints
# "LABEL: failed (exit status N): COMMAND" and the whole output on standard
# error, and returns COMMAND's status.
quietly() {
  local label=$1 log status=0
  shift
  log=$(mktemp "${TMPDIR:-/tmp}/lumaris-build.XXXXXX")
  "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    {
      echo "$label: failed (exit status $status): $*"
      cat "$log"
    } >&2
  fi
  rm -f "$log"
  return "$status"
}

# build_quietly LABEL BUILD_DIR TARGET [ARGS for cmake --build...]
# Says "LABEL: building…" on standard error when TARGET is not up to date
# (a build that takes a while), then builds it quietly.
build_quietly() {
  local label=$1 dir=$2 target=$3
  shift 3
  if ! cmake --build "$dir" --target "$target" -- -n 2>/dev/null | grep -q "no work to do"; then
    echo "$label: building…" >&2
  fi
  quietly "$label" cmake --build "$dir" --target "$target" "$@"
}
