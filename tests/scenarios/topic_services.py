"""The service check of the SRV word against a service control manager whose
services are in every state: under Wine real services (test_service.exe),
on the host the machine's services table."""

from common import (CHECKING_SERVICES, DEFAULT_SERVICES, FINISHED, NO_LOGPARSER, RUN_LINES,
                    SERVICE_LINES, SERVICE_RUNNING, STARTED, agent, not_running, received,
                    services_report)

REPORTS = "PMStatus\\*"
RUNNING = SERVICE_RUNNING


def closing(status):
    return {"STATUS_INFO": {"PID": "MN Status Check", "LastRunStatusCode": status}}


def all_running(**changes):
    table = {name: "running" for name in DEFAULT_SERVICES}
    table.update(changes)
    return table


SRV_LINES = RUN_LINES + SERVICE_LINES

SCENARIOS = [
    {
        "name": "srv_twice_with_services_in_every_state",
        "why": "paused and start-pending services are active; a stopped one and one that "
               "does not exist are down; each SRV word writes its own report",
        "registry": agent("RULK", RegID="4711"),
        "services": {"KORBTaskSvc": "running", "KORBMonCtl": "stopped", "KORBRemCtl": "paused",
                     "KORBSrvExt": "start_pending", "KORBGuard": "stopped",
                     "KORBAssist": "running", "KORBKeySafe": None},
        "command": "SRV,SRV",
        "exit": 1,
        "log_match": "filtered",
        "log_filter": SRV_LINES,
        "log": [STARTED, received("SRV,SRV"), NO_LOGPARSER]
        + [CHECKING_SERVICES, RUNNING, not_running("KORBMonCtl"), RUNNING, RUNNING,
           not_running("KORBGuard"), RUNNING, not_running("KORBKeySafe")] * 2
        + [FINISHED],
        "expect": {REPORTS: {
            "count": 3, "min_gap_seconds": 2, "status_report": True,
            "count_ini": [(services_report("KORBMonCtl", "KORBGuard", "KORBKeySafe"), 2),
                          (closing("Failed"), 1)]}},
    },
    {
        "name": "service_started_and_paused_between_runs",
        "why": "the same machine checked three times: a service down, then started, then "
               "paused through the service control manager",
        "registry": agent("RULK", RegID="4711"),
        "services": all_running(KORBGuard="stopped"),
        "runs": [
            {
                "command": "SRV",
                "exit": 1,
                "log_match": "filtered",
                "log_filter": SRV_LINES,
                "log": [STARTED, received("SRV"), NO_LOGPARSER, CHECKING_SERVICES,
                        *[RUNNING] * 4, not_running("KORBGuard"), RUNNING, RUNNING, FINISHED],
                "expect": {REPORTS: {"count": 2, "count_ini": [
                    (services_report("KORBGuard"), 1), (closing("Failed"), 1)]}},
            },
            {
                "services": {"KORBGuard": "running"},
                "command": "SRV",
                "exit": 0,
                "log_match": "filtered",
                "log_filter": SRV_LINES,
                "log": [STARTED, received("SRV"), NO_LOGPARSER, CHECKING_SERVICES,
                        *[RUNNING] * 7, FINISHED],
                "expect": {REPORTS: {"count": 3, "count_ini": [
                    (services_report("KORBGuard"), 1), (closing("Success"), 1)]}},
            },
            {
                "services": {"KORBGuard": "paused"},
                "command": "SRV",
                "exit": 0,
                "log_match": "filtered",
                "log_filter": SRV_LINES,
                "log": [STARTED, received("SRV"), NO_LOGPARSER, CHECKING_SERVICES,
                        *[RUNNING] * 7, FINISHED],
                "expect": {REPORTS: {"count": 4, "min_gap_seconds": 2, "count_ini": [
                    (services_report("KORBGuard"), 1), (closing("Success"), 2)]}},
            },
        ],
    },
    {
        "name": "srv_counts_pending_states_as_running_and_a_driver_as_down",
        "targets": ("host",),
        "why": "host only: the test service cannot be held in the stop, continue or pause "
               "pending states under Wine, and Wine loads no driver of an agent service's "
               "name; a loaded kernel driver is never listed among the services",
        "registry": agent("RULK", RegID="4711"),
        "services": all_running(KORBTaskSvc="stop_pending", KORBMonCtl="continue_pending",
                                KORBRemCtl="pause_pending", KORBGuard="driver"),
        "command": "SRV",
        "exit": 1,
        "log_match": "filtered",
        "log_filter": SRV_LINES,
        "log": [STARTED, received("SRV"), NO_LOGPARSER, CHECKING_SERVICES, *[RUNNING] * 4,
                not_running("KORBGuard"), RUNNING, RUNNING, FINISHED],
        "expect": {REPORTS: {"count": 2, "count_ini": [
            (services_report("KORBGuard"), 1), (closing("Failed"), 1)]}},
    },
]
