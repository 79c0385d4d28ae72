#!/usr/bin/env python3
"""Scenario runner: prepares a machine from a scenario, runs the built program
on it (host binary or quillet.exe under Wine) and compares what it left.

  run_scenario.py list
  run_scenario.py run --target host --quillet BUILD/quillet --work DIR ID... | all
  run_scenario.py run --target wine --quillet-exe BUILD/quillet.exe
                      --rawlaunch BUILD/tests/support/rawlaunch.exe
                      --prefix PREFIX --work DIR ID... | all
  run_scenario.py wine-setup --prefix PREFIX --work DIR
  run_scenario.py wine-teardown --prefix PREFIX --work DIR

IDs are topic.name as `list` prints them. Exit status: 0 all passed, 1 one
failed, 77 all skipped (ctest's SKIP_RETURN_CODE). With QUILLET_SCENARIO_STRICT=1
(set by scripts/test) a missing tool or binary fails instead of skipping.
"""

import argparse
import datetime
import os
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import checks  # noqa: E402
from harness import scenario as scn  # noqa: E402
from harness import targets  # noqa: E402
from harness import wine_env  # noqa: E402

SKIPPED = 77
LOG_FILE = "ApplicationLog\\MNStatusLog.txt"


def created_log(scenario):
    """The activity log that the scenario itself puts in place, if any."""
    for path, spec in scenario.get("files", {}).items():
        if path.lower() == LOG_FILE.lower():
            return targets._content_of(spec)
    return None


def read_log(scenario, target):
    """The activity log's bytes, or None when there is none."""
    path = target.resolve(scn.install_dir_text(scenario) + LOG_FILE)
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as handle:
        return handle.read()


def check_log(scenario, target, window, step=None, earlier=None):
    """The log of one run: `step` gives what is expected (the scenario itself
    for a scenario of one run); `earlier` is the log as the earlier runs of
    the scenario left it, which this run must have kept and appended to."""
    step = step if step is not None else scenario
    path = target.resolve(scn.install_dir_text(scenario) + LOG_FILE)
    expected = step.get("log")
    if expected is None:
        if earlier is not None:
            now = read_log(scenario, target)
            if now != earlier:
                return ["the run changed the activity log but should not have: %r"
                        % (now or b"")[len(earlier):][:400]]
            return []
        if os.path.lexists(path):
            with open(path, "rb") as handle:
                return ["an activity log was written but none should be: %r" % handle.read()[:400]]
        return []
    if not os.path.isfile(path):
        return ["no activity log %s" % path]
    with open(path, "rb") as handle:
        data = handle.read()
    failures = []
    old = created_log(scenario)
    if earlier is not None:
        if not data.startswith(earlier):
            return ["the log of the earlier runs (%d bytes) was not kept and appended to "
                    "(%d bytes now)" % (len(earlier), len(data))]
        data = data[len(earlier):]
    elif step.get("log_kept"):
        if old is None or not data.startswith(old):
            return ["the log in place before the run was not kept and appended to "
                    "(%d bytes now, %d before)" % (len(data), len(old or b""))]
        data = data[len(old):]
    elif old and data.startswith(old):
        return ["the log in place before the run (%d bytes) is still there" % len(old)]

    stamps, messages, problems = checks.parse_log(data)
    failures += problems
    failures += checks.stamps_within([s for s in stamps if s is not None], *window)
    wanted = [scn.fill_placeholders(e, scenario) if isinstance(e, str) else e for e in expected]
    failures += checks.compare_messages(wanted, messages, step.get("log_match", "exact"),
                                        step.get("log_filter", ()))
    failures += checks.absent_messages(step.get("log_absent", ()), messages)
    return failures


class local_hour_zone:
    """While active, the runner and the programs it starts (both inherit TZ)
    keep local time in a fixed-offset zone in which it is now `hour` o'clock."""

    def __init__(self, hour):
        self.hour = hour

    def __enter__(self):
        self.saved = os.environ.get("TZ")
        if self.hour is None:
            return self
        utc_hour = datetime.datetime.now(datetime.timezone.utc).hour
        offset = (self.hour - utc_hour) % 24
        if offset > 12:
            offset -= 24
        # POSIX counts the offset west of UTC: "QLH-3" is three hours ahead
        os.environ["TZ"] = "QLH%d" % -offset
        time.tzset()
        return self

    def __exit__(self, *_exc):
        if self.hour is not None:
            if self.saved is None:
                os.environ.pop("TZ", None)
            else:
                os.environ["TZ"] = self.saved
            time.tzset()
        return False


