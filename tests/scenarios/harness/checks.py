"""What a scenario asserts after the run: the activity log, files, INI values.

Every check returns a list of failure texts (empty when it holds), so one run
reports all its differences at once.

File checks (`expect` of a scenario): {path: check}. The path is relative to
the install folder or an absolute C:\\ path; "*" and "?" in its last part
make it a glob. A check is "exists", "absent", or a dict of:
  exists / absent   True
  folder            True: a folder (not a file) exists there
  link              True: a symbolic link (to anything) is there
  content           str or bytes, the exact content
  match             regex searched in the content (decoded as cp1252)
  no_match          regex that must not be found in the content
  size              exact size in bytes
  starts_with       str or bytes
  utf16             True / False: the file starts with the UTF-16LE byte-order mark
  ini               {section: {key: value or None}}: the value that the
                    Windows private-profile reader would return; None = the
                    key is absent
  count             (globs) how many files match
  any_ini           (globs) at least one matching file has these INI values
  none_ini          (globs) no matching file has all of these INI values
  count_ini         (globs) [(ini values, n), ...]: exactly n matching files
                    have all of these INI values
  names             (globs) regex that every matching file name fullmatches
  min_gap_seconds   (globs) the YYYYMMDDHHMMSS stamps in the matching names
                    lie at least this many seconds apart
  status_report     True: a status report file written whole (see
                    check_status_report)
"""

import datetime
import difflib
import fnmatch
import os
import re
import stat

from . import scenario as scn

ANSI = "cp1252"

# MM/DD/YYYY HH:MM:SS, then one TAB.
TIMESTAMP = re.compile(rb"(0[1-9]|1[0-2])/(0[1-9]|[12][0-9]|3[01])/([0-9]{4}) "
                       rb"([01][0-9]|2[0-3]):([0-5][0-9]):([0-5][0-9])\t")


def parse_log(data):
    """Splits an activity log into (timestamps, messages, problems)."""
    problems = []
    if not data:
        return [], [], problems
    pieces = data.split(b"\r\n")
    if pieces[-1] != b"":
        problems.append("the log does not end with CR LF (last bytes %r)" % data[-40:])
    else:
        pieces.pop()
    stamps, messages = [], []
    for number, line in enumerate(pieces, 1):
        found = TIMESTAMP.match(line)
        if not found:
            problems.append("log line %d has no MM/DD/YYYY HH:MM:SS<TAB> timestamp: %r"
                            % (number, line[:80]))
            stamps.append(None)
            messages.append(line.decode(ANSI, "replace"))
            continue
        stamps.append(line[:found.end() - 1].decode("ascii"))
        messages.append(line[found.end():].decode(ANSI, "replace"))
    return stamps, messages, problems


def stamps_within(stamps, start, end, slack_seconds=2):
    """The timestamps must be the local time of the run: between its start
    and its end (a month and day swapped, or UTC for local time, falls out)."""
    low = start.replace(microsecond=0) - datetime.timedelta(seconds=slack_seconds)
    high = end + datetime.timedelta(seconds=slack_seconds)
    wrong = [s for s in stamps
             if not low <= datetime.datetime.strptime(s, "%m/%d/%Y %H:%M:%S") <= high]
    if not wrong:
        return []
    return ["timestamps outside the run's time %s .. %s: %s"
            % (low.strftime("%m/%d/%Y %H:%M:%S"), high.strftime("%m/%d/%Y %H:%M:%S"), wrong[:5])]


def _entry_matches(expected, actual):
    if isinstance(expected, scn.Pattern):
        return expected.matches(actual)
    return expected == actual


def _shown(entry):
    return repr(entry) if isinstance(entry, scn.Pattern) else entry


def _diff(expected, actual, title):
    shown_expected = []
    for i, entry in enumerate(expected):
        # show a pattern as the actual line it matched, so the diff is about real differences
        if isinstance(entry, scn.Pattern) and i < len(actual) and entry.matches(actual[i]):
            shown_expected.append(actual[i])
        else:
            shown_expected.append(_shown(entry))
    lines = difflib.unified_diff(shown_expected, actual, "expected", "actual", lineterm="", n=2)
    return title + "\n" + "\n".join("    " + line for line in lines)


