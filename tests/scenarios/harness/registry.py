"""Registry values of a scenario and the .reg file that carries them.

The same file feeds both targets: the host binary reads it as its registry,
and under Wine it is imported with `reg import FILE /reg:32`. Scenarios give
values either as plain strings (REG_SZ) or through the constructors below.
"""

AGENT_KEY = "HKEY_LOCAL_MACHINE\\Software\\KORBOD"

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7

# Text of scenarios is ASCII in practice; cp1252 is the ANSI code page of both
# a default Wine prefix and the usual Windows installation.
ANSI = "cp1252"


class Value:
    """One typed registry value. `text` for the string types, `data` (bytes)
    for the others, `strings` for REG_MULTI_SZ."""

    def __init__(self, kind, text=None, data=None, strings=None):
        self.kind = kind
        self.text = text
        self.data = data
        self.strings = strings

    def map_text(self, change):
        """The same value with `change` applied to its texts (placeholders)."""
        return Value(self.kind,
                     change(self.text) if self.text is not None else None,
                     self.data,
                     [change(s) for s in self.strings] if self.strings is not None else None)

    def __repr__(self):
        return "Value(%r, %r, %r, %r)" % (self.kind, self.text, self.data, self.strings)


def sz(text):
    return Value(REG_SZ, text=text)


def expand_sz(text):
    return Value(REG_EXPAND_SZ, text=text)


def multi_sz(strings):
    return Value(REG_MULTI_SZ, strings=list(strings))


def binary(data):
    return Value(REG_BINARY, data=bytes(data))


def dword(number):
    return Value(REG_DWORD, data=int(number).to_bytes(4, "little"))


def raw(kind, data):
    """Any type number with the exact bytes stored (no conversion)."""
    return Value(kind, data=bytes(data))


def _quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _hex_lines(prefix, data):
    """hex bytes after `prefix`, wrapped with `\\` continuations as regedit does."""
    parts = ["%02x" % b for b in data]
    lines, line = [], prefix
    for i, part in enumerate(parts):
        piece = part + ("," if i + 1 < len(parts) else "")
        if len(line) + len(piece) > 76 and line != prefix:
            lines.append(line + "\\")
            line = "  "
        line += piece
    lines.append(line)
    return "\r\n".join(lines)


def _string_bytes(text, unicode):
    return (text.encode("utf-16-le") + b"\0\0") if unicode else (text.encode(ANSI) + b"\0")


def value_line(name, value, unicode=True):
    """The line of a .reg file that stores `value` under `name`."""
    if isinstance(value, str):
        value = sz(value)
    label = _quoted(name) + "="
    if value.kind == REG_SZ and value.text is not None:
        return label + _quoted(value.text)
    if value.kind == REG_DWORD and value.data is not None and len(value.data) == 4:
        return label + "dword:%08x" % int.from_bytes(value.data, "little")
    if value.kind == REG_BINARY and value.data is not None:
        return _hex_lines(label + "hex:", value.data)
    if value.text is not None:
        data = _string_bytes(value.text, unicode)
    elif value.strings is not None:
        data = b"".join(_string_bytes(s, unicode) for s in value.strings)
        data += b"\0\0" if unicode else b"\0"
    else:
        data = value.data
    return _hex_lines(label + "hex(%x):" % value.kind, data)


def reg_file_bytes(values, subkeys=None, fmt="v5"):
    """A whole .reg file: the agent key with `values` and its `subkeys`
    ({relative path: {name: value}}). fmt "v5" is what Windows and `reg export`
    write (UTF-16LE with BOM), "regedit4" the older ANSI form."""
    unicode = fmt == "v5"
    header = "Windows Registry Editor Version 5.00" if unicode else "REGEDIT4"
    blocks = [header]
    keys = [(AGENT_KEY, values)]
    for path, sub_values in (subkeys or {}).items():
        keys.append((AGENT_KEY + "\\" + path, sub_values))
    for key, key_values in keys:
        if key_values is None:
            continue
        lines = ["[" + key + "]"]
        lines += [value_line(name, value, unicode) for name, value in key_values.items()]
        blocks.append("\r\n".join(lines))
    text = "\r\n\r\n".join(blocks) + "\r\n\r\n"
    return b"\xff\xfe" + text.encode("utf-16-le") if unicode else text.encode(ANSI)
