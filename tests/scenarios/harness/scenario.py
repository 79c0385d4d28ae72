"""Scenarios: dicts in the list SCENARIOS of topic_<topic>.py, id <topic>.<name>
(keys in tests/scenarios/README.md). An unknown key, file spec or check is an
error, so that a misspelt expectation never passes unchecked."""

import collections
import importlib
import os
import pkgutil
import re
import sys

from . import checks
from .checks import pattern  # noqa: F401 (the topics import it from here)

TARGETS = ("host", "wine")
RUN_KEYS = {"command", "exit", "log", "log_filter", "log_kept", "expect", "now", "days_later",
            "services", "files", "delete", "links", "why", "preview"}
MACHINE_KEYS = {"name", "install", "registry", "registry_keys", "files", "folders", "links",
                "services", "host_bin", "host_env", "targets", "why", "on_target", "runs",
                "nothing_written"}
FILE_KEYS = {"content", "size", "age_days", "modified_days_ago", "modified_at", "readonly",
             "copy"}


def filler(size, line=b"filler line of a scenario file\r\n"):
    """`size` bytes of CR LF terminated text lines (the last one may be cut)."""
    return (line * (size // len(line) + 1))[:size]


def log_filler(size):
    """An old activity log of exactly `size` bytes: well-formed lines of an
    earlier day, 100 bytes each, the last one lengthened to make up the size."""
    head = b"01/02/2020 03:04:05\tINF : line of an earlier run "
    if size < 100:
        return filler(size)
    lengths = [100] * (size // 100 - 1) + [100 + size % 100]
    return b"".join(head + b"." * (n - len(head) - 2) + b"\r\n" for n in lengths)


def install_path(scenario):
    return scenario.get("install", "C:\\QTest\\" + scenario["name"])


def fill(text, scenario):
    raw = install_path(scenario)
    return text.replace("{install}", raw.rstrip("\\") + "\\").replace("{install_raw}", raw)


def windows_path(scenario, path):
    """A path of a scenario table: relative to the install folder unless absolute."""
    path = fill(path, scenario)
    return path if path[1:2] == ":" else fill("{install}", scenario) + path


def runs_of(scenario):
    return scenario.get("runs", [scenario])


def moves_clock(scenario):
    return any(run.get("now") or run.get("days_later") is not None for run in runs_of(scenario))


def for_target(scenario, target):
    return dict(scenario, **scenario.get("on_target", {}).get(target, {}))


def validate(scenario, where):
    def need(condition, problem):
        if not condition:
            raise ValueError("scenario %s: %s" % (where, problem))

    need(re.fullmatch(r"[a-z0-9_]+", scenario.get("name", "")), "name: a-z, 0-9 and _ only")
    need(set(scenario.get("targets", TARGETS)) <= set(TARGETS), "unknown target")
    need(set(scenario.get("on_target", {})) <= set(TARGETS), "on_target: unknown target")
    for target in TARGETS:
        this = for_target(scenario, target)
        runs = this.get("runs")
        allowed = MACHINE_KEYS if runs is not None else MACHINE_KEYS | RUN_KEYS
        need(set(this) <= allowed, "unknown keys %s" % sorted(set(this) - allowed))
        need(runs is None or runs, "runs is empty")
        for number, run in enumerate(runs_of(this), 1):
            at = "run %d: " % number
            need(runs is None or set(run) <= RUN_KEYS, at + "unknown keys %s"
                 % sorted(set(run) - RUN_KEYS))
            need("command" in run and "exit" in run, at + "command or exit is missing")
            need("\0" not in run["command"], at + "a command text cannot hold NUL")
            for key, known in (("files", FILE_KEYS), ("links", {"target", "age_days"})):
                for spec in [*this.get(key, {}).values(), *run.get(key, {}).values()]:
                    need(not isinstance(spec, dict) or set(spec) <= known,
                         at + "unknown %s spec %s" % (key, spec))
            for path, check in run.get("expect", {}).items():
                problem = checks.unknown_check(path, check)
                need(not problem, at + problem)


def load_all():
    """Every scenario of every topic module: [(topic.name, scenario)]."""
    folder = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if folder not in sys.path:
        sys.path.insert(0, folder)
    found, topics = [], {}
    for info in sorted(pkgutil.iter_modules([folder]), key=lambda m: m.name):
        if not info.name.startswith("topic_"):
            continue
        topic = info.name[len("topic_"):]
        for scenario in importlib.import_module(info.name).SCENARIOS:
            name = scenario.get("name", "?")
            validate(scenario, topic + "." + name)
            if name in topics:
                raise ValueError("scenario name %s is used by topics %s and %s"
                                 % (name, topics[name], topic))
            topics[name] = topic
            found.append((topic + "." + name, scenario))
    return found


if __name__ == "__main__":  # for CMake: "TARGET TOPIC SCENARIOS", one line per ctest entry
    entries = collections.Counter((target, scenario_id.split(".")[0])
                                  for scenario_id, scenario in load_all()
                                  for target in scenario.get("targets", TARGETS))
    for (target, topic), count in sorted(entries.items()):
        print(target, topic, count)
