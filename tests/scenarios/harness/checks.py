"""What a scenario asserts after a run: the activity log, files, INI values
(the checks are described in tests/scenarios/README.md). Every check returns a
list of failure texts, empty when it holds, so a run reports all its
differences at once."""

import datetime
import difflib
import fnmatch
import hashlib
import os
import pathlib
import re
import stat

from .registry import ANSI
FILE_KINDS = {"exists", "absent", "folder", "link", "content", "match", "ini"}
GLOB_KINDS = {"absent", "content", "match", "ini", "count", "count_ini"}


def pattern(regex):
    """An expected log message given as a regular expression (full match)."""
    return re.compile(regex, re.DOTALL)


def _is_glob(path):
    return any(c in path.rsplit("\\", 1)[-1] for c in "*?[")


def unknown_check(path, check):
    """Why `check` is no check this module knows, or ""."""
    kinds = GLOB_KINDS if _is_glob(path) else FILE_KINDS
    given = {check} if isinstance(check, str) else set(check)
    return "unknown check of %s: %s" % (path, sorted(given - kinds)) if given - kinds else ""


# ----------------------------------------------------------------- the log

# MM/DD/YYYY HH:MM:SS, then one TAB.
TIMESTAMP = re.compile(rb"(0[1-9]|1[0-2])/(0[1-9]|[12][0-9]|3[01])/[0-9]{4} "
                       rb"([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\t")


def check_log_lines(data, start, end):
    """(messages, failures) of an activity log's bytes: every line CR LF
    terminated and stamped with a local time of the run (start .. end, 2 s
    slack), so a month and day swapped or UTC for local time fails."""
    failures, messages = [], []
    lines = data.split(b"\r\n")
    if lines[-1] == b"":
        lines.pop()
    else:
        failures.append("the log does not end with CR LF (last bytes %r)" % data[-40:])
    low = start.replace(microsecond=0) - datetime.timedelta(seconds=2)
    high = end + datetime.timedelta(seconds=2)
    outside = []
    for number, line in enumerate(lines, 1):
        stamp = TIMESTAMP.match(line)
        messages.append(line[stamp.end() if stamp else 0:].decode(ANSI, "replace"))
        if not stamp:
            failures.append("log line %d has no MM/DD/YYYY HH:MM:SS<TAB> timestamp: %r"
                            % (number, line[:80]))
        elif not low <= datetime.datetime.strptime(line[:19].decode(), "%m/%d/%Y %H:%M:%S") <= high:
            outside.append(line[:19].decode())
    if outside:
        failures.append("timestamps outside the run's time %s .. %s: %s"
                        % (low, high.replace(microsecond=0), outside[:5]))
    return messages, failures


def _same(expected, actual):
    return expected.fullmatch(actual) if isinstance(expected, re.Pattern) else expected == actual


def compare_messages(expected, actual, filters=None):
    """Failure texts for the log's messages against the expectation; with
    `filters`, of the messages that match one of these regexes."""
    if filters:
        actual = [line for line in actual if any(re.search(f, line) for f in filters)]
    if len(expected) == len(actual) and all(map(_same, expected, actual)):
        return []
    # a pattern shows as the line it matched, so the diff is about real differences
    shown = [actual[i] if i < len(actual) and _same(e, actual[i]) else repr(e)
             if isinstance(e, re.Pattern) else e for i, e in enumerate(expected)]
    diff = difflib.unified_diff(shown, actual, "expected", "actual", lineterm="", n=2)
    return ["log messages differ (%s):\n" % ("filtered" if filters else "exact")
            + "\n".join("    " + line for line in diff)]


# ----------------------------------------------------------------- files

def ini_value(data, section, key):
    """What GetPrivateProfileString returns, or None for an absent key: names
    match without case, the first matching section and key win, blanks around
    names and values are trimmed, one pair of matching quotes is removed. A
    file with the UTF-16LE byte-order mark is Unicode to the reader."""
    text = (data[2:].decode("utf-16-le", "replace") if data.startswith(b"\xff\xfe")
            else data.decode(ANSI, "replace"))
    inside = False
    for line in re.split(r"\r\n|\n|\r", text):
        line = line.strip(" \t")
        if line.startswith("["):
            if inside:
                return None
            inside = line[1:].split("]", 1)[0].strip(" \t").lower() == section.lower()
        elif inside and "=" in line:
            name, value = (part.strip(" \t") for part in line.split("=", 1))
            if name.lower() == key.lower():
                quoted = len(value) >= 2 and value[0] == value[-1] and value[0] in "'\""
                return value[1:-1] if quoted else value
    return None