def is_subsequence(expected, actual):
    position = 0
    for line in actual:
        if position < len(expected) and _entry_matches(expected[position], line):
            position += 1
    return position == len(expected)


def _first_unmatched(expected, actual):
    position = 0
    for line in actual:
        if position < len(expected) and _entry_matches(expected[position], line):
            position += 1
    return position


def compare_messages(expected, actual, mode, filters=()):
    """Failure texts for the messages of the log against the expectation."""
    if mode == "exact":
        if len(expected) == len(actual) and all(map(_entry_matches, expected, actual)):
            return []
        return [_diff(expected, actual, "log messages differ (exact):")]
    if mode == "subsequence":
        if is_subsequence(expected, actual):
            return []
        missing = _first_unmatched(expected, actual)
        return ["log lacks, in order, the message %s (and what follows it)\n"
                % _shown(expected[missing])
                + _diff(expected, actual, "  expected subsequence vs whole log:")]
    compiled = [re.compile(f) for f in filters]
    kept = [line for line in actual if any(c.search(line) for c in compiled)]
    if len(expected) == len(kept) and all(map(_entry_matches, expected, kept)):
        return []
    return [_diff(expected, kept, "log messages differ (lines matching the filter):")]


def absent_messages(patterns, actual):
    failures = []
    for regex in patterns:
        compiled = re.compile(regex)
        hits = [line for line in actual if compiled.search(line)]
        if hits:
            failures.append("log holds messages it should not (/%s/): %r" % (regex, hits))
    return failures


# ----------------------------------------------------------------- INI reading

def ini_value(data, section, key):
    """The value GetPrivateProfileString would return, or None when the key
    is absent: names match without case, the first matching section and key
    win, blanks around names and values are trimmed, one pair of matching
    quotes around a value is removed. A file with the UTF-16LE byte-order
    mark is Unicode to the reader."""
    text = (data[2:].decode("utf-16-le", "replace") if data.startswith(b"\xff\xfe")
            else data.decode(ANSI, "replace"))
    in_section = False
    for raw_line in re.split(r"\r\n|\n|\r", text):
        line = raw_line.strip(" \t")
        if line.startswith("["):
            end = line.find("]")
            name = line[1:end if end >= 0 else len(line)].strip(" \t")
            if in_section:
                # first matching section only
                return None
            in_section = name.lower() == section.lower()
            continue
        if not in_section or "=" not in line:
            continue
        name, value = line.split("=", 1)
        if name.strip(" \t").lower() != key.lower():
            continue
        value = value.strip(" \t")
        if len(value) >= 2 and value[0] == value[-1] and value[0] in "'\"":
            value = value[1:-1]
        return value
    return None


# ----------------------------------------------------------------- file checks

def _as_bytes(content):
    return content.encode(ANSI) if isinstance(content, str) else content


def check_file(label, path, check):
    if isinstance(check, str):
        check = {check: True}
    failures = []
    exists = os.path.lexists(path)
    if check.get("absent"):
        if exists:
            failures.append("%s exists but should not" % label)
        return failures
    if check.get("link"):
        if not os.path.islink(path):
            failures.append("%s is not a symbolic link" % label)
        return failures
    if check.get("folder"):
        if not os.path.isdir(path):
            failures.append("%s is not a folder" % label)
        return failures
    if not os.path.isfile(path):
        return ["%s does not exist (or is not a file)" % label]
    with open(path, "rb") as handle:
        data = handle.read()
    if "content" in check and data != _as_bytes(check["content"]):
        failures.append("%s content differs:\n    expected %r\n    actual   %r"
                        % (label, _as_bytes(check["content"])[:400], data[:400]))
    if "utf16" in check and data.startswith(b"\xff\xfe") != check["utf16"]:
        failures.append("%s is %sUTF-16 with a byte-order mark" % (label, "not " if check["utf16"] else ""))
    if "size" in check and len(data) != check["size"]:
        failures.append("%s is %d bytes, expected %d" % (label, len(data), check["size"]))
    if "starts_with" in check and not data.startswith(_as_bytes(check["starts_with"])):
        failures.append("%s does not start with %r" % (label, _as_bytes(check["starts_with"])[:200]))
    text = data.decode(ANSI, "replace")
    if "match" in check and not re.search(check["match"], text):
        failures.append("%s does not match /%s/; content %r" % (label, check["match"], text[:400]))
    if "no_match" in check and re.search(check["no_match"], text):
        failures.append("%s matches /%s/ but should not" % (label, check["no_match"]))
    if check.get("status_report"):
        failures += check_status_report(label, os.path.basename(path), data)
    for section, keys in check.get("ini", {}).items():
        for key, wanted in keys.items():
            actual = ini_value(data, section, key)
            if actual != wanted:
                failures.append("%s [%s] %s = %r, expected %r" % (label, section, key, actual, wanted))
    return failures


