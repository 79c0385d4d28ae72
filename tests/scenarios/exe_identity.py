#!/usr/bin/env python3
"""Reads back what the build can get wrong in quillet.exe: the version
numbers of the resource and the manifest against the project version, no
code page setting, no link time stamp, and symbols split off into
quillet.debug.

    exe_identity.py QUILLET_EXE PROJECT_VERSION OBJCOPY"""
import os
import re
import struct
import subprocess
import sys
import tempfile

exe, version, objcopy = sys.argv[1:4]
if not os.path.exists(exe):
    print("SKIP: %s is not built" % exe)
    sys.exit(1 if os.environ.get("QUILLET_SCENARIO_STRICT") else 77)
data = open(exe, "rb").read()
problems = []
pe = struct.unpack_from("<I", data, 0x3C)[0]
if struct.unpack_from("<I", data, pe + 8)[0] != 0:
    problems.append("the PE header carries a link time stamp")
listing = subprocess.run([objcopy.replace("objcopy", "objdump"), "-h", exe], check=True,
                         capture_output=True, text=True).stdout
names = set(re.findall(r"^\s*\d+ (\S+)", listing, re.M))
sections = {}
with tempfile.TemporaryDirectory() as work:
    for name in names & {".rsrc", ".gnu_debuglink"}:
        out = os.path.join(work, name.strip("."))
        subprocess.run([objcopy, "--dump-section", "%s=%s" % (name, out), exe,
                        os.path.join(work, "copy")], check=True)
        sections[name] = open(out, "rb").read()
rsrc = sections.get(".rsrc", b"")
major, minor, patch = (int(n) for n in version.split("."))
fixed = rsrc.find(struct.pack("<I", 0xFEEF04BD))
if fixed < 0 or struct.unpack_from("<4I", rsrc, fixed + 8) != (
        major << 16 | minor, patch << 16, major << 16 | minor, patch << 16):
    problems.append("the fixed version is not %s" % version)
text = rsrc.decode("utf-16-le", "replace")
for key in ("ProductVersion", "FileVersion"):
    if not re.search(key + "\0+" + re.escape(version) + "\0", text):
        problems.append("no %s %r in the version resource" % (key, version))
if not re.search(rb'version="%s.0"' % version.encode(), rsrc):
    problems.append("the manifest is not of version %s" % version)
if b"activeCodePage" in rsrc:
    problems.append("the manifest changes the ANSI code page")
if (not sections.get(".gnu_debuglink", b"").startswith(b"quillet.debug\0")
        or any(name.startswith(".debug") for name in names)):
    problems.append("the symbols are not split off into quillet.debug")
if not os.path.exists(os.path.join(os.path.dirname(exe), "quillet.debug")):
    problems.append("quillet.debug is missing")
print("\n".join(problems) or "version %s, manifest and split symbols read back" % version)
sys.exit(1 if problems else 0)
