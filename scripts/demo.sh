#!/usr/bin/env bash
# Builds PatchUpdate.exe and shows it at work under Wine: a sample installation (registry keys and a
# Vdt.exe of version 14.0.0.100) and a sample patch package (utility, descriptor for 14.0.0.200,
# installer stand-in), in throwaway Wine prefixes. On 64-bit Windows it runs the utility twice (the
# second run finds the patch applied), and once on a 32-bit Windows machine (Mode 2, the patch applied).
# Pass --keep to keep the prefixes for a look around.
#
# Lines starting with [m:ss] say which step is running and how long the demo has taken so far. The
# template Wine prefixes (made once per machine and kept in the user's cache, see
# tests/e2e/template_cache.py) are made in the background while the build runs.
set -euo pipefail
cd "$(dirname "$0")/.."
export PATCHUPDATE_STARTED="${PATCHUPDATE_STARTED:-$(date +%s)}"

step() {
  local elapsed=$(($(date +%s) - PATCHUPDATE_STARTED))
  printf '[%d:%02d] %s\n' $((elapsed / 60)) $((elapsed % 60)) "$*"
}

step "set-up: build tools and Wine (scripts/setup.sh)"
scripts/setup.sh

step "template Wine prefixes: made in the background unless the cache has them"
python3 tests/e2e/run_scenario.py --make-template --arch all &
maker=$!
trap 'kill "$maker" 2>/dev/null || true' EXIT

step "building PatchUpdate.exe and the helper programs (cmake --preset windows)"
log=$(mktemp)
if ! { cmake --preset windows && cmake --build --preset windows --parallel "${PATCHUPDATE_BUILD_JOBS:-$(nproc)}"; } \
    >"$log" 2>&1; then
  cat "$log"
  rm -f "$log"
  step "the build failed"
  exit 1
fi
rm -f "$log"
step "build done"

# The demo waits for the templates itself (or makes one the background maker could not).
status=0
python3 tools/demo.py --build-dir build/windows/tests/e2e --utility build/windows/PatchUpdate.exe "$@" || status=$?
wait "$maker" || true
trap - EXIT
exit "$status"
