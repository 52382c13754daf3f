#!/usr/bin/env bash
# Signs PatchUpdate.exe (and any companion exe named after it) in place with Authenticode, using
# Debian's osslsigncode and a certificate the administrator supplies:
#
#   PATCHUPDATE_SIGN_PFX=company.pfx PATCHUPDATE_SIGN_PASSWORD=... \
#   [PATCHUPDATE_TIMESTAMP_URL=http://timestamp.example.com] scripts/sign.sh build/windows/PatchUpdate.exe [more.exe ...]
#
# PATCHUPDATE_SIGN_PFX: a PKCS#12 file holding the code-signing certificate, its chain and private key.
# PATCHUPDATE_SIGN_PASSWORD: its password; handed to osslsigncode through a pipe, never on a command line.
# PATCHUPDATE_TIMESTAMP_URL: an RFC 3161 time-stamp server; with it the signature stays valid after the
# certificate expires. Without it the signature carries no time stamp.
# The debug file beside the exe needs no change: its debuglink checks the debug file, not the exe.
set -euo pipefail

if [ $# -eq 0 ]; then
  sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
: "${PATCHUPDATE_SIGN_PFX:?PATCHUPDATE_SIGN_PFX must name the PFX file}"
: "${PATCHUPDATE_SIGN_PASSWORD?PATCHUPDATE_SIGN_PASSWORD must hold the PFX password (may be empty)}"
[ -f "$PATCHUPDATE_SIGN_PFX" ] || { echo "sign.sh: no PFX file at $PATCHUPDATE_SIGN_PFX" >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is not installed (scripts/setup.sh)" >&2; exit 1; }

timestamp=()
if [ -n "${PATCHUPDATE_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$PATCHUPDATE_TIMESTAMP_URL")
fi

for exe in "$@"; do
  [ -f "$exe" ] || { echo "sign.sh: no file $exe" >&2; exit 1; }
  signed="$exe.signing"
  rm -f "$signed"
  # An exe signed before is signed afresh, not given a second signature.
  if ! osslsigncode sign -pkcs12 "$PATCHUPDATE_SIGN_PFX" -readpass <(printf '%s' "$PATCHUPDATE_SIGN_PASSWORD") \
      -h sha256 -n "Veldorant 14.0 Patch Update Utility" "${timestamp[@]}" -in "$exe" -out "$signed" >/dev/null; then
    rm -f "$signed"
    echo "sign.sh: signing $exe failed" >&2
    exit 1
  fi
  mv -f "$signed" "$exe"
  echo "signed $exe"
done
