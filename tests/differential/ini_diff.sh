#!/usr/bin/env bash
# Runs one INI script through the host engine and through Windows' functions
# under Wine (wine_check.sh: skips as it does), and compares every value read.
# Wine rewrites files its own way (it drops blank lines), so what is read is
# compared, not the bytes.
#   ini_diff.sh HOST_REPLAY WINDOWS_REPLAY_EXE SCRIPT
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/machine/drives/c"
QUILLET_MACHINE="$work/machine" "$1" "$3" >"$work/host.txt"
rm -rf "${WINEPREFIX:?the Wine prefix of the test run}/drive_c/QIniDiff"
status=0
"$(dirname "$0")/wine_check.sh" "$2" "$(winepath -w "$3" 2>/dev/null)" >"$work/wine.txt" || status=$?
rm -rf "$WINEPREFIX/drive_c/QIniDiff"
if [[ $status != 0 ]]; then cat "$work/wine.txt"; exit "$status"; fi
if ! diff "$work/host.txt" "$work/wine.txt"; then
  echo "host engine (<) and Windows functions under Wine (>) read different values"
  exit 1
fi
echo "$(wc -l <"$work/host.txt") results read alike"
