#!/usr/bin/env python3
"""While LOG and DATA sweep 1,500 subfolders of aged files, another thread
swaps them, in random order, for links to a folder outside the agent, so that
swaps land at every stage of the walk. Nothing outside may change.

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

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness.checks import compare_snapshots, snapshot  # noqa: E402

SUBFOLDERS = 1500


def write(path, data=b"x", age_days=30):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    stamp = time.time() - age_days * 86400
    os.utime(path, (stamp, stamp))


def one_round(quillet, command, seed):
    random.seed(seed)
    with tempfile.TemporaryDirectory(prefix="quillet-race-") as machine:
        with open(os.path.join(machine, "registry.reg"), "w", newline="\r\n") as f:
            f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\KORBOD]\n"
                    "\"InstallationPath\"=\"C:\\\\AgentRace\"\n\"Type\"=\"RULK\"\n")
        outside = os.path.join(machine, "outside")
        for name in ("old.log", "old.dat", "inner/old.log", "inner/old.dat"):
            write(os.path.join(outside, name))
        os.makedirs(os.path.join(outside, "empty"))  # the data sweep would remove it
        write(os.path.join(outside, "big.log"), b"\0" * (6 * 1024 * 1024), 0)
        install = os.path.join(machine, "drives", "c", "AgentRace")
        top = os.path.join(install, "ApplicationLog" if command == "LOG" else "Datadirectory")
        for i in range(SUBFOLDERS):
            for name in ("a.log", "deeper/c.dat"):
                write(os.path.join(top, "d%04d" % i, name))
        swapped = os.path.join(install, "Swapped")
        os.makedirs(swapped)
        before = snapshot(outside)
        stop, swaps = threading.Event(), []

        def swapper():
            for i in random.sample(range(SUBFOLDERS), SUBFOLDERS):
                if stop.is_set():
                    break
                try:
                    os.rename(os.path.join(top, "d%04d" % i), os.path.join(swapped, "%d" % i))
                    os.symlink(outside, os.path.join(top, "d%04d" % i))
                    swaps.append(i)
                except OSError:
                    pass  # already removed by the sweep

        # Data files are aged by birth time, which cannot be set back.
        args = (["faketime", "-f", "+30d"] if command == "DATA" else []) + [quillet, command]
        process = subprocess.Popen(args, env=dict(os.environ, QUILLET_MACHINE=machine, TZ="UTC"))
        thread = threading.Thread(target=swapper)
        thread.start()
        try:
            status = process.wait(timeout=120)
        finally:
            stop.set()
            thread.join()
        problems = compare_snapshots(before, snapshot(outside))
        problems += ["exit status %d" % status] if status not in (0, 1) else []
        print("%s seed %d: %d swaps while it ran, exit %d %s"
              % (command, seed, len(swaps), status, "; ".join(problems)))
        return problems


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    if shutil.which("faketime") is None:
        print("faketime is not installed")
        sys.exit(1 if os.environ.get("QUILLET_SCENARIO_STRICT") else 77)
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    failed = [p for seed in range(rounds) for command in ("LOG", "DATA")
              for p in one_round(sys.argv[1], command, seed)]
    sys.exit(1 if failed else 0)
