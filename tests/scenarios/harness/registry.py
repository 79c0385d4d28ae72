"""Registry values of a scenario and the .reg file that carries them.

The same file feeds both targets: the host binary reads it as its registry,
and under Wine it is imported with `reg import FILE /reg:32`. Scenarios give
values as plain strings (REG_SZ) or through the constructors below.
"""

import collections

AGENT_KEY = "HKEY_LOCAL_MACHINE\\Software\\KORBOD"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7
# cp1252 is the ANSI code page of a default Wine prefix and of most Windows installations.
ANSI = "cp1252"


# `data` is a str for the string types, a list of str for REG_MULTI_SZ, and
# bytes, stored as they are, otherwise.
Value = collections.namedtuple("Value", "kind data")


def sz(text):
    return Value(REG_SZ, text)


def expand_sz(text):
    return Value(REG_EXPAND_SZ, text)


def multi_sz(strings):
    return Value(REG_MULTI_SZ, list(strings))


def binary(data):
    return Value(REG_BINARY, bytes(data))


def dword(number):
    return Value(REG_DWORD, int(number).to_bytes(4, "little"))


def raw(kind, data):
    """Any type number with exactly these bytes stored."""
    return Value(kind, bytes(data))


def _quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def value_line(name, value, fill):
    """The line of a .reg file that stores `value` under `name`; `fill` is
    applied to every text."""
    value = sz(value) if isinstance(value, str) else value
    label, data = _quoted(name) + "=", value.data
    if isinstance(data, (str, list)):
        data = fill(data) if isinstance(data, str) else [fill(d) for d in data]
    if value.kind == REG_SZ and isinstance(data, str):
        return label + _quoted(data)
    if value.kind == REG_DWORD and isinstance(data, bytes) and len(data) == 4:
        return label + "dword:%08x" % int.from_bytes(data, "little")
    if isinstance(data, (str, list)):  # each string and a list end with a NUL
        data = ("".join(s + "\0" for s in data) if isinstance(data, list) else data) + "\0"
        data = data.encode("utf-16-le")
    kind = "hex:" if value.kind == REG_BINARY else "hex(%x):" % value.kind
    # long data wraps with "\" continuations, as regedit writes it
    items = ["%02x" % b for b in data]
    rows = [",".join(items[i:i + 24]) for i in range(0, len(items), 24)] or [""]
    return label + kind + ",\\\r\n  ".join(rows)


def reg_file_bytes(values, subkeys, fill):
    """A whole .reg file as Windows and `reg export` write it (UTF-16LE with
    BOM): the agent key with `values` (None: no key) and its `subkeys`
    {relative path: {name: value}}."""
    blocks = ["Windows Registry Editor Version 5.00"]
    keys = [(AGENT_KEY, values)] + [(AGENT_KEY + "\\" + path, table)
                                     for path, table in (subkeys or {}).items()]
    for key, table in keys:
        if table is not None:
            blocks.append("\r\n".join(["[%s]" % key] + [value_line(name, value, fill)
                                                        for name, value in table.items()]))
    text = "\r\n\r\n".join(blocks) + "\r\n\r\n"
    return b"\xff\xfe" + text.encode("utf-16-le")
