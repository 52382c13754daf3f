#!/usr/bin/env bash
# Builds every preset and runs every test: unit tests, cost benchmark and static analysis on Linux
# against the fake machine; the unit tests again with AddressSanitizer and UndefinedBehaviorSanitizer,
# plus a bounded fuzzing run; then the end-to-end scenarios with the real PatchUpdate.exe under Wine,
# in a 64-bit and a 32-bit prefix.
#
# Lines starting with [m:ss] say which step is running and how long the run has taken so far. The
# template Wine prefixes (made once per machine and kept in the user's cache) are made in the background
# while the presets build. At the end: how long each step took, and every retry of the end-to-end
# machinery (a Wine hang the watchdog ended, a wineserver that did not start) with its reason.
# Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
export PATCHUPDATE_STARTED="${PATCHUPDATE_STARTED:-$(date +%s)}"
jobs="${PATCHUPDATE_BUILD_JOBS:-$(nproc)}"
retries=build/windows/tests/e2e/machinery_retries.txt
times=()

step() {
  local elapsed=$(($(date +%s) - PATCHUPDATE_STARTED))
  printf '[%d:%02d] == %s\n' $((elapsed / 60)) $((elapsed % 60)) "$*"
}

# Runs a step and notes how long it took.
timed() {
  local name=$1 began=$SECONDS
  shift
  step "$name"
  "$@"
  times+=("$name $((SECONDS - began)) s")
}

summary() {
  local status=$?
  if [ -s "$retries" ]; then
    echo "== end-to-end machinery retried (each once, for this reason):"
    sed 's/^/  /' "$retries"
  else
    echo "== end-to-end machinery retries: none"
  fi
  echo "== times:"
  for entry in "${times[@]}"; do
    echo "  $entry"
  done
  if [ "$status" -eq 0 ]; then
    echo "== all tests passed in $(($(date +%s) - PATCHUPDATE_STARTED)) s"
  else
    echo "== FAILED after $(($(date +%s) - PATCHUPDATE_STARTED)) s"
  fi
}

rm -f "$retries"
timed "set-up (scripts/setup.sh)" scripts/setup.sh

step "template Wine prefixes: made in the background unless the cache has them"
python3 tests/e2e/run_scenario.py --make-template --arch all --retries-file "$retries" &
maker=$!
trap 'kill "$maker" 2>/dev/null || true; summary' EXIT

for preset in native sanitize windows; do
  timed "configure and build: $preset" sh -c "cmake --preset $preset && cmake --build --preset $preset --parallel $jobs"
done

timed "unit tests, cost benchmark, static analysis (native)" ctest --preset native
timed "unit tests and fuzzers under AddressSanitizer and UndefinedBehaviorSanitizer (sanitize)" ctest --preset sanitize
# The end-to-end tests wait for the background maker, or make a template it could not.
timed "end-to-end scenarios under Wine, 64-bit and 32-bit prefixes (windows)" ctest --preset windows