def _ini_summary(paths, wanted):
    """What the files hold for the keys a check looked for."""
    summary = {}
    for path in paths:
        with open(path, "rb") as handle:
            data = handle.read()
        summary[os.path.basename(path)] = {
            section: {key: ini_value(data, section, key) for key in keys}
            for section, keys in wanted.items()}
    return summary


def check_expectations(expect, resolve, fill):
    """`resolve` maps a Windows path to the target's real path; `fill`
    replaces placeholders."""
    failures = []
    for raw_path, check in expect.items():
        win_path = fill(raw_path)
        real = resolve(win_path)
        folder, leaf = os.path.split(real)
        if any(c in leaf for c in "*?["):
            matched = sorted(os.path.join(folder, name) for name in
                             (os.listdir(folder) if os.path.isdir(folder) else [])
                             if fnmatch.fnmatchcase(name, leaf))
            spec = {"exists": True} if isinstance(check, str) else dict(check)
            if isinstance(check, str) and check == "absent":
                spec = {"count": 0}
            if "count" in spec and len(matched) != spec["count"]:
                failures.append("%s: %d files match, expected %d: %s"
                                % (win_path, len(matched), spec["count"],
                                   [os.path.basename(m) for m in matched]))
            spec.pop("count", None)
            spec.pop("exists", None)
            if "names" in spec:
                wrong = [os.path.basename(m) for m in matched
                         if not re.fullmatch(spec["names"], os.path.basename(m))]
                if wrong:
                    failures.append("%s: names that do not match /%s/: %s"
                                    % (win_path, spec["names"], wrong))
                spec.pop("names")
            if "min_gap_seconds" in spec:
                failures += _stamp_gaps(win_path, matched, spec.pop("min_gap_seconds"))
            for wanted, number in spec.pop("count_ini", ()):
                hits = [p for p in matched if not check_file(p, p, {"ini": wanted})]
                if len(hits) != number:
                    failures.append("%s: %d files have %s, expected %d; files: %s"
                                    % (win_path, len(hits), wanted, number,
                                       _ini_summary(matched, wanted)))
            for key, wanted_any in (("any_ini", True), ("none_ini", False)):
                if key not in spec:
                    continue
                wanted = spec.pop(key)
                hits = [p for p in matched if not check_file(p, p, {"ini": wanted})]
                if wanted_any and not hits:
                    failures.append("%s: no file has %s; files: %s"
                                    % (win_path, wanted, _ini_summary(matched, wanted)))
                if not wanted_any and hits:
                    failures.append("%s: a file has %s but none should: %s"
                                    % (win_path, wanted, [os.path.basename(h) for h in hits]))
            if spec:
                for path in matched:
                    failures += check_file(win_path + " -> " + os.path.basename(path), path, spec)
            continue
        failures += check_file(win_path, real, check)
    return failures


# ----------------------------------------------------------------- status reports

STAMP_IN_NAME = re.compile(r"(?:^|_)([0-9]{14})(?=\.)")
REPORT_NAME = re.compile(r"(.*)_Quillet_([0-9]{14})\.ini")
REPORT_KEYS = ["RegID", "Desc", "PID", "SysID", "LastRunDateTime", "NextRunDateTime",
               "LastRunStatusCode"]
# MM/DD/YYYY H:MM:SS: the hour without a leading zero
REPORT_TIME = re.compile(r"(0[1-9]|1[0-2])/(0[1-9]|[12][0-9]|3[01])/[0-9]{4} "
                         r"([0-9]|1[0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]")


def _stamp_of(name):
    found = STAMP_IN_NAME.search(name)
    if not found:
        return None
    try:
        return datetime.datetime.strptime(found.group(1), "%Y%m%d%H%M%S")
    except ValueError:
        return None


