"""Every scenario of the topic modules on one target (README.md): pytest-3
tests/scenarios --target host|wine [--topic TOPIC]. With
QUILLET_SCENARIO_STRICT=1 a missing tool or binary fails instead of skipping."""

import datetime
import fnmatch
import os
import pathlib
import re
import time

import pytest

from harness import checks
from harness import scenario as scn
from harness import targets
from common import LOG, RUN_LINES

STRICT = os.environ.get("QUILLET_SCENARIO_STRICT") == "1"


def pytest_generate_tests(metafunc):
    option = metafunc.config.getoption
    chosen = [pytest.param(scenario, id=scenario_id) for scenario_id, scenario in scn.load_all()
              if option("target") in scenario.get("targets", scn.TARGETS)
              and option("topic") in (None, scenario_id.split(".")[0])]
    metafunc.parametrize("scenario", chosen)


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
    return failures + checks.compare_messages(expected, messages, run.get("log_filter"))


def set_zone(zone):
    """The runner's local time and its programs' (both follow TZ)."""
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


def test_scenario(scenario, target):
    scenario = scn.for_target(scenario, target.name)
    reason = target.unavailable(scenario)
    if reason:
        (pytest.fail if STRICT else pytest.skip)(reason)
    if target.skip(scenario):
        pytest.skip(target.skip(scenario))
    runs = scn.runs_of(scenario)
    failures, outputs, log_path = [], [], None
    set_zone(target.zone)
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
    finally:
        target.finish()
        # shown by pytest when the scenario fails
        data, given = read(log_path) if log_path else None, given_log(scenario)
        if data is not None:
            # without the log the scenario put in place (a 2 MiB one, say)
            data = data[len(given):] if given and data.startswith(given) else data
            print("activity log (%d bytes shown):" % len(data))
            for line in data.decode(checks.ANSI, "replace").split("\r\n")[:300]:
                print("    | " + line)
        if outputs:
            print("program output:\n    " + "\n".join(outputs).replace("\n", "\n    "))
        print("machine kept in %s" % getattr(target, "work", "(not made)"))
    if failures:
        pytest.fail("command texts of the runs: %r\n" % [run["command"] for run in runs]
                    + "\n".join("- " + failure.replace("\n", "\n  ") for failure in failures),
                    pytrace=False)
