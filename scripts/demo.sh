#!/usr/bin/env bash
# Builds PatchUpdate.exe and shows it at work under Wine: a sample installation (registry keys and a
# Vdt.exe of version 14.0.0.100) and a sample patch package (utility, descriptor for 14.0.0.200,
# installer stand-in), in throwaway Wine prefixes. On 64-bit Windows it runs the utility twice (the
# second run finds the patch applied), then once on a 32-bit Windows machine (Mode 2, the patch
# applied). Pass --keep to keep the prefixes for a look around.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows --parallel "${PATCHUPDATE_BUILD_JOBS:-$(nproc)}" >/dev/null

exec python3 tests/e2e/demo.py --build-dir build/windows/tests/e2e --templates build/wine-templates \
  --utility build/windows/PatchUpdate.exe "$@"
