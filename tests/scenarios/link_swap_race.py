#!/usr/bin/env python3
"""An adversary swaps the sweeps' subfolders for links while they run.

The host program runs LOG and DATA over 1,500 subfolders of aged files. While
it runs, another process renames those subfolders away (into a folder of the
agent that no sweep walks) and puts in their place symbolic links to a folder
outside the agent folder, in a random order, so that the swaps land at every
stage of the walk: before a subfolder is listed, between its listing and its
opening, while it is being swept. Nothing outside the agent folder may change,
whatever moment a swap hits.

Usage: link_swap_race.py QUILLET [ROUNDS]   (exit 0 pass, 1 fail, 77 skip)
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SUBFOLDERS = 1500
DAY = 86400


def write(path, data=b"x", age_days=0):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if age_days:
        t = time.time() - age_days * DAY
        os.utime(path, (t, t))


def snapshot(root):
    """Every entry beneath root with what a sweep could change about it."""
    seen = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            seen[os.path.relpath(path, root)] = (st.st_mode, st.st_size, st.st_mtime_ns)
    return seen


def prepare(machine, sweep_folder):
    install = os.path.join(machine, "drives", "c", "AgentRace")
    with open(os.path.join(machine, "registry.reg"), "w", encoding="ascii", newline="\r\n") as f:
        f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\KORBOD]\n"
                "\"InstallationPath\"=\"C:\\\\AgentRace\"\n\"Type\"=\"RULK\"\n\"RegID\"=\"1\"\n")
    outside = os.path.join(machine, "outside")
    for name in ("old.log", "old.dat", "inner/old.log", "inner/old.dat"):
        write(os.path.join(outside, name), age_days=30)
    os.makedirs(os.path.join(outside, "empty"))  # the data sweep would remove it
    write(os.path.join(outside, "big.log"), b"\0" * (6 * 1024 * 1024))
    top = os.path.join(install, sweep_folder)
    for i in range(SUBFOLDERS):
        for name in ("a.log", "deeper/c.dat"):
            write(os.path.join(top, "d%04d" % i, name), age_days=30)
    os.makedirs(os.path.join(install, "Swapped"))
    return install, top, outside


def swapper(top, swapped, outside, started, stop, counts):
    started.wait()
    order = list(range(SUBFOLDERS))
    random.shuffle(order)
    for i in order:
        if stop.is_set():
            break
        name = "d%04d" % i
        try:
            os.rename(os.path.join(top, name), os.path.join(swapped, name))
            os.symlink(outside, os.path.join(top, name))
            counts["swaps"] += 1
        except OSError:
            pass  # already removed by the sweep


def one_round(quillet, command, seed):
    random.seed(seed)
    sweep_folder = "ApplicationLog" if command == "LOG" else "Datadirectory"
    with tempfile.TemporaryDirectory(prefix="quillet-race-") as machine:
        install, top, outside = prepare(machine, sweep_folder)
        before = snapshot(outside)
        env = dict(os.environ, QUILLET_MACHINE=machine, TZ="UTC")
        args = [quillet, command]
        if command == "DATA":
            # Data files are aged by birth time, which cannot be set back.
            args = ["faketime", "-f", "+30d"] + args
        started, stop, counts = threading.Event(), threading.Event(), {"swaps": 0}
        thread = threading.Thread(target=swapper, args=(top, os.path.join(install, "Swapped"),
                                                        outside, started, stop, counts))
        thread.start()
        process = subprocess.Popen(args, env=env)
        started.set()
        try:
            status = process.wait(timeout=120)
        finally:
            stop.set()
            thread.join()
        swaps_during_run = counts["swaps"]
        after = snapshot(outside)
        problems = []
        if after != before:
            changed = sorted(set(before) ^ set(after) |
                             {k for k in before if k in after and before[k] != after[k]})
            problems.append("outside folder changed: %s" % changed[:10])
        if status not in (0, 1):
            problems.append("exit status %d" % status)
        print("%s seed %d: %d swaps while it ran, exit %d%s" % (
            command, seed, swaps_during_run, status, "" if not problems else ": " + "; ".join(problems)))
        return problems


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    quillet = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    if shutil.which("faketime") is None:
        print("faketime is not installed")
        return 1 if os.environ.get("QUILLET_SCENARIO_STRICT") else 77
    failed = False
    for seed in range(rounds):
        for command in ("LOG", "DATA"):
            failed |= bool(one_round(quillet, command, seed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
