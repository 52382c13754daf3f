#!/usr/bin/env bash
# Builds every preset and runs every test: unit tests, cost benchmark and static analysis on Linux
# against the fake machine; the unit tests again with AddressSanitizer and UndefinedBehaviorSanitizer,
# plus a bounded fuzzing run; and the end-to-end scenarios with the real PatchUpdate.exe under Wine, in
# a 64-bit and a 32-bit prefix.
#
# The end-to-end scenarios take longest and mostly wait (on the utility's pauses, on one emulated
# process at a time), so they start as soon as their build is done and run beside the other presets'
# builds and tests; their output comes at the end. The template Wine prefixes (made once per machine,
# kept in the user's cache) are made in the background from the start.
# Lines starting with [m:ss] say which step runs and how long the run has taken so far. At the end: how
# long each step took, and every retry of the end-to-end machinery (a Wine hang the watchdog ended, a
# wineserver that did not start) with its reason. Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
export PATCHUPDATE_STARTED="${PATCHUPDATE_STARTED:-$(date +%s)}"
jobs="${PATCHUPDATE_BUILD_JOBS:-$(nproc)}"
retries=build/windows/tests/e2e/machinery_retries.txt
e2e_log=build/windows/tests/e2e/ctest.log
times=()
maker=
e2e=

step() {
  local elapsed=$(($(date +%s) - PATCHUPDATE_STARTED))
  printf '[%d:%02d] == %s\n' $((elapsed / 60)) $((elapsed % 60)) "$*"
}

# Runs a step in the foreground and notes how long it took.
timed() {
  local name=$1 began=$SECONDS
  shift
  step "$name"
  "$@"
  times+=("$name: $((SECONDS - began)) s")
}

build() {
  cmake --preset "$1" && cmake --build --preset "$1" --parallel "$jobs"
}

finish() {
  local status=$?
  if [ -n "$e2e" ] && kill -0 "$e2e" 2>/dev/null; then
    kill -TERM -- "-$e2e" 2>/dev/null || true  # ctest and the scenarios it runs: their own group
  fi
  if [ -n "$maker" ]; then
    kill "$maker" 2>/dev/null || true
  fi
  if [ -s "$retries" ]; then
    echo "== end-to-end machinery retried (each once; a second failure fails the test):"
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
trap finish EXIT

rm -f "$retries"
timed "set-up (scripts/setup.sh --tests)" scripts/setup.sh --tests

step "template Wine prefixes: made in the background unless the cache has them"
python3 tests/e2e/run_scenario.py --make-template --arch all --retries-file "$retries" &
maker=$!

timed "configure and build: windows" build windows

# In a process group of its own, so that a failure elsewhere can stop it with all its scenarios. The
# scenarios wait for the background template maker, or make a template it could not.
step "end-to-end scenarios under Wine, 64-bit and 32-bit prefixes (windows): started, output in $e2e_log"
e2e_total=$(ctest --preset windows -N | sed -n 's/^Total Tests: //p')
e2e_began=$SECONDS
setsid ctest --preset windows >"$e2e_log" 2>&1 &
e2e=$!

timed "configure and build: native" build native
timed "unit tests, cost benchmark, static analysis (native)" ctest --preset native
timed "configure and build: sanitize" build sanitize
timed "unit tests and fuzzers under AddressSanitizer and UndefinedBehaviorSanitizer (sanitize)" ctest --preset sanitize

step "waiting for the end-to-end scenarios"
last_note=$SECONDS
while kill -0 "$e2e" 2>/dev/null; do
  sleep 2
  if [ $((SECONDS - last_note)) -ge 30 ] && kill -0 "$e2e" 2>/dev/null; then
    step "end-to-end: $(grep -c '^ *[0-9]*/[0-9]* Test *#' "$e2e_log" || true) of $e2e_total tests done"
    last_note=$SECONDS
  fi
done
e2e_status=0
wait "$e2e" || e2e_status=$?
e2e=
cat "$e2e_log"
times+=("end-to-end scenarios (windows), beside the steps above: $((SECONDS - e2e_began)) s")
exit "$e2e_status"
