"""Log texts and building blocks shared by the topic modules."""

STARTED = "INF : Quillet utility started " + "*" * 36
FINISHED = "INF : Quillet utility finished " + "*" * 36
TOVA_DATA = "INF : Deleting data files for TOVA Agent"
TOVA_TARSEL = "INF : Deleting data files from Tarsel for TOVA Agent"
HEALTH_CHECK = "INF : Start Agent Health Check..."
GATE = "INF : Invalid command-line parameter passed or not a valid agent type."
NO_LOGPARSER = "INF : File not found - {install}Logparser.dll"
# The library path is quoted: install paths usually hold blanks.
REGISTERING = 'INF : Registering Logparser.dll using path : regsvr32 /s "{install}Logparser.dll"'
REGISTERED = "INF : Registered Logparser.dll successfully"
REGISTRATION_FAILED = "ERR : Failed to register Logparser.dll. Exit code : {code}"
DELETING_LOGS = "INF : Deleting log files"
DELETING_DATA = "INF : Deleting data files"
DELETING_TARSEL = "INF : Deleting data files from Tarsel"
SYNCHRONISING = "INF : Synchronising DeviceList.ini file"
CHECKING_SERVICES = "INF : Checking status of services"
SERVICE_RUNNING = "INF : Service found to be running"
TYPE_CHECKED = "INF : Agent type check completed"
GETTING_SIZE = "MSG : Getting \\KORBOD folder size..."

DEFAULT_SERVICES = ["KORBTaskSvc", "KORBMonCtl", "KORBRemCtl", "KORBSrvExt", "KORBGuard",
                    "KORBAssist", "KORBKeySafe"]

LOG = "ApplicationLog\\MNStatusLog.txt"
REPORTS = "PMStatus\\*.ini"


def received(text):
    return "INF : Command-line parameters received as - " + text


def not_running(name):
    return "INF :" + name + "  Service found to be not running"


# The lines that the run itself writes (start-up, gates, task dispatch), as
# opposed to the lines of the tasks it calls: a "filtered" comparison with
# these stays valid whatever the tasks log.
RUN_LINES = [
    r"^INF : Quillet utility (started|finished) ",
    r"^INF : Command-line parameters received as - ",
    r"^INF : Deleting (log|data) files",
    r"^INF : Start Agent Health Check",
    r"^INF : Invalid command-line parameter",
    r"^INF : Register(ing|ed) Logparser\.dll",
    r"^INF : File not found - ",
    r"^INF : Synchronising DeviceList\.ini file$",
    r"^INF : Checking status of services$",
    r"^ERR : Error while executing Quillet utility",
]

# The service check's findings; only where no health check runs, which
# writes the same lines.
SERVICE_LINES = [r"^INF : Service found to be running$",
                 r"^INF :\S*  Service found to be not running$"]


def gate_run(command, *tova):
    """The whole log of a run that ends at the agent type gate."""
    return [STARTED, received(command), *tova, GATE, FINISHED]


def agent(type_value="RULK", **more):
    """Registry values of an agent installed at the scenario's install path."""
    values = {"InstallationPath": "{install_raw}"}
    if type_value is not None:
        values["Type"] = type_value
    values.update(more)
    return values


def services_report(*down):
    return {"STATUS_INFO": {"PID": "Agent_Services_MNStatus",
                            "Desc": ",".join(down) + " Not started",
                            "LastRunStatusCode": "Failed"}}


CLOSING_REPORT = {"STATUS_INFO": {"PID": "MN Status Check"}}
