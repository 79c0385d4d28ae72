"""The Wine prefix of a test run and the services of a scenario in it.

Wine's system processes start with the first program of a prefix and inherit
its standard handles, so a captured pipe would never end: every Wine program
started here writes to a file and reads from /dev/null."""

import contextlib
import os
import re
import shutil
import signal
import subprocess
import sys
import time

READY_MARK = ".quillet-scenario-ready"
KEEPER_PID = ".quillet-scenario-keeper.pid"


def env(prefix):
    # C.UTF-8: Wine spells Unix file names in the locale's character set, and
    # only UTF-8 holds every name; no Mono or Gecko prompts, no display.
    result = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", LC_ALL="C.UTF-8",
                  WINEDLLOVERRIDES="mscoree,mshtml=")
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        result.pop(name, None)
    return result


def missing_tools():
    return [tool for tool in ("wine", "wineserver") if shutil.which(tool) is None]


def windows_path(linux_path):
    """A host file as a Wine program sees it (Z: is /)."""
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


def run_logged(args, prefix, log_path, timeout=120, cwd=None):
    """Runs a Wine command, its output appended to `log_path`; its status."""
    with open(log_path, "ab") as log:
        log.write(("$ %s\n" % " ".join(args)).encode())
        log.flush()
        return subprocess.run(args, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                              env=env(prefix), cwd=cwd or prefix, timeout=timeout).returncode


def _fresh_server(prefix, log_path):
    """Replaces any server of the prefix (a left one may have any persistence)
    with a persistent one."""
    run_logged(["wineserver", "-k"], prefix, log_path)
    for _ in range(50):
        status = run_logged(["wineserver", "-p"], prefix, log_path)
        if status != 2:  # 2: the old server has not gone yet
            break
        time.sleep(0.1)
    if status != 0:
        raise RuntimeError("wineserver -p failed with status %d (see %s)" % (status, log_path))


def setup(prefix, log_path):
    """Makes the prefix when missing; leaves a persistent server and the keeper running."""
    os.makedirs(prefix, exist_ok=True)
    _fresh_server(prefix, log_path)
    if not os.path.exists(os.path.join(prefix, READY_MARK)):
        if run_logged(["wine", "wineboot", "-i"], prefix, log_path, timeout=600) != 0:
            raise RuntimeError("wineboot -i failed (see %s)" % log_path)
        # In the server session that created the prefix no service of ours
        # ever starts (StartService fails with 1053); a new session has no such fault.
        _fresh_server(prefix, log_path)
    # the first program starts the system processes: it must not be captured
    run_logged(["wine", "cmd", "/c", "exit"], prefix, log_path, timeout=300)
    start_keeper(prefix, log_path)
    open(os.path.join(prefix, READY_MARK), "w").close()


# The keeper: one ordinary Wine program (a ping of some hours) for the whole
# test run. Wine ends the services when the last ordinary program of the prefix
# ends; while the keeper runs, a scenario's services stay up between its Wine
# calls. It leads its own process group, so that it is ended as one by its id.
def _keeper_pid(prefix):
    try:
        with open(os.path.join(prefix, KEEPER_PID)) as handle:
            pid = int(handle.read())
        return pid if os.getpgid(pid) == pid else None  # a reused id leads no group
    except (OSError, ValueError):
        return None


def start_keeper(prefix, log_path):
    if _keeper_pid(prefix) is None:
        with open(log_path, "ab") as log:
            keeper = subprocess.Popen(["wine", "cmd", "/c", "ping -n 14400 127.0.0.1 >nul"],
                                      stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                      env=env(prefix), cwd=prefix, start_new_session=True)
        with open(os.path.join(prefix, KEEPER_PID), "w") as handle:
            handle.write("%d\n" % keeper.pid)


def teardown(prefix, log_path):
    if not os.path.isdir(prefix):
        return
    pid = _keeper_pid(prefix)
    with contextlib.suppress(OSError):
        if pid is not None:
            os.killpg(pid, signal.SIGTERM)
        os.remove(os.path.join(prefix, KEEPER_PID))
    run_logged(["wineserver", "-k"], prefix, log_path)


# ----------------------------------------------------------------- services
# SERVICE_STATUS.dwCurrentState, as `sc query` prints it, of the states that
# test_service.exe holds, and the start option that leads to each.
STATE_NUMBERS = {"stopped": 1, "start_pending": 2, "running": 4, "paused": 7}
START_OPTIONS = {"stopped": "", "running": "", "paused": " --start-paused",
                 "start_pending": " --start-pending"}
# Kernel drivers that a Wine 8 prefix has loaded.
WINE_DRIVERS = {"mountmgr"}


