"""The health-check run (AGTHLTHCHK): the services of AgtHealthChk.ini's
svcfiles list and the records it keeps there over several runs."""

from common import (FINISHED, HEALTH_CHECK, RUN_LINES, SERVICE_RUNNING, STARTED, agent,
                    not_running, received)

HEALTH_FILE = "Configuration\\AgtHealthChk.ini"
CHECKING = "INF : Agent Health Check :: Checking status of services"
NO_PARVIX = "DESC : Unable to create DeviceList as PARVIX.EXE not found ."
RUNNING = SERVICE_RUNNING
# Names in the list are not trimmed: a not-running line may hold blanks.
HEALTH_LINES = RUN_LINES + [r"^INF : Agent Health Check", r"^INF : Service found to be running$",
                            r"  Service found to be not running$", r"^DESC : "]


def health_run(*service_lines):
    """The filtered log of one health-check run of a RULK agent without
    managed machines or Parvix.exe."""
    return [STARTED, received("AGTHLTHCHK"), HEALTH_CHECK, CHECKING, *service_lines, NO_PARVIX,
            FINISHED]


def records(status, errdesc, configuration=("1", "")):
    """The records of AgtHealthChk.ini as the reader returns them."""
    return {"SERVICE": {"status": status, "errdesc": errdesc},
            "CONFIGURATION": {"status": configuration[0], "errdesc": configuration[1]}}


def health_ini(text):
    return text.replace("\n", "\r\n").encode("ascii")


NO_REPORTS = {"PMStatus\\*": {"count": 0}}

SCENARIOS = [
    {
        "name": "health_records_stay_failed_and_accumulate_over_runs",
        "why": "a status of 0 is never reset; errdesc gains the names of every run, and an "
               "empty description after a good run",
        "registry": agent("RULK"),
        "files": {HEALTH_FILE: health_ini("; agent health check\n[SERVICE]\n"
                                          "svcfiles=KORBTaskSvc,KORBGuard\n")},
        "services": {"KORBTaskSvc": "running", "KORBGuard": "stopped"},
        "runs": [
            {
                "command": "AGTHLTHCHK",
                "exit": 0,
                "log_match": "filtered",
                "log_filter": HEALTH_LINES,
                "log": health_run(RUNNING, not_running("KORBGuard")),
                "expect": {HEALTH_FILE: {
                    "ini": records("0", "KORBGuard"),
                    "starts_with": "; agent health check\r\n[SERVICE]\r\n"
                                   "svcfiles=KORBTaskSvc,KORBGuard\r\n"},
                    **NO_REPORTS},
            },
            {
                "command": "AGTHLTHCHK",
                "exit": 0,
                "log_match": "filtered",
                "log_filter": HEALTH_LINES,
                "log": health_run(RUNNING, not_running("KORBGuard")),
                "expect": {HEALTH_FILE: {"ini": records("0", "KORBGuard,KORBGuard")}},
            },
            {
                "services": {"KORBGuard": "running"},
                "command": "AGTHLTHCHK",
                "exit": 0,
                "log_match": "filtered",
                "log_filter": HEALTH_LINES,
                "log": health_run(RUNNING, RUNNING),
                "expect": {HEALTH_FILE: {"ini": records("0", "KORBGuard,KORBGuard,")},
                           **NO_REPORTS},
            },
        ],
    },
    {
        "name": "health_list_names_are_taken_as_written",
        "why": "a lower-case name of a running service is found; a blank after a comma, a "
               "driver's name and the empty name after a trailing comma are not running. "
               "Wine's profile writer drops the blanks at the start of a value it writes "
               "(Windows and the host keep them), so there only the value read is checked",
        "registry": agent("RULK"),
        "files": {HEALTH_FILE: health_ini(
            "[SERVICE]\nsvcfiles=korbguard,KORBTaskSvc, KORBMonCtl,MountMgr,\n")},
        "services": {"KORBGuard": "running", "KORBTaskSvc": "running", "KORBMonCtl": "running",
                     "MountMgr": "driver"},
        "command": "AGTHLTHCHK",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": HEALTH_LINES,
        "log": health_run(RUNNING, RUNNING, not_running(" KORBMonCtl"), not_running("MountMgr"),
                          not_running("")),
        "expect": {HEALTH_FILE: {
            "ini": records("0", "KORBMonCtl,MountMgr,"),
            # the reader trims it; the file holds the name with its blank
            "match": r"\r\nerrdesc= KORBMonCtl,MountMgr,\r\n"}},
        "on_target": {"wine": {"expect": {HEALTH_FILE: {
            "ini": records("0", "KORBMonCtl,MountMgr,")}}}},
    },
    {
        "name": "health_check_without_its_file_records_success",
        "why": "no svcfiles: no service is asked about, success is recorded and the file "
               "is created in the Configuration folder",
        "registry": agent("RULK"),
        "folders": ["Configuration"],
        "services": {"KORBGuard": "stopped"},
        "command": "AGTHLTHCHK",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": HEALTH_LINES,
        "log": health_run(),
        "expect": {HEALTH_FILE: {"ini": {**records("1", ""),
                                         "SERVICE": {"status": "1", "errdesc": "",
                                                     "svcfiles": None}}},
                   **NO_REPORTS},
    },
    {
        "name": "health_status_of_a_spaced_zero_is_kept_and_two_zeros_replaced",
        "why": "the reader trims: ' 0 ' is a 0 and is not written again; '00' is not and is "
               "replaced. Wine's profile writer rewrites every line of the file trimmed, "
               "so there the untouched line reads 'status=0'",
        "registry": agent("RULK"),
        "files": {HEALTH_FILE: health_ini("[SERVICE]\nsvcfiles=KORBTaskSvc\nstatus= 0 \n"
                                          "errdesc=KORBGuard\n[CONFIGURATION]\nstatus=00\n"
                                          "errdesc=\n")},
        "services": {"KORBTaskSvc": "running"},
        "command": "AGTHLTHCHK",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": HEALTH_LINES,
        "log": health_run(RUNNING),
        "expect": {HEALTH_FILE: {"ini": records("0", "KORBGuard,"),
                                 "match": r"\r\nstatus= 0 \r\n"}},
        "on_target": {"wine": {"expect": {HEALTH_FILE: {
            "ini": records("0", "KORBGuard,"), "match": r"\r\nstatus=0\r\n"}}}},
    },
]
