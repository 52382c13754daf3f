#!/usr/bin/env bash
# Lints the shell scripts (shellcheck) and the Python tools and tests (pyflakes): the scripts that set up
# machines and drive Wine fail in ways a compiler would have caught. The C++ must stand as clang-format
# (the .clang-format at the top) writes it: `clang-format -i FILE` puts a file right.
# Usage: run_script_lint.sh <source-dir>
set -euo pipefail
cd "$1"
mapfile -t shell < <(git ls-files '*.sh')
mapfile -t python < <(git ls-files '*.py')
mapfile -t cxx < <(git ls-files 'src/*.cpp' 'src/*.h')
status=0
echo "shellcheck: ${#shell[@]} scripts"
shellcheck --severity=warning "${shell[@]}" || status=1
echo "pyflakes: ${#python[@]} files"
pyflakes3 "${python[@]}" || status=1
echo "clang-format: ${#cxx[@]} files"
clang-format --dry-run --Werror "${cxx[@]}" || status=1
exit $status
