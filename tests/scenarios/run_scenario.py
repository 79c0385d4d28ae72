#!/usr/bin/env python3
"""Scenario runner (tests/scenarios/README.md). Exit status: 0 all passed, 1
one failed, 77 all skipped; with QUILLET_SCENARIO_STRICT=1 a missing tool or
binary fails instead of skipping."""

import argparse
import contextlib
import datetime
import fnmatch
import os
import re
import pathlib
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import checks  # noqa: E402
from harness import scenario as scn  # noqa: E402
from harness import targets  # noqa: E402
from harness import wine  # noqa: E402
from common import RUN_LINES  # noqa: E402

SKIPPED = 77
LOG = "ApplicationLog\\MNStatusLog.txt"
STRICT = os.environ.get("QUILLET_SCENARIO_STRICT") == "1"


def read(path):
    return pathlib.Path(path).read_bytes() if os.path.isfile(path) else None


def given_log(scenario):
    """The activity log that the scenario itself puts in place, or None."""
    specs = [spec for path, spec in scenario.get("files", {}).items() if path.lower() == LOG.lower()]
    return targets.file_content(specs[0]) if specs else None


def check_log(scenario, run, data, earlier, window):
    """The log of one run: `earlier` is the log as the earlier runs of the
    scenario left it (this run must keep it and append), None for a first run."""
    given = given_log(scenario)
    if run.get("log") is None:
        if data is None and earlier is None or earlier is not None and data == earlier:
            return []
        return ["the activity log was written but should not be: %r"
                % (data or b"")[len(earlier or b""):][:400]]
    if data is None:
        return ["there is no activity log"]
    if earlier is not None or run.get("log_kept"):
        before = earlier if earlier is not None else given
        if before is None or not data.startswith(before):
            return ["the log in place before the run (%d bytes) was not kept and appended to "
                    "(%d bytes now)" % (len(before or b""), len(data))]
        data = data[len(before):]
    elif given and data.startswith(given):
        return ["the log in place before the run (%d bytes) is still there" % len(given)]
    messages, failures = checks.check_log_lines(data, *window)
    expected = [scn.fill(e, scenario) if isinstance(e, str) else e for e in run["log"]]
    return failures + checks.compare_messages(expected, messages, run.get("log_match", "exact"),
                                              run.get("log_filter", ()))


def set_zone(zone, hour=None):
    """The runner's local time and its programs' (both follow TZ): `zone`, or
    a fixed-offset zone in which it is now `hour` o'clock."""
    if hour is not None:
        offset = (hour - datetime.datetime.now(datetime.timezone.utc).hour) % 24
        # POSIX counts west of UTC: "QLH-3" is three hours ahead
        zone = "QLH%d" % -(offset - 24 if offset > 12 else offset)
    os.environ["TZ"] = zone
    time.tzset()


# The lines by which a run shows what it chose to do; a preview starts no
# program, so the registration's outcome is not among them.
DECISIONS = [line for line in RUN_LINES if "Logparser" not in line]


def decisions(messages):
    return [m for m in messages if any(re.search(d, m) for d in DECISIONS)]


def preview(target, run):
    """Runs `--preview` with the run's command text before the run itself,
    and checks that it changed nothing. Returns the check to make after the
    run, given the log the run added: every file the run deleted was named on
    a "delete" line, and the exit status and the run's own lines the preview
    foretold are the run's."""
    roots = target.watched()
    before = [checks.snapshot(root, deep) for root, deep in roots]
    status, shown = target.run(dict(run, command="--preview " + run["command"]))
    failures = [] if status == 0 else ["the preview ended with exit status %s" % status]
    for (root, deep), earlier in zip(roots, before):
        failures += ["preview: " + f for f in
                     checks.compare_snapshots(earlier, checks.snapshot(root, deep))]
    # a letter with no ANSI form is shown as "?", as in the log
    named = [target.resolve(path).replace("?", "*")
             for path in re.findall(r"^delete  (.+?) \(", shown, re.M)]
    foretold = re.findall(r"^exit    (\d+)\s*$", shown, re.M)
    foreseen = decisions(re.findall(r"^log     [^\t\n]*\t(.*?)\r?$", shown, re.M))

    def after(run_status, added_log):
        found = list(failures)
        if foretold != [str(run_status)]:
            found.append("the preview foretold exit status %s, the run ended with %s"
                         % (foretold, run_status))
        done = decisions(line.split("\t", 1)[-1]
                         for line in added_log.decode(checks.ANSI, "replace").split("\r\n"))
        if foreseen != done:
            found.append("the preview foretold the run's lines %r, the run wrote %r"
                         % (foreseen, done))
        for (root, deep), earlier in zip(roots, before):
            gone = [path for path, entry in earlier.items()
                    if deep and not entry[0] and not os.path.lexists(path)]
            found += ["the run deleted %s, which the preview did not name" % path
                      for path in sorted(gone)
                      if not any(fnmatch.fnmatchcase(path, name) for name in named)]
        return found + (["preview output:\n" + shown] if found else [])
    return after


