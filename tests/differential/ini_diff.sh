#!/usr/bin/env bash
# Runs one INI script through the host engine and through Windows' functions
# under Wine, and compares every value read. Wine rewrites files its own way
# (it drops blank lines), so what is read is compared, not the bytes.
#   ini_diff.sh HOST_REPLAY WINDOWS_REPLAY_EXE SCRIPT
set -euo pipefail
host_replay=$1 win_replay=$2 script=$3
missing() {
  if [[ ${QUILLET_SCENARIO_STRICT:-} == 1 ]]; then echo "FAIL: $1"; exit 1; fi
  echo "SKIP: $1"; exit 77
}
command -v wine >/dev/null || missing "wine is not installed"
[[ -f $win_replay ]] || missing "$win_replay is not built"
: "${WINEPREFIX:?the Wine prefix of the test run}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/machine/drives/c"
QUILLET_MACHINE="$work/machine" "$host_replay" "$script" > "$work/host.txt"
rm -rf "$WINEPREFIX/drive_c/QIniDiff"
WINEDEBUG=-all wine "$win_replay" "$(winepath -w "$script" 2>/dev/null)" > "$work/wine.txt" 2>"$work/wine.err" </dev/null
rm -rf "$WINEPREFIX/drive_c/QIniDiff"
if ! diff --strip-trailing-cr "$work/host.txt" "$work/wine.txt"; then
  echo "host engine (<) and Windows functions under Wine (>) read different values"
  exit 1
fi
echo "$(wc -l < "$work/host.txt") results read alike"
