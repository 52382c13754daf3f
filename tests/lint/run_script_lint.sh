#!/usr/bin/env bash
# Lints the shell scripts (shellcheck) and the Python tools and tests (pyflakes): the scripts that set up
# machines and drive Wine fail in ways a compiler would have caught.
# Usage: run_script_lint.sh <source-dir>
set -euo pipefail
cd "$1"
mapfile -t shell < <(git ls-files '*.sh')
mapfile -t python < <(git ls-files '*.py')
status=0
echo "shellcheck: ${#shell[@]} scripts"
shellcheck --severity=warning "${shell[@]}" || status=1
echo "pyflakes: ${#python[@]} files"
pyflakes3 "${python[@]}" || status=1
exit $status
