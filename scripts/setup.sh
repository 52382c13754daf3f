#!/usr/bin/env bash
# Installs the build and test tools (Debian 12). Idempotent: touches apt only when a package is missing.
# `setup.sh --tests` adds what only scripts/test.sh needs.
# scripts/check-setup-mid-sync.sh runs it as on a fresh machine whose mirror is mid-sync (simulated).
# Wine needs its 32-bit half (wine32:i386) for the 32-bit PatchUpdate.exe and for 32-bit prefixes, so
# the i386 architecture is added first when it isn't there. Where the kernel won't run 32-bit programs
# (ia32 emulation switched off), 32-bit Wine runs under qemu-i386, registered for 32-bit ELF files here.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev python3
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine64 wine32:i386
  clang clang-tidy clang-format cppcheck libclang-rt-14-dev
  osslsigncode openssl qemu-user-static ccache shellcheck pyflakes3
  python3-fusepy fuse3  # tools/slow_share_bench.py: the collection behind a read-only FUSE mirror
)
# With --tests (scripts/test.sh), what only the tests need: the report's CSV opened in LibreOffice Calc
# (headless, no GUI) to prove no cell becomes a formula, and its page rendered in headless Chromium to
# prove it shows the report's counts, runs and loads nothing. The demo doesn't need them.
if [ "${1:-}" = "--tests" ]; then
  packages+=(libreoffice-calc-nogui chromium)
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi

added_architecture=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture (for wine32)"
  "${sudo[@]}" dpkg --add-architecture i386
  added_architecture=1
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

# Mirrors are often mid-sync for hours: an index that can't be fetched is a warning, not the end.
apt_update() {
  local log
  log=$(mktemp)
  "${sudo[@]}" apt-get update 2>&1 | tee "$log" || true
  if grep -q '^E: \|^W: Failed to fetch\|^Err:' "$log"; then
    echo "setup: warning: apt-get update could not fetch every index (see above); going on with what it has"
  fi
  rm -f "$log"
}

# wine32:i386 needs each i386 library at exactly the version of its amd64 twin. When one suite's i386
# index is missing (a mirror mid-sync), the amd64 side wants that suite's newer versions and apt gives up
# ("held broken packages"); the base suite holds both architectures at one version, so take its versions.
apt_install() {
  local log codename
  log=$(mktemp)
  if "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@" 2>&1 | tee "$log"; then
    rm -f "$log"
    return 0
  fi
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -n "$codename" ] && grep -q 'held broken packages\|but it is not going to be installed\|but .* is to be installed' "$log"; then
    rm -f "$log"
    echo "setup: the two architectures' package versions disagree (an index missing, a mirror mid-sync?); installing again from $codename's own versions (-t $codename)"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends -t "$codename" "$@"
    return
  fi
  rm -f "$log"
  return 1
}

if [ "${#missing[@]}" -gt 0 ] || [ "$added_architecture" -eq 1 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update
  if [ "${#missing[@]}" -gt 0 ]; then
    apt_install "${missing[@]}"
  fi
fi

# 32-bit programs: native when the kernel runs them, else through qemu-i386 (slow, but correct).
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  if [ ! -e "$binfmt/register" ]; then
    "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
  fi
  if [ ! -e "$binfmt/qemu-i386" ]; then
    echo "setup: this kernel doesn't run 32-bit programs; registering qemu-i386 for them"
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":qemu-i386:M::${magic}:${mask}:/usr/bin/qemu-i386-static:F" | "${sudo[@]}" tee "$binfmt/register" >/dev/null
  fi
  /lib/ld-linux.so.2 --version >/dev/null
fi
echo "setup: all tools present"
