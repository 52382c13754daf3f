#!/usr/bin/env bash
# Installs the build and test tools (Debian 12). Idempotent: touches apt only when a package is missing.
# Wine needs its 32-bit half (wine32:i386) for the 32-bit PatchUpdate.exe and for 32-bit prefixes, so
# the i386 architecture is added first when it isn't there. Where the kernel won't run 32-bit programs
# (ia32 emulation switched off), 32-bit Wine runs under qemu-i386, registered for 32-bit ELF files here.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev python3
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine64 wine32:i386
  clang clang-tidy cppcheck libclang-rt-14-dev
  osslsigncode openssl qemu-user-static
)

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

if [ "${#missing[@]}" -gt 0 ] || [ "$added_architecture" -eq 1 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo[@]}" apt-get update
  if [ "${#missing[@]}" -gt 0 ]; then
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
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