def ini_differences(data, wanted):
    """[(section, key, value read, value wanted)] of `wanted` {section: {key: value}}."""
    return [(s, k, ini_value(data, s, k), v) for s, keys in wanted.items() for k, v in keys.items()
            if ini_value(data, s, k) != v]


def as_bytes(content):
    return content.encode(ANSI) if isinstance(content, str) else content


def check_file(label, path, check):
    if check.get("absent"):
        return ["%s exists but should not" % label] if os.path.lexists(path) else []
    if check.get("link"):
        return [] if os.path.islink(path) else ["%s is not a symbolic link" % label]
    if check.get("folder"):
        return [] if os.path.isdir(path) else ["%s is not a folder" % label]
    if not os.path.isfile(path):
        return ["%s does not exist (or is not a file)" % label]
    data = pathlib.Path(path).read_bytes()
    text = data.decode(ANSI, "replace")
    failures = []
    if "content" in check and data != as_bytes(check["content"]):
        failures.append("%s content differs:\n    expected %r\n    actual   %r"
                        % (label, as_bytes(check["content"])[:400], data[:400]))
    if "match" in check and not re.search(check["match"], text):
        failures.append("%s does not match /%s/; content %r" % (label, check["match"], text[:400]))
    return failures + ["%s [%s] %s = %r, expected %r" % (label, *difference)
                       for difference in ini_differences(data, check.get("ini", {}))]


def check_glob(label, folder, leaf, check):
    names = sorted(n for n in (os.listdir(folder) if os.path.isdir(folder) else [])
                   if fnmatch.fnmatchcase(n, leaf))
    paths = [os.path.join(folder, n) for n in names]
    failures = []
    count = 0 if check.get("absent") else check.get("count")
    if count is not None and len(names) != count:
        failures.append("%s: %d files match, expected %d: %s" % (label, len(names), count, names))
    for wanted, number in check.get("count_ini", ()):
        hits = [n for n, p in zip(names, paths)
                if not ini_differences(pathlib.Path(p).read_bytes(), wanted)]
        if len(hits) != number:
            failures.append("%s: files %s have %s, expected %d of %s"
                            % (label, hits, wanted, number, names))
    per_file = {k: v for k, v in check.items() if k in FILE_KINDS - {"absent"}}
    for name, path in zip(names, paths):
        failures += check_file(label + " -> " + name, path, per_file) if per_file else []
    return failures


def check_expectations(expect, resolve):
    """`expect` {Windows path: check}; `resolve` maps it to the target's file."""
    failures = []
    for path, check in expect.items():
        check = {check: True} if isinstance(check, str) else check
        real = resolve(path)
        if _is_glob(path):
            failures += check_glob(path, *os.path.split(real), check)
        else:
            failures += check_file(path, real, check)
    return failures


# ----------------------------------------------------------------- nothing written

def snapshot(root, deep=True):
    """{path: (is folder, size, mtime, content digest)} of a tree, or only the names of its
    top level when not `deep`; {} when missing."""
    if not deep:
        return dict.fromkeys(os.listdir(root) if os.path.isdir(root) else [])
    result = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            folder_entry = stat.S_ISDIR(info.st_mode)
            digest = None
            if stat.S_ISREG(info.st_mode):
                digest = hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()
            result[path] = (folder_entry, 0 if folder_entry else info.st_size,
                            0 if folder_entry else info.st_mtime_ns, digest)
    return result


def compare_snapshots(before, after):
    changes = (("created", set(after) - set(before)), ("deleted", set(before) - set(after)),
               ("changed", {p for p in set(before) & set(after) if before[p] != after[p]}))
    return ["the run %s %s" % (title, sorted(paths)[:20]) for title, paths in changes if paths]