def unsupported(table):
    """Why a services table cannot be made under Wine, or None."""
    for name, state in (table or {}).items():
        if state == "driver" and name.lower() not in WINE_DRIVERS:
            return "%s is no kernel driver that Wine loads (%s)" % (name, WINE_DRIVERS)
        # only the agent's names: a scenario never deletes one of Wine's services
        if state != "driver" and not re.fullmatch(r"KORB\w*", name):
            return "service name %s: not KORB and letters, digits or _" % name
        if state not in STATE_NUMBERS and state not in (None, "driver"):
            return "the test service cannot be held in the state %s under Wine" % state
    return None


class Services:
    """The services of one scenario, test_service.exe registered under each
    name and started as the state needs. Their names are recorded in the
    prefix, so that what an interrupted run left is removed at the next start."""

    def __init__(self, prefix, work, test_service, wine_call):
        self.record = os.path.join(prefix, ".quillet-scenario-services")
        self.work, self.wine_call = work, wine_call
        self.program = windows_path(test_service)
        self.states = {}  # name -> state now (None: not registered)
        self.batches = 0

    def begin(self, table):
        with contextlib.suppress(OSError), open(self.record) as handle:
            self.states = dict.fromkeys(handle.read().split(), "unknown")
        self.change(table or {})

    def end(self):
        self.change({name: None for name in self.states})

    def change(self, table):
        table = {name: state for name, state in table.items() if state != "driver"}
        before = self._registered()
        lines = [line for name, want in dict(self.states, **table).items()
                 if name in table or self.states[name] == "unknown"
                 for line in self._move(name, want if name in table else None)]
        if lines:
            self._record(before | self._registered())
            self._batch(lines, table)
            self._record(self._registered())

    def _registered(self):
        return {name for name, state in self.states.items() if state is not None}

    def _record(self, names):
        with open(self.record, "w") as handle:
            handle.write("".join(name + "\n" for name in sorted(names)))

    def _move(self, name, want):
        """The batch lines that take the service `name` to the state `want`."""
        now, self.states[name] = self.states.get(name), want
        if now == want:
            return []
        lines = []
        if now is not None:
            # A deleted service whose process still ends is only marked for
            # deletion (sc create then fails with 1072): wait 10 s at most
            # until it has left.
            lines += [] if now == "stopped" else ["sc stop " + name]
            lines += ["sc delete " + name, "set tries=0", ":gone_" + name,
                      "sc query %s >nul 2>&1" % name, "if errorlevel 1 goto done_" + name,
                      "set /a tries+=1", "if %tries% geq 10 goto done_" + name,
                      "ping -n 2 127.0.0.1 >nul", "goto gone_" + name, ":done_" + name]
        if want is not None:
            lines.append('sc create %s binPath= "%s %s%s"' % (name, self.program, name,
                                                             START_OPTIONS[want]))
            lines += [] if want == "stopped" else ["sc start " + name]
        return lines

    def _batch(self, lines, wanted):
        """Runs the lines as one batch file (one Wine start for all), then
        checks with `sc query` that every service of `wanted` is in its state."""
        if " " in self.program:
            raise RuntimeError("sc create cannot take a blank in the path %s" % self.program)
        self.batches += 1
        script = os.path.join(self.work, "services-%d.cmd" % self.batches)
        queries = ["echo QUERIES"] + ["sc query " + name for name in wanted]
        with open(script, "w", newline="\r\n") as handle:
            handle.write("\n".join(["@echo off"] + lines + queries + ["exit /b 0", ""]))
        self.wine_call(["cmd", "/c", windows_path(script), ">", windows_path(script) + ".txt",
                        "2>&1"])
        with open(script + ".txt", "rb") as handle:
            text = handle.read().decode("cp1252", "replace")
        found, name = {}, None
        for line in text.split("QUERIES", 1)[-1].splitlines():
            key, _, value = (part.strip() for part in line.partition(":"))
            if key == "SERVICE_NAME":
                name = value.lower()
            elif key == "STATE" and name and value:
                found[name] = int(value.split()[0])
        wrong = ["%s is in state %s, wanted %s" % (name, found.get(name.lower()), want)
                 for name, want in wanted.items()
                 if found.get(name.lower()) != STATE_NUMBERS.get(want)]
        if wrong:
            raise RuntimeError("the services could not be made under Wine: %s; batch output:\n%s"
                               % ("; ".join(wrong), text[-3000:]))


if __name__ == "__main__":  # the ctest fixture: wine.py setup|teardown PREFIX LOG
    if missing_tools():
        print("Wine is not installed (%s not found)" % ", ".join(missing_tools()))
        sys.exit(1 if os.environ.get("QUILLET_SCENARIO_STRICT") == "1" and sys.argv[1] == "setup"
                 else 77)
    os.makedirs(os.path.dirname(os.path.abspath(sys.argv[3])), exist_ok=True)
    (setup if sys.argv[1] == "setup" else teardown)(os.path.abspath(sys.argv[2]), sys.argv[3])
