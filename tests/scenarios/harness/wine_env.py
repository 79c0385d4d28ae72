"""The Wine prefix of a test run: created once, one persistent wineserver.

Wine's system processes (services.exe, winedevice.exe, explorer.exe, ...)
start with the first program of a prefix and inherit its standard handles. A
program whose output is captured through a pipe would then keep the pipe open
for as long as the server lives, and the capture (ctest's among them) never
ends. So every Wine program started here writes to a file, never to a pipe,
and reads from /dev/null.
"""

import contextlib
import fcntl
import os
import shutil
import signal
import subprocess
import time

READY_MARK = ".quillet-scenario-ready"
LOCK_FILE = ".quillet-scenario.lock"


def wine_env(prefix):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    # Wine spells Unix file names in the locale's character set: only a
    # UTF-8 locale holds every name a Windows machine can have.
    env["LC_ALL"] = "C.UTF-8"
    # no Mono or Gecko install prompts while the prefix is made
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def missing_tools():
    return [tool for tool in ("wine", "wineserver") if shutil.which(tool) is None]


@contextlib.contextmanager
def locked(prefix):
    """Serialises work on one prefix between processes."""
    os.makedirs(prefix, exist_ok=True)
    with open(os.path.join(prefix, LOCK_FILE), "w") as handle:
        fcntl.flock(handle, fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(handle, fcntl.LOCK_UN)


def run_logged(args, prefix, log_path, timeout, cwd=None):
    """Runs a Wine command with its output going to `log_path` (appended)."""
    with open(log_path, "ab") as log, open(os.devnull, "rb") as nothing:
        log.write(("$ %s\n" % " ".join(args)).encode())
        log.flush()
        return subprocess.run(args, stdin=nothing, stdout=log, stderr=log, env=wine_env(prefix),
                              cwd=cwd or prefix, timeout=timeout).returncode


def is_ready(prefix):
    return os.path.exists(os.path.join(prefix, READY_MARK))


def _fresh_server(prefix, log_path):
    """Ends any server of the prefix and starts a persistent one."""
    # a server left by an interrupted run may have any persistence: replace it
    run_logged(["wineserver", "-k"], prefix, log_path, timeout=60)
    for _ in range(50):
        # status 2: the old server has not gone yet
        status = run_logged(["wineserver", "-p"], prefix, log_path, timeout=60)
        if status != 2:
            break
        time.sleep(0.1)
    if status != 0:
        raise RuntimeError("wineserver -p failed with status %d (see %s)" % (status, log_path))


def setup(prefix, log_path):
    """Makes the prefix when missing and leaves one persistent server running,
    with the keeper (below) holding the services up."""
    os.makedirs(prefix, exist_ok=True)
    with locked(prefix):
        _fresh_server(prefix, log_path)
        if not is_ready(prefix):
            status = run_logged(["wine", "wineboot", "-i"], prefix, log_path, timeout=600)
            if status != 0:
                raise RuntimeError("wineboot -i failed with status %d (see %s)"
                                   % (status, log_path))
            # In the server session that created the prefix no service of ours
            # ever starts (StartService ends with 1053, the dispatcher is never
            # reached); a new session does not have that fault.
            _fresh_server(prefix, log_path)
        # the first program starts the system processes; it must not be captured
        run_logged(["wine", "cmd", "/c", "exit"], prefix, log_path, timeout=300)
        start_keeper(prefix, log_path)
        with open(os.path.join(prefix, READY_MARK), "w") as mark:
            mark.write("prepared for the scenario tests\n")


# The keeper: one ordinary Wine program that lives as long as the test run.
# Wine ends the services when the last ordinary program of the prefix ends;
# while the keeper runs, the services that a scenario starts stay up between
# its Wine calls. Its own session, so that it is ended as one group by id.
KEEPER_PID = ".quillet-scenario-keeper.pid"
KEEPER_SECONDS = 4 * 3600


def _keeper_pid(prefix):
    """The keeper's process id when it is still running, else None."""
    try:
        with open(os.path.join(prefix, KEEPER_PID)) as handle:
            pid = int(handle.read().strip())
        # a reused id would not lead its own process group
        if os.getpgid(pid) != pid:
            return None
    except (OSError, ValueError):
        return None
    return pid


def start_keeper(prefix, log_path):
    if _keeper_pid(prefix) is not None:
        return
    with open(log_path, "ab") as log, open(os.devnull, "rb") as nothing:
        keeper = subprocess.Popen(
            ["wine", "cmd", "/c", "ping -n %d 127.0.0.1 >nul" % KEEPER_SECONDS],
            stdin=nothing, stdout=log, stderr=log, env=wine_env(prefix), cwd=prefix,
            start_new_session=True)
    with open(os.path.join(prefix, KEEPER_PID), "w") as handle:
        handle.write("%d\n" % keeper.pid)


def stop_keeper(prefix):
    pid = _keeper_pid(prefix)
    if pid is not None:
        try:
            os.killpg(pid, signal.SIGTERM)
        except OSError:
            pass
    try:
        os.remove(os.path.join(prefix, KEEPER_PID))
    except OSError:
        pass


def ensure(prefix, log_path):
    """For runs without the ctest fixture: make the prefix when missing."""
    if not is_ready(prefix):
        setup(prefix, log_path)


def teardown(prefix, log_path):
    if os.path.isdir(prefix):
        stop_keeper(prefix)
        run_logged(["wineserver", "-k"], prefix, log_path, timeout=60)


def windows_path(linux_path):
    """The path of a host file as a Wine program sees it (Z: is /)."""
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")