def snapshot_all(target):
    result = {}
    for label, root in target.watched_trees().items():
        if isinstance(root, tuple):
            result[label] = checks.snapshot(*root)
        else:
            result[label] = checks.snapshot(root)
    return result


def run_one(scenario_id, scenario, target, strict):
    """Runs one scenario on one target; returns "pass", "fail" or "skip"."""
    title = "%s on %s" % (scenario_id, target.name)
    scenario = scn.for_target(scenario, target.name)
    if target.name not in scenario.get("targets", scn.TARGETS):
        print("SKIP %s: not a scenario of this target" % title)
        return "skip"
    reason = target.unavailable(scenario)
    if reason:
        print("%s %s: %s" % ("FAIL" if strict else "SKIP", title, reason))
        return "fail" if strict else "skip"
    reason = getattr(target, "scenario_skip", lambda s: None)(scenario)
    if reason:
        print("SKIP %s: %s" % (title, reason))
        return "skip"

    started = time.monotonic()
    steps = scn.runs_of(scenario)
    several = len(steps) > 1
    failures, outputs = [], []
    with local_hour_zone(scenario.get("local_hour")):
        try:
            target.begin(scenario)
            target.prepare()
            before = snapshot_all(target) if scenario.get("nothing_written") else None
            for number, step in enumerate(steps, 1):
                label = "run %d (%r): " % (number, step["command"]) if several else ""
                target.apply_step(step)
                earlier = read_log(scenario, target) if number > 1 else None
                if earlier is None and number > 1:
                    earlier = b""
                # the local time the program sees: moved by faketime when the run says so
                clock_start = target.run_clock(step) or datetime.datetime.now()
                run_started = time.monotonic()
                status, output = target.run(step)
                window = (clock_start,
                          clock_start + datetime.timedelta(seconds=time.monotonic() - run_started))
                if output.strip():
                    outputs.append(label + output.strip())
                found = []
                if status != step["exit"]:
                    found.append("exit status %s, expected %d" % (status, step["exit"]))
                found += check_log(scenario, target, window, step, earlier)
                fill = lambda text: scn.fill_placeholders(text, scenario)  # noqa: E731
                expect = {targets.scenario_path(scenario, path): check
                          for path, check in step.get("expect", {}).items()}
                found += checks.check_expectations(expect, target.resolve, fill)
                failures += [label + failure for failure in found]
        except (targets.SetupError, OSError, ValueError) as error:
            print("FAIL %s: the machine could not be prepared or run: %s" % (title, error))
            traceback.print_exc()
            print("  machine kept in %s" % target.work)
            _finish(target, title)
            return "fail"
        if before is not None:
            after = snapshot_all(target)
            for label in before:
                failures += checks.compare_snapshots(label, before[label], after[label])
        leftovers = sorted(os.listdir(target.cwd)) if os.path.isdir(target.cwd) else []
        if leftovers:
            failures.append("the run wrote into its working folder: %s" % leftovers)
        if not _finish(target, title):
            failures.append("the machine could not be cleared after the runs (see above)")

    elapsed = time.monotonic() - started
    if not failures:
        print("PASS %s (%.1f s)" % (title, elapsed))
        return "pass"
    print("FAIL %s (%.1f s)" % (title, elapsed))
    for number, step in enumerate(steps, 1):
        print("  command text%s: %r" % (" of run %d" % number if several else "", step["command"]))
    for failure in failures:
        print("  - " + failure.replace("\n", "\n    "))
    log_path = target.resolve(scn.install_dir_text(scenario) + LOG_FILE)
    if os.path.isfile(log_path):
        with open(log_path, "rb") as handle:
            data = handle.read()
        old = created_log(scenario)
        if old and data.startswith(old):
            data = data[len(old):]
        print("  activity log (%d bytes shown):" % len(data))
        for line in data.decode(checks.ANSI, "replace").split("\r\n")[:200]:
            print("    | " + line)
    if outputs:
        print("  program output:\n    " + "\n".join(outputs).replace("\n", "\n    "))
    print("  machine kept in %s" % target.work)
    return "fail"


def _finish(target, title):
    """Clears what must not outlive the scenario (Wine's services); False when
    that failed."""
    try:
        target.finish()
        return True
    except (targets.SetupError, OSError, ValueError) as error:
        print("FAIL %s: the machine could not be cleared: %s" % (title, error))
        return False


