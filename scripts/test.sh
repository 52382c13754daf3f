#!/usr/bin/env bash
# Builds both presets and runs every test: unit tests on Linux against the fake machine, then the
# end-to-end scenarios with the real PatchUpdate.exe under Wine. Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${PATCHUPDATE_BUILD_JOBS:-$(nproc)}"
started=$SECONDS

scripts/setup.sh

for preset in native windows; do
  echo "== configure and build: $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" --parallel "$jobs"
done

echo "== unit tests (native)"
ctest --preset native

echo "== end-to-end scenarios under Wine (windows)"
ctest --preset windows

echo "== all tests passed in $((SECONDS - started)) s"
