"""The services of a scenario under Wine: real services of Wine's service
control manager, each one tests/support/test_service.exe registered under the
scenario's name.

A scenario's services table ({name: state}) means on the host the lines of the
machine's `services` file and under Wine:

  "running"        registered and started
  "stopped"        registered, not started
  "paused"         started with --start-paused (straight to PAUSED)
  "start_pending"  started with --start-pending (stays START_PENDING)
  "driver"         a kernel driver that is loaded; under Wine it must be one
                   that Wine itself loads (WINE_DRIVERS), nothing is registered
  None             not registered at all

The other states of the host table (stop_pending, continue_pending,
pause_pending) cannot be held by the test service: such a scenario is
host-only. A change between two runs of a scenario goes through the service
control manager as it would on a machine: a running service is paused with a
PAUSE control, a paused one continued, one that must start otherwise is
(re)registered with the right start option and started.

Every service that a scenario registers is stopped and deleted when the
scenario ends, and again before the next one starts if an interrupted run left
it behind (the names are recorded in the prefix).
"""

import os
import re

from . import wine_env

STATES = ("running", "stopped", "paused", "start_pending")
DRIVER = "driver"
START_OPTIONS = {"running": "", "stopped": "", "paused": " --start-paused",
                 "start_pending": " --start-pending"}
# SERVICE_STATUS.dwCurrentState as `sc query` prints it
STATE_NUMBERS = {"stopped": 1, "start_pending": 2, "running": 4, "paused": 7}

# Kernel drivers that a Wine 8 prefix has loaded (type 1, RUNNING in `sc query`).
WINE_DRIVERS = {"mountmgr"}
# The prefix's own services and drivers: never registered or deleted by a scenario.
WINE_OWN = {"bits", "eventlog", "fontcache", "fontcache3.0.0.0", "http", "lanmanserver",
            "mountmgr", "msiserver", "ndis", "nsiproxy", "plugplay", "rpcss", "schedule",
            "spooler", "stisvc", "tcpip", "termservice", "vxd", "winebus", "winehid", "wineusb",
            "winmgmt", "winsock", "winsock2", "wuauserv"}

RECORD = ".quillet-scenario-services"
TEST_SERVICE = "test_service.exe"


def unsupported(table):
    """Why a services table cannot be made under Wine, or None."""
    if table is None:
        return None
    if isinstance(table, str):
        return "a raw services table is host-only"
    for name, state in table.items():
        if state == DRIVER:
            if name.lower() not in WINE_DRIVERS:
                return ("%s is no kernel driver that Wine loads (known: %s)"
                        % (name, ", ".join(sorted(WINE_DRIVERS))))
        elif state is not None and state not in STATES:
            return "the test service cannot be held in the state %s under Wine" % state
        elif name.lower() in WINE_OWN:
            return "%s is one of Wine's own services" % name
        elif not re.fullmatch(r"[A-Za-z0-9_]+", name):
            return "service name %r: only letters, digits and _ under Wine" % name
    return None