def run_one(scenario_id, scenario, target, zone):
    """Runs one scenario on one target; returns "pass", "fail" or "skip"."""
    title = "%s on %s" % (scenario_id, target.name)
    scenario = scn.for_target(scenario, target.name)
    if target.name not in scenario.get("targets", scn.TARGETS):
        print("SKIP %s: not a scenario of this target" % title)
        return "skip"
    reason = target.unavailable(scenario)
    if reason:
        print("%s %s: %s" % ("FAIL" if STRICT else "SKIP", title, reason))
        return "fail" if STRICT else "skip"
    if target.skip(scenario):
        print("SKIP %s: %s" % (title, target.skip(scenario)))
        return "skip"
    started = time.monotonic()
    runs = scn.runs_of(scenario)
    failures, outputs, log_path = [], [], None
    set_zone(zone, scenario.get("local_hour"))
    try:
        target.prepare(scenario)
        log_path = target.resolve(scn.fill("{install}" + LOG, scenario))
        placed = os.listdir(target.cwd)  # programs a search by name must pass over
        watched = [(root, deep, checks.snapshot(root, deep)) for root, deep in
                   (target.watched() if scenario.get("nothing_written") else ())]
        earlier = None
        for number, run in enumerate(runs, 1):
            label = "run %d (%r): " % (number, run["command"]) if len(runs) > 1 else ""
            if "runs" in scenario:  # each run's changes, the first run's too
                target.change(run)
            if number > 1:
                earlier = read(log_path)  # None: no log yet, as before a first run
            previewed = run.get("preview") and preview(target, run)
            start = target.start_time(run) or datetime.datetime.now()
            log_before = read(log_path) or b""
            began = time.monotonic()
            status, output = target.run(run)
            if previewed:
                added = read(log_path) or b""
                added = added[len(log_before):] if added.startswith(log_before) else added
                failures += [label + failure for failure in previewed(status, added)]
            window = (start, start + datetime.timedelta(seconds=time.monotonic() - began))
            outputs += [label + output.strip()] if output.strip() else []
            found = [] if status == run["exit"] else [
                "exit status %s, expected %d" % (status, run["exit"])]
            found += check_log(scenario, run, read(log_path), earlier, window)
            expect = {scn.windows_path(scenario, path): check
                      for path, check in run.get("expect", {}).items()}
            found += checks.check_expectations(expect, target.resolve)
            failures += [label + failure for failure in found]
        for root, deep, before in watched:
            failures += checks.compare_snapshots(before, checks.snapshot(root, deep))
        if sorted(os.listdir(target.cwd)) != sorted(placed):
            failures.append("the run wrote into its working folder: %s"
                            % sorted(set(os.listdir(target.cwd)) - set(placed)))
    except Exception:  # noqa: BLE001 (any fault of the harness fails the scenario)
        failures.append("the machine could not be prepared or run:\n"
                        + traceback.format_exc())
    finally:
        try:
            target.finish()
        except Exception:  # noqa: BLE001
            failures.append("the machine could not be cleared:\n" + traceback.format_exc())
    elapsed = time.monotonic() - started
    if not failures:
        print("PASS %s (%.1f s)" % (title, elapsed))
        return "pass"
    print("FAIL %s (%.1f s)" % (title, elapsed))
    print("  command texts of the runs: %r" % [run["command"] for run in runs])
    for failure in failures:
        print("  - " + failure.replace("\n", "\n    "))
    data, given = read(log_path) if log_path else None, given_log(scenario)
    if data is not None:
        # without the log the scenario put in place (a 2 MiB one, say)
        data = data[len(given):] if given and data.startswith(given) else data
        print("  activity log (%d bytes shown):" % len(data))
        for line in data.decode(checks.ANSI, "replace").split("\r\n")[:300]:
            print("    | " + line)
    if outputs:
        print("  program output:\n    " + "\n".join(outputs).replace("\n", "\n    "))
    print("  machine kept in %s" % getattr(target, "work", "(not made)"))
    return "fail"


