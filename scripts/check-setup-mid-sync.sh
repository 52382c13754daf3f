#!/usr/bin/env bash
# Runs scripts/setup.sh as on a fresh machine whose mirror is in the middle of a sync: the security
# suite's i386 index can't be fetched (its source points where nothing answers), so amd64 packages of
# the security suite have no i386 twin of the same version. setup.sh must warn about the index, fall
# back to the base suite's versions, say so in one line, and install every tool all the same.
#
# Nothing on this machine changes: apt and dpkg work in a throwaway folder (their own sources, index
# lists and cache, and a copy of dpkg's database without the project's tools, the packages they pulled
# in and the i386 architecture) and apt only simulates the installation (APT::Get::Simulate). The index
# lists are downloaded afresh into that folder. Run as root (setup.sh calls apt-get, which wants it).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "check-setup-mid-sync: run as root (sudo keeps the throwaway apt settings away from apt-get)" >&2
  exit 2
fi
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "check-setup-mid-sync: no VERSION_CODENAME in /etc/os-release" >&2; exit 2; }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/sources" "$root/lists/partial" "$root/cache/archives/partial" "$root/dpkg/updates"

# The machine's own Debian mirrors, when it names them in deb822 form.
uri() { awk -v want="$1" '/^URIs:/ { for (i = 2; i <= NF; i++) if (($i ~ /security/) == want) { print $i; exit } }' \
  /etc/apt/sources.list.d/*.sources 2>/dev/null || true; }
mirror=$(uri 0)
security=$(uri 1)
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
cat >"$root/sources/debian.sources" <<EOF
Types: deb
URIs: ${mirror:-http://deb.debian.org/debian}
Suites: $codename $codename-updates
Components: main
Signed-By: $keyring

Types: deb
URIs: ${security:-http://deb.debian.org/debian-security}
Suites: $codename-security
Components: main
Architectures: amd64
Signed-By: $keyring

Types: deb
URIs: http://127.0.0.1:9/debian-security
Suites: $codename-security
Components: main
Architectures: i386
Signed-By: $keyring
EOF

# The machine as it was before setup.sh: without the project's packages and what they pulled in (what
# apt would purge with them), and without the i386 architecture. python3 and openssl stay: a Debian
# machine has them, and much else depends on them.
packages=$(sed -n '/^packages=(/,/^)/p' scripts/setup.sh | sed '1d;$d')
# shellcheck disable=SC2046,SC2086  # one package name a word
gone=$(apt-get -s --auto-remove purge $(printf '%s\n' $packages | grep -vx 'python3\|openssl') |
  awk '/^Purg / { print $2 }')
cp /var/lib/dpkg/status "$root/dpkg/status"
# shellcheck disable=SC2086
python3 - "$root/dpkg/status" $gone <<'PY'
import sys
path, gone = sys.argv[1], set(sys.argv[2:])
stanzas = open(path, encoding="utf-8").read().split("\n\n")
def name(stanza):
    fields = dict(line.split(": ", 1) for line in stanza.splitlines() if ": " in line and not line.startswith(" "))
    arch = fields.get("Architecture", "")
    return fields.get("Package", ""), arch
kept = [s for s in stanzas if s.strip() and name(s)[1] != "i386" and name(s)[0] not in gone
        and f"{name(s)[0]}:{name(s)[1]}" not in gone]
open(path, "w", encoding="utf-8").write("\n\n".join(kept) + "\n")
PY
printf 'amd64\n' >"$root/dpkg/arch"

cat >"$root/apt.conf" <<EOF
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$root/sources";
Dir::State::Lists "$root/lists";
Dir::State::status "$root/dpkg/status";
Dir::State::extended_states "$root/extended_states";
Dir::Cache "$root/cache";
APT::Get::Simulate "true";
EOF

echo "check-setup-mid-sync: removed from the simulated machine: $(echo "$gone" | wc -w) packages and the i386 architecture"
echo "check-setup-mid-sync: running scripts/setup.sh with the $codename-security i386 index out of reach"
log="$root/setup.log"
status=0
APT_CONFIG="$root/apt.conf" DPKG_ADMINDIR="$root/dpkg" scripts/setup.sh 2>&1 | tee "$log" || status=$?

problems=()
[ "$status" -eq 0 ] || problems+=("setup.sh ended with $status")
grep -q '^setup: warning: apt-get update could not fetch every index' "$log" ||
  problems+=("no warning about the index that could not be fetched")
grep -q "^setup: the two architectures' package versions disagree" "$log" ||
  problems+=("no line about the fallback to $codename's versions")
installed=$(awk '$1 == "Inst" { print $2 }' "$log")
for package in $packages; do
  if ! grep -qxF "$package" <<<"$installed" &&
      ! DPKG_ADMINDIR="$root/dpkg" dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    problems+=("$package was not installed")
  fi
done
if [ "${#problems[@]}" -gt 0 ]; then
  printf 'check-setup-mid-sync: FAIL: %s\n' "${problems[@]}"
  exit 1
fi
echo "check-setup-mid-sync: passed: the failed index was a warning, the version skew was installed from" \
  "$codename's versions, and all $(echo "$packages" | wc -w) tools were installed (simulated)"
