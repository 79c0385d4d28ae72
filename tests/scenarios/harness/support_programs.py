"""The support programs of tests/support that a scenario can place in its
machine, and what stands in for them on the host.

A file spec {"copy": NAME} puts the support program NAME (the file name in
<windows build>/tests/support, e.g. "parvix_standin.exe") at that path: under
Wine the built program itself, on the host the stand-in below, which does the
same thing in the host's terms (an executable script for a program).
"""

import os
import stat

# parvix_standin.exe: appends "[arg]..." + CR LF to parvix_runs.txt beside
# itself and a line "TEST : parvix_standin ran with [arg]..." to the activity
# log beside itself when there is one; sleeps the milliseconds of
# parvix_sleep_ms.txt first; exits with the number of parvix_exit_code.txt
# (0 without it).
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

# test_logparser.dll is only ever registered, never run on the host: its
# stand-in is a file that the regsvr32 stand-in below accepts as a library.
LIBRARY_MARK = b"MZ host stand-in of test_logparser.dll\r\n"

# regsvr32 of the host machine (put in place through "host_bin"): takes
# `/s PATH` exactly as Wine's regsvr32 does with the test library: exit 0 and
# "registered" in logparser_calls.txt beside a library; exit 3 (the load
# failed) for a missing file or one that is not a library. Any other use of
# its arguments (the path split at a blank, no /s) ends with 9, so a
# scenario sees a wrongly quoted command line. QUILLET_MACHINE, which the
# program passes on, resolves the Windows path.
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

_HOST_STANDINS = {
    "parvix_standin.exe": (PARVIX_STANDIN.encode(), True),
    "test_logparser.dll": (LIBRARY_MARK, False),
}


def place_host_standin(name, real_path):
    """Writes the host's stand-in of the support program `name` at `real_path`."""
    if name not in _HOST_STANDINS:
        raise ValueError("no host stand-in for the support program %r" % name)
    content, executable = _HOST_STANDINS[name]
    with open(real_path, "wb") as handle:
        handle.write(content)
    if executable:
        os.chmod(real_path, stat.S_IRWXU | stat.S_IRGRP | stat.S_IXGRP | stat.S_IROTH
                 | stat.S_IXOTH)


def support_copies(scenario):
    """The support program names that the scenario's files copy."""
    return sorted({spec["copy"] for spec in scenario.get("files", {}).values()
                   if isinstance(spec, dict) and "copy" in spec})
