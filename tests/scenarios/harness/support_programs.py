"""The support programs of tests/support that a scenario places with
{"copy": NAME} (the file name in <windows build>/tests/support): under Wine the
built program itself, on the host the stand-in below, which does the same in
the host's terms.
"""

import os

# parvix_standin.exe: what tests/support/parvix_standin.c does (see there)
PARVIX_STANDIN = r"""#!/bin/sh
here=$(dirname "$0")
if [ -f "$here/parvix_sleep_ms.txt" ]; then
    sleep "$(awk '{ printf "%.3f", $1 / 1000 }' "$here/parvix_sleep_ms.txt")"
fi
arguments=$(for arg in "$@"; do printf '[%s]' "$arg"; done)
printf '%s\r\n' "$arguments" >> "$here/parvix_runs.txt" || exit 125
log="$here/ApplicationLog/MNStatusLog.txt"
if [ -f "$log" ]; then
    printf '%s\tTEST : parvix_standin ran with %s\r\n' "$(date '+%m/%d/%Y %H:%M:%S')" \
        "$arguments" >> "$log"
fi
code=0
if [ -f "$here/parvix_exit_code.txt" ]; then code=$(cat "$here/parvix_exit_code.txt"); fi
exit "$code"
"""

# regsvr32 of the host machine (placed through "host_bin"): takes `/s PATH`
# as Wine's regsvr32 does with the test library: exit 0 and "registered" in
# logparser_calls.txt beside a library (a file starting with MZ, such as the
# stand-in of test_logparser.dll); exit 3 (the load failed) for a missing
# file or one that is no library. Any other arguments (the path split at a
# blank, no /s) end with 9, so a wrongly quoted command line shows.
# QUILLET_MACHINE, which the program passes on, resolves the Windows path.
REGSVR32 = r"""#!/bin/sh
if [ "$#" -ne 2 ] || [ "$1" != "/s" ]; then
    echo "regsvr32 stand-in: unexpected arguments ($#):" "$@" >&2
    exit 9
fi
drive=$(printf '%s' "$2" | cut -c1 | tr 'A-Z' 'a-z')
rest=$(printf '%s' "$2" | cut -c3- | tr '\\' '/')
file="$QUILLET_MACHINE/drives/$drive$rest"
[ -f "$file" ] || exit 3
[ "$(head -c 2 "$file")" = "MZ" ] || exit 3
printf 'registered\r\n' >> "$(dirname "$file")/logparser_calls.txt"
exit 0
"""

HOST_STANDINS = {  # name: (content, mode)
    "parvix_standin.exe": (PARVIX_STANDIN.encode(), 0o755),
    "test_logparser.dll": (b"MZ host stand-in of test_logparser.dll\r\n", 0o644),
}


def place_host_standin(name, real_path):
    content, mode = HOST_STANDINS[name]
    with open(real_path, "wb") as handle:
        handle.write(content)
    os.chmod(real_path, mode)

