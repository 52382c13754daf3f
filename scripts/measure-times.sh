#!/usr/bin/env bash
# Measures the README's figures for the two commands: scripts/demo.sh and scripts/test.sh, each from a
# clean clone of the committed HEAD, first with empty caches (Wine templates and ccache: cold), then from
# another clean clone with the caches the cold run left (warm); N times (default 3). Prints one line per run: its wall
# time, whether it passed, and the machine's load average just before it.
#
#   scripts/measure-times.sh [--runs N] [demo|test|both]
#
# Clones and caches live in a temporary folder, removed at the end (each run's output is kept in
# /tmp/measure-times.*); the user's own caches are not touched. The tools must be installed
# (scripts/setup.sh). Three runs of both take about an hour on the 2-core development machine; nothing
# else should run meanwhile.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
runs=3
what=both
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    demo | test | both) what=$1; shift ;;
    *) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
logs=$(mktemp -d /tmp/measure-times.XXXX)  # each run's output, kept
failed=0

# measure NAME CACHE SCRIPT: one run of scripts/SCRIPT from a fresh clone with the template cache CACHE.
measure() {
  local name=$1 cache=$2 script=$3 clone="$work/clone" load began status=passed
  rm -rf "$clone"
  git clone -q "$repo" "$clone"
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  began=$SECONDS
  if ! PATCHUPDATE_WINE_TEMPLATES="$cache" CCACHE_DIR="$cache-ccache" "$clone/scripts/$script" >"$logs/${name// /-}.log" 2>&1; then
    status=FAILED
    failed=1
  fi
  printf '%-11s %4d s  (%d:%02d)  %s  load before: %s\n' "$name" $((SECONDS - began)) \
    $(((SECONDS - began) / 60)) $(((SECONDS - began) % 60)) "$status" "$load"
  rm -rf "$clone"
}

echo "$(git -C "$repo" rev-parse --short HEAD), $(nproc) cores, $(uname -r), $(date '+%F %H:%M'); logs in $logs"
for i in $(seq 1 "$runs"); do
  if [ "$what" != test ]; then
    measure "demo cold $i" "$work/cache-demo-$i" demo.sh
    measure "demo warm $i" "$work/cache-demo-$i" demo.sh
  fi
  if [ "$what" != demo ]; then
    measure "test cold $i" "$work/cache-test-$i" test.sh
    measure "test warm $i" "$work/cache-test-$i" test.sh
  fi
done
exit "$failed"
