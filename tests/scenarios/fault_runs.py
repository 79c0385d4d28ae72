#!/usr/bin/env python3
"""Runs of the host program that the machine breaks: a disk that fills up
during a device list synchronisation, and runs killed in the middle of one.

Full disk: the machine's drive C is a small tmpfs, nearly full. Whatever the
run manages to write, no line of the log is cut, no report is partial, the
device list is whole, the synchronisation that could not finish is reported
as failed (exit status 1), and once there is room again the next run starts
its log on a line of its own and completes the list.

Killed runs: DEVICELIST over 1,000 devices, killed (SIGKILL) at random
moments, leaves the list whole every time; the next whole run removes the
temporary files that the killed ones left (and one planted with the number of
a process that no longer exists), and leaves those of a live process alone.

Usage: fault_runs.py QUILLET   (exit 0 pass, 1 fail, 77 skip)
"""

import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time

WHOLE_LOG_LINE = re.compile(rb"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\t[^\r\n]*\r\n")
LIST_LINE = re.compile(rb"(\[[^\]\r\n]+\]|[A-Za-z]+=[^\r\n]*|)\r\n")
REPORT_KEYS = [b"RegID", b"Desc", b"PID", b"SysID", b"LastRunDateTime", b"NextRunDateTime",
               b"LastRunStatusCode"]
failures = []


def check(ok, what):
    print("%s %s" % ("ok  " if ok else "FAIL", what))
    if not ok:
        failures.append(what)


def machine_with_devices(machine, count):
    lines = ["REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\Software\\KORBOD]",
             '"InstallationPath"="C:\\\\KorbodAgent"', '"Type"="RULK"', '"RegID"="77"']
    for i in range(count):
        lines += ["", "[HKEY_LOCAL_MACHINE\\Software\\KORBOD\\ManagedMachines\\PC-%04d]" % i,
                  '"RegID"="R-%d"' % i, '"Type"="1"', '"Category"="LAN"', '"OS"="Windows"']
    with open(os.path.join(machine, "registry.reg"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    install = os.path.join(machine, "drives", "c", "KorbodAgent")
    os.makedirs(os.path.join(install, "Configuration"), exist_ok=True)
    return install


def run(quillet, machine, command="DEVICELIST"):
    return subprocess.run([quillet, command], env=dict(os.environ, QUILLET_MACHINE=machine),
                          stderr=subprocess.DEVNULL, timeout=300).returncode


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


def whole(pattern, data):
    return pattern.sub(b"", data) == b""


def temporaries(folder):
    return sorted(n for n in os.listdir(folder) if n.startswith(".DeviceList.ini."))


def reports_whole(install):
    folder = os.path.join(install, "PMStatus")
    names = os.listdir(folder) if os.path.isdir(folder) else []
    for name in names:
        data = read(os.path.join(folder, name))
        keys = [line.split(b"=")[0] for line in data.split(b"\r\n")[1:] if b"=" in line]
        if not data.startswith(b"[STATUS_INFO]\r\n") or keys != REPORT_KEYS:
            return False
    return True


def full_disk(quillet):
    with tempfile.TemporaryDirectory(prefix="quillet-fulldisk-") as machine:
        drive = os.path.join(machine, "drives", "c")
        os.makedirs(drive)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", drive],
                          stderr=subprocess.DEVNULL).returncode != 0:
            print("skip full disk: this machine does not let the test mount a small tmpfs")
            return
        try:
            install = machine_with_devices(machine, 60)
            st = os.statvfs(drive)
            filler = os.path.join(drive, "filler")
            with open(filler, "wb") as f:
                f.write(b"\0" * (st.f_bavail * st.f_frsize - 24 * 1024))
            status = run(quillet, machine)
            config = os.path.join(install, "Configuration")
            log = read(os.path.join(install, "ApplicationLog", "MNStatusLog.txt"))
            check(status == 1, "a synchronisation the full disk cut short exits 1 (got %d)" % status)
            check(whole(WHOLE_LOG_LINE, log), "every log line is whole on a full disk")
            check(whole(LIST_LINE, read(os.path.join(config, "DeviceList.ini"))),
                  "the device list is whole on a full disk")
            check(reports_whole(install), "no partial report is left on a full disk")
            check(temporaries(config) == [], "no temporary file is left on a full disk")

            # Not a byte left: the log's last page takes part of a line, a
            # new report gets its name but no content.
            with open(filler, "ab", buffering=0) as f:
                try:
                    while f.write(b"\0" * 512):
                        pass
                except OSError:
                    pass
            run(quillet, machine, "TYPE")
            log = read(os.path.join(install, "ApplicationLog", "MNStatusLog.txt"))
            check(whole(WHOLE_LOG_LINE, log), "every log line is whole on a disk without a byte left")
            check(reports_whole(install), "no empty report is left on a disk without a byte left")

            os.remove(filler)
            status = run(quillet, machine)
            log_after = read(os.path.join(install, "ApplicationLog", "MNStatusLog.txt"))
            check(status == 0, "with room again the synchronisation completes (exit %d)" % status)
            check(log_after.startswith(log) and whole(WHOLE_LOG_LINE, log_after),
                  "the next run's log starts on a line of its own")
            check(read(os.path.join(config, "DeviceList.ini")).count(b"[PC-") == 60,
                  "the list then holds every device")
        finally:
            subprocess.run(["umount", drive])


def killed_runs(quillet, kills=5):
    with tempfile.TemporaryDirectory(prefix="quillet-killed-") as machine:
        install = machine_with_devices(machine, 1000)
        config = os.path.join(install, "Configuration")
        env = dict(os.environ, QUILLET_MACHINE=machine)
        random.seed(7)
        for _ in range(kills):
            process = subprocess.Popen([quillet, "DEVICELIST"], env=env, stderr=subprocess.DEVNULL)
            time.sleep(random.uniform(0.05, 1.0))
            process.send_signal(signal.SIGKILL)
            process.wait()
            check(whole(LIST_LINE, read(os.path.join(config, "DeviceList.ini"))),
                  "the list is whole after a killed run")
        gone = subprocess.Popen(["true"])
        gone.wait()
        planted = [".DeviceList.ini.~%d.1" % gone.pid, ".DeviceList.ini.~%d.1" % os.getpid()]
        for name in planted:
            open(os.path.join(config, name), "wb").close()
        status = run(quillet, machine)
        check(status == 0, "a whole run after the killed ones exits 0 (got %d)" % status)
        check(temporaries(config) == [planted[1]],
              "only a live process's temporary file is left: %s" % temporaries(config))
        check(read(os.path.join(config, "DeviceList.ini")).count(b"[PC-") == 1000,
              "the list holds every device")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if os.geteuid() != 0:
        print("needs root: the full-disk run mounts a tmpfs")
        return 77
    full_disk(sys.argv[1])
    killed_runs(sys.argv[1])
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
