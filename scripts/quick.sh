#!/usr/bin/env bash
# The inner loop while changing code: the native build and its unit tests against the fake machine, no
# apt, no Wine, no static analysis (scripts/test.sh runs everything before a change lands).
#   scripts/quick.sh            every unit test and the Linux report checks
#   scripts/quick.sh PATTERN    only the tests whose name matches PATTERN (a ctest -R regex)
set -euo pipefail
cd "$(dirname "$0")/.."
began=$SECONDS
cmake --preset native >/dev/null
cmake --build --preset native --parallel "$(nproc)"
ctest --preset native --parallel "$(nproc)" -E '^lint\.static_analysis$|^bench\.' ${1:+-R "$1"}
echo "== quick check passed in $((SECONDS - began)) s"