def make_target(args, work):
    if args.target == "host":
        return targets.HostTarget(os.path.abspath(args.quillet), work)
    return targets.WineTarget(os.path.abspath(args.quillet_exe), os.path.abspath(args.rawlaunch),
                              os.path.abspath(args.prefix), work)


def command_list(_args):
    for scenario_id, scenario in scn.load_all():
        print(scenario_id, ",".join(scenario.get("targets", scn.TARGETS)))
    return 0


def command_run(args):
    strict = os.environ.get("QUILLET_SCENARIO_STRICT") == "1"
    everything = dict(scn.load_all())
    ids = list(everything) if args.ids == ["all"] else args.ids
    unknown = [i for i in ids if i not in everything]
    if unknown:
        print("unknown scenarios: %s" % unknown)
        return 1
    # A folder of this invocation's own: runs at the same time (two ctest runs
    # of one build folder) never clear each other's machines.
    os.makedirs(args.work, exist_ok=True)
    run_work = tempfile.mkdtemp(prefix="run-", dir=args.work)
    target = make_target(args, run_work)
    results = []
    lock = _no_lock()
    if args.target == "wine" and not wine_env.missing_tools():
        # without the ctest fixture nobody has made the prefix yet
        wine_env.ensure(os.path.abspath(args.prefix), os.path.join(args.work, "wine-setup.log"))
        lock = wine_env.locked(os.path.abspath(args.prefix))
    with lock:
        for scenario_id in ids:
            results.append(run_one(scenario_id, everything[scenario_id], target, strict))
            # a failed scenario's machine stays, and run_one said where
            if results[-1] == "pass":
                targets.remove_tree(target.work)
    if "fail" not in results:
        targets.remove_tree(run_work)
    if len(ids) > 1:
        print("%d passed, %d failed, %d skipped" % (results.count("pass"), results.count("fail"),
                                                    results.count("skip")))
    if "fail" in results:
        return 1
    return SKIPPED if results and all(r == "skip" for r in results) else 0


class _no_lock:
    def __enter__(self):
        return self

    def __exit__(self, *_exc):
        return False


def command_wine_setup(args):
    strict = os.environ.get("QUILLET_SCENARIO_STRICT") == "1"
    missing = wine_env.missing_tools()
    if missing:
        print("Wine is not installed (%s not found)" % ", ".join(missing))
        return 1 if strict else SKIPPED
    prefix = os.path.abspath(args.prefix)
    log_path = os.path.join(args.work, "wine-setup.log")
    os.makedirs(args.work, exist_ok=True)
    started = time.monotonic()
    try:
        wine_env.setup(prefix, log_path)
    except (RuntimeError, OSError) as error:
        print("the Wine prefix could not be prepared: %s" % error)
        return 1
    print("Wine prefix %s ready, persistent wineserver running (%.1f s)"
          % (prefix, time.monotonic() - started))
    return 0


def command_wine_teardown(args):
    if wine_env.missing_tools():
        return SKIPPED
    os.makedirs(args.work, exist_ok=True)
    wine_env.teardown(os.path.abspath(args.prefix), os.path.join(args.work, "wine-setup.log"))
    print("wineserver of %s stopped" % os.path.abspath(args.prefix))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    sub.add_parser("list")
    run = sub.add_parser("run")
    run.add_argument("--target", choices=scn.TARGETS, required=True)
    run.add_argument("--quillet", help="host binary")
    run.add_argument("--quillet-exe", help="Windows binary")
    run.add_argument("--rawlaunch", help="rawlaunch.exe")
    run.add_argument("--prefix", help="Wine prefix")
    run.add_argument("--work", required=True,
                     help="folder in which each run makes its own folder for the machines")
    run.add_argument("ids", nargs="+")
    for name in ("wine-setup", "wine-teardown"):
        wine = sub.add_parser(name)
        wine.add_argument("--prefix", required=True)
        wine.add_argument("--work", required=True)
    args = parser.parse_args()
    # the program runs in a folder of its own: every path handed to it is absolute
    if hasattr(args, "work"):
        args.work = os.path.abspath(args.work)
    if args.command == "run":
        needed = ["quillet"] if args.target == "host" else ["quillet_exe", "rawlaunch", "prefix"]
        for option in needed:
            if not getattr(args, option):
                parser.error("--%s is needed for --target %s" % (option.replace("_", "-"),
                                                                  args.target))
    handler = {"list": command_list, "run": command_run, "wine-setup": command_wine_setup,
               "wine-teardown": command_wine_teardown}[args.command]
    sys.stdout.reconfigure(line_buffering=True)
    return handler(args)


if __name__ == "__main__":
    sys.exit(main())
