"""What a scenario is, and where scenarios come from.

A scenario is a small dict in a topic module (tests/scenarios/topic_*.py, a
list named SCENARIOS). Keys, all optional but `name`, `command` and `exit`
(which a scenario of several runs gives in each run instead):

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
              "modified_days_ago" (last-modified that many calendar days
              before today, at "modified_at", "HH:MM:SS", default noon),
              "readonly"; or {"copy": NAME}: the support program NAME of
              tests/support (e.g. "parvix_standin.exe"), the built one under
              Wine, its stand-in on the host (harness/support_programs.py)
  folders     [path, ...] empty folders to create
  links       {path: target path | {"target": path, "age_days": N}}: a
              symbolic link to a folder or file (a Unix symlink on both
              targets: Wine 8 cannot make Windows links); "age_days" sets the
              link's own last-modified time, "target_age_days" that of what it
              points to (a folder's, say)
  services    the service control manager: None = none at all on the host
              (it refuses the connection, every service reads as not
              running); a dict {name: state}, state one of the host table's
              (running, stopped, paused, start_pending, stop_pending, ...),
              "driver" (a loaded kernel driver) or None (no such service);
              or the host table's text. Under Wine real services of
              tests/support/test_service.exe (harness/wine_services.py)
  host_bin    {program name: script text} placed in <machine>/bin (host only)
  host_env    {name: value} environment of the host program (host only), e.g.
              PATH; "{machine}" stands for the machine folder
  now         "YYYY-MM-DD HH:MM:SS": the local time the run starts at (host,
              through faketime; the clock cannot be moved under Wine)
  days_later  N: the run starts at noon N days after the day the machine was
              prepared (host, faketime): files born at preparation are then
              exactly N calendar days old whatever the time of day
  local_hour  H: the run's time zone is a fixed offset from UTC chosen so that
              the local hour is H when the scenario starts (both targets)
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
  on_target   {"host" | "wine": {key: value}}: keys that replace the
              scenario's own on that target, where the platform itself
              differs (say why in `why`)
  runs        [run, ...]: several runs of the program on the same machine,
              in order. A run is a dict of the keys of RUN_KEYS: command,
              exit, log (the messages that this run adds to the log), expect
              (checked after this run), ... and the changes made before it
              starts: "services" (the states that change), "files" (written),
              "delete" (paths removed). The scenario's own keys then prepare
              the machine only.

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
    "folders", "services", "host_bin", "host_env", "now", "targets", "command", "exit", "log",
    "log_match", "log_filter", "log_absent", "log_kept", "expect", "nothing_written",
    "why", "windows_command_line", "on_target", "runs", "days_later", "links", "local_hour",
}


# What one run of the program is given and checked with.
RUN_KEYS = {
    "command", "exit", "log", "log_match", "log_filter", "log_absent", "log_kept", "expect",
    "windows_command_line", "now", "days_later", "services", "files", "delete", "why",
}
# Keys of a scenario with "runs" that prepare the machine; the others belong to a run.
MACHINE_KEYS = KNOWN_KEYS - (RUN_KEYS - {"services", "files", "why"}) - {"nothing_written"}


def runs_of(scenario):
    """The runs of a scenario in order: its "runs", or the scenario itself as
    its one run (its files and services then prepare the machine)."""
    if "runs" in scenario:
        return list(scenario["runs"])
    return [{key: scenario[key] for key in RUN_KEYS - {"services", "files"} if key in scenario}]


def moves_clock(scenario):
    return any(step.get("now") or step.get("days_later") is not None
               for step in runs_of(scenario))


def uses_services(scenario):
    return bool(scenario.get("services")) or any(step.get("services")
                                                 for step in runs_of(scenario))


def for_target(scenario, target):
    """The scenario as it runs on `target`: its on_target keys applied."""
    changes = scenario.get("on_target", {}).get(target)
    if not changes:
        return scenario
    result = dict(scenario)
    result.update(changes)
    return result


def validate(scenario, topic):
    name = scenario.get("name", "?")
    where = "scenario %s.%s" % (topic, name)
    unknown = set(scenario) - KNOWN_KEYS
    if unknown:
        raise ValueError("%s: unknown keys %s" % (where, sorted(unknown)))
    if not NAME_PATTERN.match(name):
        raise ValueError("%s: name must be lower-case letters, digits and _" % where)
    if "runs" in scenario:
        misplaced = set(scenario) - MACHINE_KEYS
        if misplaced:
            raise ValueError("%s: with runs, %s belong in each run" % (where, sorted(misplaced)))
        if not scenario["runs"]:
            raise ValueError("%s: runs is empty" % where)
        for number, step in enumerate(scenario["runs"], 1):
            unknown = set(step) - RUN_KEYS
            if unknown:
                raise ValueError("%s, run %d: unknown keys %s" % (where, number, sorted(unknown)))
    for number, step in enumerate(runs_of(scenario), 1):
        at = where if "runs" not in scenario else "%s, run %d" % (where, number)
        for key in ("command", "exit"):
            if key not in step:
                raise ValueError("%s: %s is missing" % (at, key))
        if step.get("log_match", "exact") not in ("exact", "subsequence", "filtered"):
            raise ValueError("%s: log_match must be exact, subsequence or filtered" % at)
        if step.get("log_match") == "filtered" and not step.get("log_filter"):
            raise ValueError("%s: log_match filtered needs log_filter" % at)
        if "\0" in step["command"]:
            raise ValueError("%s: a command text cannot hold NUL" % at)
    if "local_hour" in scenario and scenario["local_hour"] not in range(24):
        raise ValueError("%s: local_hour must be 0 to 23" % where)
    for target in scenario.get("targets", TARGETS):
        if target not in TARGETS:
            raise ValueError("%s: unknown target %s" % (where, target))
    for target, changes in scenario.get("on_target", {}).items():
        if target not in TARGETS:
            raise ValueError("%s: on_target names an unknown target %s" % (where, target))
        wrong = set(changes) - (KNOWN_KEYS - {"name", "on_target"})
        if wrong:
            raise ValueError("%s: on_target %s cannot set %s" % (where, target, sorted(wrong)))
