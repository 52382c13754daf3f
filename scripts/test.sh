#!/usr/bin/env bash
# Builds every preset and runs every test: unit tests, cost benchmark and static analysis on Linux
# against the fake machine; the unit tests again with AddressSanitizer and UndefinedBehaviorSanitizer,
# plus a bounded fuzzing run; then the end-to-end scenarios with the real PatchUpdate.exe under Wine,
# in a 64-bit and a 32-bit prefix.
# Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${PATCHUPDATE_BUILD_JOBS:-$(nproc)}"
started=$SECONDS

scripts/setup.sh

for preset in native sanitize windows; do
  echo "== configure and build: $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" --parallel "$jobs"
done

echo "== unit tests, cost benchmark, static analysis (native)"
ctest --preset native

echo "== unit tests and fuzzers under AddressSanitizer and UndefinedBehaviorSanitizer (sanitize)"
ctest --preset sanitize

echo "== end-to-end scenarios under Wine, 64-bit and 32-bit prefixes (windows)"
ctest --preset windows

echo "== all tests passed in $((SECONDS - started)) s"
