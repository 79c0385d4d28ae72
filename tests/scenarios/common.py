"""Log texts and building blocks shared by the topic modules."""

STARTED = "INF : Quillet utility started " + "*" * 36
FINISHED = "INF : Quillet utility finished " + "*" * 36
TOVA = ["INF : Deleting data files for TOVA Agent",
        "INF : Deleting data files from Tarsel for TOVA Agent"]
HEALTH_CHECK = "INF : Start Agent Health Check..."
GATE = "INF : Invalid command-line parameter passed or not a valid agent type."
NO_LOGPARSER = "INF : File not found - {install}Logparser.dll"
# The library path is quoted: install paths usually hold blanks.
REGISTERING = 'INF : Registering Logparser.dll using path : regsvr32 /s "{install}Logparser.dll"'
REGISTERED = "INF : Registered Logparser.dll successfully"
REGISTRATION_FAILED = "ERR : Failed to register Logparser.dll. Exit code : %d"
DELETING_LOGS = "INF : Deleting log files"
DELETING_DATA = "INF : Deleting data files"
DELETING_TARSEL = "INF : Deleting data files from Tarsel"
SYNCHRONISING = "INF : Synchronising DeviceList.ini file"
CHECKING_SERVICES = "INF : Checking status of services"
RUNNING = "INF : Service found to be running"
TYPE_CHECKED = "INF : Agent type check completed"
GETTING_SIZE = "MSG : Getting \\KORBOD folder size..."
PARVIX_MISSING = "DESC : Unable to create DeviceList as PARVIX.EXE not found ."

DEFAULT_SERVICES = ["KORBTaskSvc", "KORBMonCtl", "KORBRemCtl", "KORBSrvExt", "KORBGuard",
                    "KORBAssist", "KORBKeySafe"]
LOG = "ApplicationLog\\MNStatusLog.txt"
REPORTS = "PMStatus\\*.ini"
DEVICE_LIST = "Configuration\\DeviceList.ini"
HEALTH_FILE = "Configuration\\AgtHealthChk.ini"

# The lines that the run itself writes (start-up, gates, task dispatch), as
# opposed to the lines of the tasks it calls: a "filtered" comparison with
# these stays valid whatever the tasks log.
RUN_LINES = [
    r"^INF : (Quillet utility (started|finished) |Command-line parameters received as - )",
    r"^INF : (Deleting (log|data) files|Start Agent Health Check|Invalid command-line parameter)",
    r"^INF : (Register(ing|ed) Logparser\.dll|File not found - )",
    r"^INF : (Synchronising DeviceList\.ini file|Checking status of services)$",
    r"^ERR : Error while executing Quillet utility",
]
# The service check's findings (the health check writes the same lines).
SERVICE_LINES = [r"^INF : Service found to be running$",
                 r"  Service found to be not running$"]


def received(text):
    return "INF : Command-line parameters received as - " + text


def not_running(name):
    return "INF :" + name + "  Service found to be not running"


def size_line(size):
    return "MSG : KORBOD folder Size : %s MB" % size


def agent(type_value="RULK", **more):
    """Registry values of an agent installed at the scenario's install path."""
    return {"InstallationPath": "{install_raw}",
            **({} if type_value is None else {"Type": type_value}), **more}


def report(pid, status=None, desc=None, **more):
    """The STATUS_INFO values a report must hold."""
    values = dict(PID=pid, **more, **({"LastRunStatusCode": status} if status else {}))
    return {"STATUS_INFO": dict(values, **({} if desc is None else {"Desc": desc}))}


def closing(status="Success", size=None, **more):
    return report("MN Status Check", status, size and "KORBOD folder Size : %s MB" % size, **more)


def whole_report(regid):
    """A status report written whole: STATUS_INFO with its seven keys in
    order, CR LF, SysID and NextRunDateTime empty, LastRunDateTime
    MM/DD/YYYY H:MM:SS."""
    value = r"[^\r\n]*"
    return {"match": r"\A\[STATUS_INFO\]\r\nRegID=%s\r\nDesc=%s\r\nPID=%s\r\nSysID=\r\n"
                     r"LastRunDateTime=(0[1-9]|1[0-2])/(0[1-9]|[12][0-9]|3[01])/[0-9]{4} "
                     r"(1?[0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\r\nNextRunDateTime=\r\n"
                     r"LastRunStatusCode=%s\r\n\Z" % (regid, value, value, value)}


def services_report(*down):
    return report("Agent_Services_MNStatus", "Failed", ",".join(down) + " Not started")


def run(command, *lines, exit=0, only=None, **more):
    """One run of the program: its log is the banner lines around `lines`;
    `only` compares just the log lines that match one of these patterns."""
    return dict({"command": command, "exit": exit, "log_filter": only,
                 "log": [STARTED, received(command), *lines, FINISHED]}, **more)


def gate(command, *lines, **more):
    """A run that ends at the agent type gate."""
    return run(command, *lines, GATE, **more)


def sized(command, *lines, size="0", **more):
    """A run of task words without Logparser.dll, up to the closing folder size."""
    return run(command, NO_LOGPARSER, *lines, GETTING_SIZE, size_line(size), **more)


def scenario(name, *runs, **machine):
    """A scenario of one run or several on one machine, a RULK agent unless
    `registry` says otherwise."""
    machine.setdefault("registry", agent())
    if len(runs) == 1:
        return {"name": name, **runs[0], **machine}
    return {"name": name, "runs": list(runs), **machine}
