#!/usr/bin/env bash
# Runs one Windows test program in the test run's Wine prefix:
#   wine_check.sh PROGRAM.exe [ARGS...]
# Exits 77 (skipped) when Wine or the program is missing, unless
# QUILLET_SCENARIO_STRICT=1 asks for every Wine test to run.
set -euo pipefail
program=$1
shift
missing() {
  if [[ ${QUILLET_SCENARIO_STRICT:-} == 1 ]]; then echo "FAIL: $1"; exit 1; fi
  echo "SKIP: $1"; exit 77
}
command -v wine >/dev/null || missing "wine is not installed"
[[ -f $program ]] || missing "$program is not built"
: "${WINEPREFIX:?the Wine prefix of the test run}"
# Wine spells Unix file names in the locale's character set: UTF-8 holds any name.
export WINEDEBUG=-all LC_ALL=C.UTF-8
# Output goes to a file: Wine's own processes must not inherit a pipe.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
wine "$program" "$@" >"$out" 2>&1 </dev/null || status=$?
sed -e 's/\r$//' "$out"
# A filter that matches nothing passes in GoogleTest: a stale Windows build.
if grep -q '^\[==========\] 0 tests from' "$out"; then
  echo "FAIL: no such test in $program: build the windows preset again"
  exit 1
fi
exit "$status"
