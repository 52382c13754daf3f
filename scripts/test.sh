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

# Where the kernel runs no 32-bit code, setup registered qemu-i386 for it: 32-bit Wine then works, but
# each 32-bit process takes tens of seconds to start. The shipped 32-bit exe then runs the scenarios
# labelled e2e-focused, and its x86-64 twin runs the whole suite.
presets=(native sanitize windows)
emulated=0
if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
  emulated=1
  presets+=(windows-x64)
fi

for preset in "${presets[@]}"; do
  echo "== configure and build: $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" --parallel "$jobs"
done

echo "== unit tests, cost benchmark, static analysis (native)"
ctest --preset native

echo "== unit tests and fuzzers under AddressSanitizer and UndefinedBehaviorSanitizer (sanitize)"
ctest --preset sanitize

if [ "$emulated" -eq 1 ]; then
  echo "== end-to-end scenarios under Wine: the x86-64 twin, 64-bit prefix (windows-x64)"
  ctest --preset windows-x64
  echo "== end-to-end scenarios under Wine: the shipped 32-bit exe, 64-bit and 32-bit prefixes, 32-bit code emulated (windows)"
  ctest --preset windows -L e2e-focused
else
  echo "== end-to-end scenarios under Wine: the shipped 32-bit exe, 64-bit and 32-bit prefixes (windows)"
  ctest --preset windows
fi

echo "== all tests passed in $((SECONDS - started)) s"