def command_run(args):
    everything = dict(scn.load_all())
    ids = list(everything) if args.ids == ["all"] else args.ids
    if set(ids) - set(everything):
        print("unknown scenarios: %s" % sorted(set(ids) - set(everything)))
        return 1
    # A folder of this invocation's own: two test runs of one build folder at
    # the same time never clear each other's machines.
    os.makedirs(args.work, exist_ok=True)
    run_work = tempfile.mkdtemp(prefix="run-", dir=args.work)
    lock = contextlib.nullcontext()
    # the runner's own clock (file ages, the run's window) in the program's zone
    zone = os.environ.get("TZ", "UTC")
    if args.target == "host":
        zone = targets.HOST_TIME_ZONE
        target = targets.HostTarget(os.path.abspath(args.quillet), run_work)
    else:
        prefix = os.path.abspath(args.prefix)
        target = targets.WineTarget(os.path.abspath(args.quillet_exe),
                                    os.path.abspath(args.rawlaunch), prefix, run_work)
        if not wine.missing_tools():
            # without the ctest fixture nobody has made the prefix yet
            if not os.path.exists(os.path.join(prefix, wine.READY_MARK)):
                wine.setup(prefix, os.path.join(args.work, "wine-setup.log"))
            lock = wine.locked(prefix)
    with lock:
        results = [run_one(i, everything[i], target, zone) for i in ids]
    if "fail" not in results:  # else a failed scenario's machine stays, and run_one said where
        targets.remove_tree(run_work)
    if len(ids) > 1:
        print("%d passed, %d failed, %d skipped" % tuple(map(results.count, ("pass", "fail",
                                                                             "skip"))))
    return 1 if "fail" in results else SKIPPED if set(results) == {"skip"} else 0


def command_wine(args):
    if wine.missing_tools():
        print("Wine is not installed (%s not found)" % ", ".join(wine.missing_tools()))
        return 1 if STRICT and args.command == "wine-setup" else SKIPPED
    prefix, log_path = os.path.abspath(args.prefix), os.path.join(args.work, "wine-setup.log")
    os.makedirs(args.work, exist_ok=True)
    if args.command == "wine-teardown":
        wine.teardown(prefix, log_path)
        print("wineserver of %s stopped" % prefix)
        return 0
    started = time.monotonic()
    try:
        wine.setup(prefix, log_path)
    except (RuntimeError, OSError) as error:
        print("the Wine prefix could not be prepared: %s" % error)
        return 1
    print("Wine prefix %s ready, persistent wineserver running (%.1f s)"
          % (prefix, time.monotonic() - started))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("command", choices=("list", "run", "wine-setup", "wine-teardown"))
    parser.add_argument("--target", choices=scn.TARGETS)
    for option in ("--quillet", "--quillet-exe", "--rawlaunch", "--prefix", "--work"):
        parser.add_argument(option)
    parser.add_argument("ids", nargs="*")
    args = parser.parse_intermixed_args()
    sys.stdout.reconfigure(line_buffering=True)
    if args.command == "list":
        for scenario_id, scenario in scn.load_all():
            print(scenario_id, ",".join(scenario.get("targets", scn.TARGETS)))
        return 0
    needed = ["work", "prefix"]
    if args.command == "run":
        needed = ["target", "work", "ids"] + (["quillet"] if args.target == "host" else
                                               ["quillet_exe", "rawlaunch", "prefix"])
    for option in needed:
        if not getattr(args, option):
            parser.error("%s needs %s" % (args.command, option.replace("_", "-")))
    # the program runs in a folder of its own: every path handed to it is absolute
    args.work = os.path.abspath(args.work)
    return command_run(args) if args.command == "run" else command_wine(args)


if __name__ == "__main__":
    sys.exit(main())
