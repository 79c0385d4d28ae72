"""Runs of the host program that the machine breaks: drive C a small tmpfs,
nearly full during DEVICELIST, then without a byte left during TYPE, then with
room again; DEVICELIST over 1,000 devices killed at random moments, then a
whole run that removes the dead runs' temporary files and not a live one's.
No log line, list or report may be left cut."""

import os
import pathlib
import random
import re
import signal
import subprocess
import time

import pytest

LOG_LINES = re.compile(rb"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\t[^\r\n]*\r\n)*")
LIST_LINES = re.compile(rb"((\[[^\]\r\n]+\]|[A-Za-z]+=[^\r\n]*|)\r\n)*")
REPORT = re.compile(rb"\[STATUS_INFO\]\r\n" + b"".join(
    key + rb"=[^\r\n]*\r\n" for key in (b"RegID", b"Desc", b"PID", b"SysID", b"LastRunDateTime",
                                        b"NextRunDateTime", b"LastRunStatusCode")))


@pytest.fixture
def quillet(request):
    return os.path.abspath(request.config.getoption("quillet"))


def prepare(machine, devices):
    lines = ["REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\Software\\KORBOD]",
             '"InstallationPath"="C:\\\\KorbodAgent"', '"Type"="RULK"', '"RegID"="77"']
    for i in range(devices):
        lines += ["", "[HKEY_LOCAL_MACHINE\\Software\\KORBOD\\ManagedMachines\\PC-%04d]" % i,
                  '"RegID"="R-%d"' % i, '"Type"="1"', '"Category"="LAN"', '"OS"="Windows"']
    with open(os.path.join(machine, "registry.reg"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    install = os.path.join(machine, "drives", "c", "KorbodAgent")
    os.makedirs(os.path.join(install, "Configuration"), exist_ok=True)
    return lambda *path: os.path.join(install, *path)


def start(quillet, machine, command="DEVICELIST"):
    return subprocess.Popen([quillet, command], env=dict(os.environ, QUILLET_MACHINE=machine),
                            stderr=subprocess.DEVNULL)


def read(path):
    return pathlib.Path(path).read_bytes() if os.path.exists(path) else b""


def devices(agent):
    return read(agent("Configuration", "DeviceList.ini")).count(b"[PC-")


def temporaries(agent):
    return sorted(n for n in os.listdir(agent("Configuration")) if n.startswith(".DeviceList"))


def whole(agent, what):
    """Whole log lines, list lines and reports, and no temporary files; the log."""
    reports = agent("PMStatus")
    names = os.listdir(reports) if os.path.isdir(reports) else []
    log = read(agent("ApplicationLog", "MNStatusLog.txt"))
    assert LOG_LINES.fullmatch(log), "a log line is cut " + what
    assert LIST_LINES.fullmatch(read(agent("Configuration", "DeviceList.ini"))), \
        "the device list is cut " + what
    assert all(REPORT.fullmatch(read(os.path.join(reports, n))) for n in names), \
        "a partial or empty report is left " + what
    assert temporaries(agent) == [], "temporary files are left " + what
    return log


def test_a_full_disk_cuts_no_line_list_or_report(quillet, tmp_path):
    machine = str(tmp_path)
    drive = os.path.join(machine, "drives", "c")
    os.makedirs(drive)
    if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs",
                                            drive], stderr=subprocess.DEVNULL).returncode != 0:
        pytest.skip("this machine does not let the test mount a small tmpfs (needs root)")
    try:
        agent = prepare(machine, 60)
        st = os.statvfs(drive)
        filler = os.path.join(drive, "filler")
        with open(filler, "wb") as f:
            f.write(b"\0" * (st.f_bavail * st.f_frsize - 24 * 1024))
        # a synchronisation cut short by the full disk
        assert start(quillet, machine).wait() == 1
        whole(agent, "on a full disk")
        # Not a byte left: the log's last page takes part of a line, a
        # new report gets its name but no content.
        with open(filler, "ab", buffering=0) as f:
            try:
                while f.write(b"\0" * 512):
                    pass
            except OSError:
                pass
        start(quillet, machine, "TYPE").wait()
        log = whole(agent, "on a disk without a byte left")
        os.remove(filler)
        assert start(quillet, machine).wait() == 0  # with room again it completes
        assert whole(agent, "with room again").startswith(log), \
            "the next run's log does not start on a line of its own"
        assert devices(agent) == 60
    finally:
        subprocess.run(["umount", drive])


def test_killed_runs_leave_whole_lists_and_only_live_runs_temporaries(quillet, tmp_path):
    machine = str(tmp_path)
    agent = prepare(machine, 1000)
    random.seed(7)
    for _ in range(5):
        process = start(quillet, machine)
        time.sleep(random.uniform(0.05, 1.0))
        process.send_signal(signal.SIGKILL)
        process.wait()
        assert LIST_LINES.fullmatch(read(agent("Configuration", "DeviceList.ini"))), \
            "the list is cut after a killed run"
    gone = subprocess.Popen(["true"])
    gone.wait()
    planted = [".DeviceList.ini.~%d.1" % gone.pid, ".DeviceList.ini.~%d.1" % os.getpid()]
    for name in planted:
        open(agent("Configuration", name), "wb").close()
    # One device more, so that the whole run writes even where the killed
    # runs happened to finish the list: temporaries go at a write.
    with open(os.path.join(machine, "registry.reg"), "a", newline="\r\n") as f:
        f.write("\n[HKEY_LOCAL_MACHINE\\Software\\KORBOD\\ManagedMachines\\PC-1000]\n"
                '"RegID"="R-1000"\n"Type"="1"\n')
    assert start(quillet, machine).wait() == 0
    assert temporaries(agent) == [planted[1]]
    assert devices(agent) == 1001
