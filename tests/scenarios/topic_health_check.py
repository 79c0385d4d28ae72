"""The health-check run (AGTHLTHCHK): the services of AgtHealthChk.ini's
svcfiles list and the records it keeps there over several runs."""

import re

from common import (HEALTH_CHECK, HEALTH_FILE, PARVIX_MISSING, REPORTS, RUN_LINES, RUNNING,
                    SERVICE_LINES, not_running, run, scenario)

CHECKING = "INF : Agent Health Check :: Checking status of services"
HEALTH_LINES = RUN_LINES + SERVICE_LINES + [r"^INF : Agent Health Check", r"^DESC : ", r"^ERR : "]
NO_REPORTS = {REPORTS: {"count": 0}}
LISTED = "[SERVICE]\r\nsvcfiles=KORBTaskSvc,KORBGuard\r\n"
REFUSED = ["ERR : Error Source : SubUpdtAgtHlthChkStatus(),File : {install}%s,Error Number : %s"
           % (HEALTH_FILE, error) for error in ("13,Desc:Permission denied", "5,Desc:Access denied.")]


def health(*service_lines, **more):
    """A health-check run of an agent without managed machines or Parvix.exe;
    a listed service that is down is a failed check: exit status 1."""
    down = any(line.endswith("not running") for line in service_lines)
    return run("AGTHLTHCHK", HEALTH_CHECK, CHECKING, *service_lines, PARVIX_MISSING,
               only=HEALTH_LINES, exit=int(down), **more)


def records(status, errdesc, **more):
    """The records of AgtHealthChk.ini as the reader returns them."""
    return {HEALTH_FILE: {"ini": {"SERVICE": {"status": status, "errdesc": errdesc},
                                  "CONFIGURATION": {"status": "1", "errdesc": ""}}, **more}}


def health_runs(wine):
    return [
        # a status of 0 is never reset; errdesc gains the names of every run,
        # and an empty description after a good run
        health(RUNNING, not_running("KORBGuard"), files={HEALTH_FILE: "; kept\r\n" + LISTED},
               expect=records("0", "KORBGuard", match=r"\A" + re.escape("; kept\r\n" + LISTED))),
        health(RUNNING, RUNNING, services={"KORBGuard": "running"},
               expect={**records("0", "KORBGuard,"), **NO_REPORTS}),
        # Names are taken as written: a lower-case name of a running service
        # is found; a blank after a comma, a driver's name and the empty name
        # after a trailing comma are not running. The reader trims errdesc,
        # the file holds the blank, but Wine's profile writer drops the
        # blanks at the start of a value (Windows and the host keep them).
        health(RUNNING, RUNNING, not_running(" KORBMonCtl"), not_running("MountMgr"),
               not_running(""),
               files={HEALTH_FILE: "[SERVICE]\r\n"
                      "svcfiles=korbguard,KORBTaskSvc, KORBMonCtl,MountMgr,\r\n"},
               expect=records("0", "KORBMonCtl,MountMgr,",
                              match=r"\r\nerrdesc=%sKORBMonCtl,MountMgr,\r\n"
                              % ("" if wine else " "))),
        # The reader trims: " 0 " is a 0 and is not written again; "00" is
        # not and is replaced. Wine's writer rewrites every line trimmed.
        health(RUNNING, files={HEALTH_FILE: "[SERVICE]\r\nsvcfiles=KORBTaskSvc\r\nstatus= 0 \r\n"
                               "errdesc=KORBGuard\r\n[CONFIGURATION]\r\nstatus=00\r\nerrdesc=\r\n"},
               expect=records("0", "KORBGuard,",
                              match=r"\r\nstatus=%s\r\n" % ("0" if wine else " 0 "))),
        # A record that the platform refuses (a read-only file) is the
        # recorder's failure: a line naming the file and the error, status 1.
        run("AGTHLTHCHK", HEALTH_CHECK, CHECKING, RUNNING, REFUSED[wine], PARVIX_MISSING,
            REFUSED[wine], only=HEALTH_LINES, exit=1,
            files={HEALTH_FILE: {"content": "[SERVICE]\r\nsvcfiles=KORBTaskSvc\r\n",
                                 "readonly": True}},
            expect={HEALTH_FILE: {"content": "[SERVICE]\r\nsvcfiles=KORBTaskSvc\r\n"}}),
    ]


SCENARIOS = [
    scenario("health_records_over_runs", *health_runs(False), folders=["Configuration"],
             services={"KORBTaskSvc": "running", "KORBGuard": "stopped", "KORBMonCtl": "running",
                       "MountMgr": "driver"},
             on_target={"wine": {"runs": health_runs(True)}}),
]
