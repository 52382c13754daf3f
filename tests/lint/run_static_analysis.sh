#!/usr/bin/env bash
# clang-tidy and cppcheck over src/, with the configurations checked in beside the code.
# Usage: run_static_analysis.sh <source-dir> <native-build-dir> [<windows-build-dir>]
set -euo pipefail
src_dir=$1
native_build=$2
windows_build=${3:-}

cd "$src_dir"
mapfile -t portable < <(git ls-files 'src/*.cpp' | grep -v '^src/platform/win32/' || find src -name '*.cpp' -not -path 'src/platform/win32/*')
status=0

# clang-tidy counts the warnings it filtered out of system headers on stderr; only findings matter.
tidy() {
  local out
  if ! out=$(clang-tidy --quiet "$@" 2>&1); then
    printf '%s\n' "$out" | grep -v 'warnings generated\.$'
    return 1
  fi
}

echo "clang-tidy: ${#portable[@]} portable files"
tidy -p "$native_build" "${portable[@]}" || status=1

if [ -n "$windows_build" ] && [ -f "$windows_build/compile_commands.json" ]; then
  mingw_target=i686-w64-mingw32  # the shipped exe's target
  mapfile -t win32 < <(find src/platform/win32 -name '*.cpp' | sort)
  echo "clang-tidy: ${#win32[@]} Windows files (MinGW target)"
  # clang parses them as MinGW would compile them: its C++ library and Windows headers, not the host's.
  mapfile -t mingw_includes < <("$mingw_target-g++-posix" -E -x c++ - -v </dev/null 2>&1 |
    sed -n '/#include <...> search starts here/,/End of search list/p' | grep -E '/c\+\+|mingw32/include$' | sed 's/^ *//')
  extra=("--extra-arg=--target=$mingw_target" --extra-arg=-nostdinc++)
  for dir in "${mingw_includes[@]}"; do extra+=("--extra-arg=-isystem$dir"); done
  tidy -p "$windows_build" "${extra[@]}" "${win32[@]}" || status=1
fi

echo "cppcheck"
cppcheck --quiet --std=c++20 --language=c++ --enable=warning,style,performance,portability \
  --inline-suppr --suppressions-list=tests/lint/cppcheck-suppressions.txt \
  --error-exitcode=1 -I src -D_WIN32 -DUNICODE -D_UNICODE \
  src || status=1

exit $status