class WineServices:
    """Registers, changes and removes the services of one scenario."""

    def __init__(self, prefix, work, test_service, wine_call):
        self.prefix = prefix
        self.work = work
        self.program = wine_env.windows_path(test_service)
        self.test_service = test_service
        self.wine_call = wine_call          # runs `wine ARGS`, output to the scenario's log
        self.states = {}                    # name -> state the service is in now
        self.options = {}                   # name -> start option it is registered with
        self.absent = set()                 # names known to be registered no more
        self.labels = 0
        self.batches = 0

    # ------------------------------------------------------------- public

    def begin(self, table):
        """Clears what an interrupted scenario left and makes this table."""
        table = {n: s for n, s in (table or {}).items() if s != DRIVER}
        leftovers = self._recorded()
        if not table and not leftovers:
            return
        self._need_program()
        lines = []
        for name in leftovers:
            lines += self._remove(name)
        self._record(sorted(table))
        self.states, self.options = {}, {}
        self.absent = set(leftovers)
        for name, state in table.items():
            if state is not None:
                lines += self._register(name, state)
            else:
                self.absent.add(name)
        self._run(lines, table)

    def change(self, changes):
        """Moves the services to the states of `changes` (a run's table)."""
        changes = {n: s for n, s in changes.items() if s != DRIVER}
        if not changes:
            return
        self._need_program()
        self._record(sorted(set(self._recorded()) | set(changes)))
        lines = []
        for name, want in changes.items():
            lines += self._move(name, want)
        self._run(lines, changes)

    def end(self):
        names = self._recorded()
        if not names:
            return
        lines = []
        for name in names:
            if name not in self.absent:
                lines += self._remove(name)
        if lines:
            self._batch(lines, "end")
        self.states, self.options = {}, {}
        self._record([])

    # ------------------------------------------------------------- steps

    def _control(self, verb, name):
        # Wine's sc has no pause or continue; the test service sends any control
        # and waits until the service reports the state it leads to.
        return ["%s --control %s %s" % (self.program, verb, name)]

    def _remove(self, name):
        """Stops (when it may run) and deletes the service. A name whose state
        is not known here is a leftover of an interrupted run."""
        known = name in self.states
        state = self.states.pop(name, None)
        self.options.pop(name, None)
        self.absent.add(name)
        lines = [] if known and state == "stopped" else self._control("stop", name)
        return lines + ["sc delete %s" % name] + self._gone(name)

    def _gone(self, name):
        """Waits (10 s at most) until a deleted service has left the manager:
        while its process is still ending it is only marked for deletion, and
        registering the name again would fail (1072)."""
        self.labels += 1
        label = "gone%d" % self.labels
        return ["set tries=0",
                ":%s" % label,
                "sc query %s >nul 2>&1" % name,
                "if errorlevel 1 goto %s_done" % label,
                "set /a tries+=1",
                "if %%tries%% geq 10 goto %s_done" % label,
                "ping -n 2 127.0.0.1 >nul",
                "goto %s" % label,
                ":%s_done" % label]

    def _register(self, name, state):
        self.absent.discard(name)
        option = START_OPTIONS[state]
        self.options[name] = option
        self.states[name] = state
        lines = ['sc create %s binPath= "%s %s%s"' % (name, self.program, name, option)]
        if state != "stopped":
            lines.append("sc start %s" % name)
        return lines

    def _move(self, name, want):
        now = self.states.get(name)
        if want is None:
            if name in self.states:
                return self._remove(name)
            self.absent.add(name)
            return []
        if now is None:
            return self._register(name, want)
        if want == now:
            return []
        if want == "stopped" or (now, want) in (("paused", "running"), ("running", "paused")):
            self.states[name] = want
            verb = {"stopped": "stop", "running": "continue", "paused": "pause"}[want]
            return self._control(verb, name)
        lines = self._control("stop", name) if now != "stopped" else []
        self.states[name] = "stopped"
        if self.options[name] != START_OPTIONS[want]:
            return lines + self._remove(name) + self._register(name, want)
        self.states[name] = want
        return lines + ["sc start %s" % name]

    # ------------------------------------------------------------- running

    def _need_program(self):
        from .targets import SetupError
        if not os.path.isfile(self.test_service):
            raise SetupError("%s is not built (%s); build the windows preset"
                             % (TEST_SERVICE, self.test_service))
        if " " in self.program:
            raise SetupError("the path of %s holds a blank, which sc create cannot take: %s"
                             % (TEST_SERVICE, self.program))

    def _batch(self, lines, label):
        """Runs the lines as one batch file: one Wine start for all of them."""
        self.batches += 1
        name = "services-%d-%s" % (self.batches, label)
        script = os.path.join(self.work, name + ".cmd")
        output = os.path.join(self.work, name + ".txt")
        with open(script, "w", newline="\r\n") as handle:
            handle.write("@echo off\n")
            for line in lines:
                handle.write(line + "\n")
            handle.write("exit /b 0\n")
        self.wine_call(["cmd", "/c", wine_env.windows_path(script), ">",
                        wine_env.windows_path(output), "2>&1"])
        try:
            with open(output, "rb") as handle:
                return handle.read().decode("cp1252", "replace")
        except OSError:
            return ""

    def _run(self, lines, wanted):
        """Runs the lines, then checks with `sc query` that every service of
        `wanted` is in its state (None: not registered)."""
        from .targets import SetupError
        names = sorted(wanted)
        text = self._batch(lines + ["echo QUERIES"] + ["sc query %s" % n for n in names],
                           "set")
        found = {}
        current = None
        for line in text.split("QUERIES", 1)[-1].splitlines():
            named = re.match(r"\s*SERVICE_NAME:\s*(\S+)", line)
            if named:
                current = named.group(1).lower()
                continue
            state = re.match(r"\s*STATE\s*:\s*(\d+)", line)
            if state and current:
                found[current] = int(state.group(1))
        wrong = []
        for name in names:
            want = wanted[name]
            have = found.get(name.lower())
            if want is None:
                if have is not None:
                    wrong.append("%s is still registered (state %d)" % (name, have))
            elif have != STATE_NUMBERS[want]:
                wrong.append("%s is in state %s, wanted %s (%d)"
                             % (name, have, want, STATE_NUMBERS[want]))
        if wrong:
            raise SetupError("the services could not be made under Wine: %s; batch output:\n%s"
                             % ("; ".join(wrong), text[-3000:]))

    def _recorded(self):
        try:
            with open(os.path.join(self.prefix, RECORD)) as handle:
                return [line.strip() for line in handle if line.strip()]
        except OSError:
            return []

    def _record(self, names):
        path = os.path.join(self.prefix, RECORD)
        if not names:
            if os.path.exists(path):
                os.remove(path)
            return
        with open(path, "w") as handle:
            handle.write("".join(name + "\n" for name in names))