def _stamp_gaps(label, paths, seconds):
    stamps = sorted((_stamp_of(os.path.basename(p)), os.path.basename(p)) for p in paths
                    if _stamp_of(os.path.basename(p)) is not None)
    failures = []
    for (first, first_name), (second, second_name) in zip(stamps, stamps[1:]):
        if (second - first).total_seconds() < seconds:
            failures.append("%s: %s and %s are less than %d s apart"
                            % (label, first_name, second_name, seconds))
    return failures


def check_status_report(label, name, data):
    """A status report as the writer makes it in a new file: the name
    RegID_Quillet_YYYYMMDDHHMMSS.ini, the section STATUS_INFO and its seven
    keys in their order, each present (empty values too), CR LF line ends,
    RegID as in the name, LastRunDateTime as MM/DD/YYYY H:MM:SS at most one
    second after the name's stamp, and no Desc with the status SUCCESS."""
    failures = []
    named = REPORT_NAME.fullmatch(name)
    if not named:
        return ["%s: the name is not RegID_Quillet_YYYYMMDDHHMMSS.ini" % label]
    stamp = _stamp_of(name)
    if stamp is None:
        failures.append("%s: the stamp of the name is no date and time" % label)
    if not data.endswith(b"\r\n") or b"\n" in data.replace(b"\r\n", b""):
        failures.append("%s: lines do not all end with CR LF: %r" % (label, data[:300]))
    lines = data.decode(ANSI, "replace").split("\r\n")
    if lines and lines[-1] == "":
        lines.pop()
    keys = [line.split("=", 1)[0] for line in lines[1:]]
    if (lines[:1] != ["[STATUS_INFO]"] or keys != REPORT_KEYS
            or not all("=" in line for line in lines[1:])):
        return failures + ["%s: not the section STATUS_INFO with the keys %s in this order: %r"
                           % (label, REPORT_KEYS, lines)]
    values = dict(line.split("=", 1) for line in lines[1:])
    if values["RegID"] != named.group(1):
        failures.append("%s: RegID=%r differs from the name" % (label, values["RegID"]))
    for key in ("SysID", "NextRunDateTime"):
        if values[key] != "":
            failures.append("%s: %s=%r, expected empty" % (label, key, values[key]))
    if values["LastRunStatusCode"] == "SUCCESS" and values["Desc"] != "":
        failures.append("%s: Desc=%r with the status SUCCESS" % (label, values["Desc"]))
    last = values["LastRunDateTime"]
    if not REPORT_TIME.fullmatch(last):
        failures.append("%s: LastRunDateTime=%r is not MM/DD/YYYY H:MM:SS" % (label, last))
    elif stamp is not None:
        written = datetime.datetime.strptime(last, "%m/%d/%Y %H:%M:%S")
        if not 0 <= (written - stamp).total_seconds() <= 1:
            failures.append("%s: LastRunDateTime=%r is not the stamp of the name or one "
                            "second later" % (label, last))
    return failures


# ----------------------------------------------------------------- snapshots

def snapshot(root, max_depth=None):
    """{relative path: (is_dir, size, mtime_ns)} of a tree, `max_depth` levels
    deep (all when None; a shallow listing records names only); {} when missing."""
    result = {}
    if not os.path.isdir(root):
        return result
    shallow = max_depth is not None
    for folder, dirs, files in os.walk(root):
        depth = 0 if folder == root else os.path.relpath(folder, root).count(os.sep) + 1
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            is_dir = stat.S_ISDIR(info.st_mode)
            plain = is_dir or shallow
            result[os.path.relpath(path, root)] = (is_dir, 0 if plain else info.st_size,
                                                   0 if plain else info.st_mtime_ns)
        if shallow and depth + 1 >= max_depth:
            dirs[:] = []
    return result


def compare_snapshots(label, before, after):
    failures = []
    added = sorted(set(after) - set(before))
    removed = sorted(set(before) - set(after))
    changed = sorted(p for p in set(before) & set(after) if before[p] != after[p])
    for title, paths in (("created", added), ("deleted", removed), ("changed", changed)):
        if paths:
            failures.append("%s: the run %s %s" % (label, title, paths[:20]))
    return failures
