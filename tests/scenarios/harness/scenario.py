"""What a scenario is, and where scenarios come from.

A scenario is a small dict in a topic module (tests/scenarios/topic_*.py, a
list named SCENARIOS). Keys, all optional but `name`, `command` and `exit`:

  name        unique over all topics: letters, digits, "_"
  install     the agent install folder, a Windows path; default
              C:\\QTest\\<name> (no final backslash)
  registry    values of HKLM\\Software\\KORBOD: {name: str | registry.Value};
              None = no agent key at all. Strings may hold {install}.
  registry_keys   {relative subkey path: {name: value}}
  registry_format "v5" (default, UTF-16LE) or "regedit4" (ANSI)
  files       {path: content}: path relative to the install folder (or an
              absolute C:\\ path); content is str, bytes, or a dict with
              "content" or "size", and optional "age_days" (last-modified that
              many days before now), "mtime" ("YYYY-MM-DD HH:MM:SS", local),
              "readonly"
  folders     [path, ...] empty folders to create
  services    host services table: None = no table (the service control
              manager refuses the connection, every service reads as not
              running); a dict {name: state} or the table's text
  host_bin    {program name: script text} placed in <machine>/bin (host only)
  now         "YYYY-MM-DD HH:MM:SS": the local time the run starts at (host,
              through faketime; the clock cannot be moved under Wine)
  targets     ("host", "wine") by default
  command     the exact command text (everything after the program's name)
  windows_command_line  under Wine, the whole command line instead (program
              name included, as a scheduler may write it); `command` is then
              the text the program must take from it, and what the host gets
  exit        expected exit status
  log         expected messages of the activity log, timestamps masked; an
              entry is a str (exact; may hold {install}) or pattern(regex).
              None = the log must not exist.
  log_match   "exact" (default): the log is exactly these messages;
              "subsequence": these messages appear in this order, others may
              come between them; "filtered": the messages that match one of
              the `log_filter` patterns are exactly these, in this order
  log_filter  [pattern, ...] for "filtered"
  log_absent  [pattern, ...]: no message may match any of them
  log_kept    True: the log created through `files` must still begin the log
              (it was appended to); the new messages follow it
  expect      {path or glob: check} - see harness.checks
  nothing_written  True: the run may not create, change or delete any file
  why         a note for the reader: what makes this case matter

Always checked: the exit status, every log line's timestamp (MM/DD/YYYY
HH:MM:SS, TAB; within the run's local time) and CR LF, and that nothing is
written into the program's working folder.
"""

import importlib
import os
import pkgutil
import re as _re
import sys

TOPIC_PREFIX = "topic_"
NAME_PATTERN = _re.compile(r"^[a-z0-9_]+$")
TARGETS = ("host", "wine")


class Pattern:
    """An expected log message given as a regular expression (full match)."""

    def __init__(self, pattern):
        self.pattern = pattern
        self.compiled = _re.compile(pattern, _re.DOTALL)

    def matches(self, text):
        return self.compiled.fullmatch(text) is not None

    def __repr__(self):
        return "pattern(%r)" % self.pattern


def pattern(regex):
    return Pattern(regex)


def filler(size, line=b"filler line of a scenario file"):
    """`size` bytes of CR LF terminated text lines (the last one may be cut)."""
    unit = line + b"\r\n"
    whole, rest = divmod(size, len(unit))
    return unit * whole + unit[:rest]


def log_filler(size):
    """An old activity log of exactly `size` bytes: well-formed log lines of
    an earlier day, the last one padded so that the size is exact."""
    line = b"01/02/2020 03:04:05\tINF : line of an earlier run "
    unit_size = 100
    unit = line + b"." * (unit_size - len(line) - 2) + b"\r\n"
    whole, rest = divmod(size, unit_size)
    if whole == 0:
        return filler(size)
    if rest == 0:
        return unit * whole
    if rest >= len(line) + 2:
        return unit * whole + line + b"." * (rest - len(line) - 2) + b"\r\n"
    # too short for a line of its own: lengthen the last whole line instead
    return unit * (whole - 1) + line + b"." * (unit_size + rest - len(line) - 2) + b"\r\n"


def default_install(name):
    return "C:\\QTest\\" + name


def install_path(scenario):
    return scenario.get("install", default_install(scenario["name"]))


def install_dir_text(scenario):
    """The install path as the program forms it: with a final backslash."""
    path = install_path(scenario)
    return path if path.endswith("\\") else path + "\\"


def fill_placeholders(text, scenario):
    return (text.replace("{install}", install_dir_text(scenario))
                .replace("{install_raw}", install_path(scenario)))


def topics_dir():
    return os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def load_all():
    """Every scenario of every topic module: [(id, scenario)], id = topic.name."""
    folder = topics_dir()
    if folder not in sys.path:
        sys.path.insert(0, folder)
    found, names = [], {}
    for info in sorted(pkgutil.iter_modules([folder]), key=lambda m: m.name):
        if not info.name.startswith(TOPIC_PREFIX):
            continue
        topic = info.name[len(TOPIC_PREFIX):]
        module = importlib.import_module(info.name)
        for scenario in module.SCENARIOS:
            validate(scenario, topic)
            name = scenario["name"]
            if name in names:
                raise ValueError("scenario name %s is used by topics %s and %s"
                                 % (name, names[name], topic))
            names[name] = topic
            found.append((topic + "." + name, scenario))
    return found


KNOWN_KEYS = {
    "name", "install", "registry", "registry_keys", "registry_format", "files",
    "folders", "services", "host_bin", "now", "targets", "command", "exit", "log",
    "log_match", "log_filter", "log_absent", "log_kept", "expect", "nothing_written",
    "why", "windows_command_line",
}


def validate(scenario, topic):
    name = scenario.get("name", "?")
    where = "scenario %s.%s" % (topic, name)
    unknown = set(scenario) - KNOWN_KEYS
    if unknown:
        raise ValueError("%s: unknown keys %s" % (where, sorted(unknown)))
    if not NAME_PATTERN.match(name):
        raise ValueError("%s: name must be lower-case letters, digits and _" % where)
    for key in ("command", "exit"):
        if key not in scenario:
            raise ValueError("%s: %s is missing" % (where, key))
    if scenario.get("log_match", "exact") not in ("exact", "subsequence", "filtered"):
        raise ValueError("%s: log_match must be exact, subsequence or filtered" % where)
    if scenario.get("log_match") == "filtered" and not scenario.get("log_filter"):
        raise ValueError("%s: log_match filtered needs log_filter" % where)
    for target in scenario.get("targets", TARGETS):
        if target not in TARGETS:
            raise ValueError("%s: unknown target %s" % (where, target))
    if "\0" in scenario["command"]:
        raise ValueError("%s: a command text cannot hold NUL" % where)
