"""Status report files: their name, their seven keys in order, the time
they carry, and the pause that keeps two reports of one run apart."""

from common import (CHECKING_SERVICES, DEFAULT_SERVICES, FINISHED, GETTING_SIZE, NO_LOGPARSER,
                    STARTED, TYPE_CHECKED, agent, received, services_report)

REPORTS = "PMStatus\\*"

SCENARIOS = [
    {
        "name": "two_reports_of_one_run_are_whole_and_two_seconds_apart",
        "why": "the service check's report and the closing one; at 4 in the morning the "
               "hour of LastRunDateTime has one digit",
        "local_hour": 4,
        "registry": agent("RULK", RegID="12345"),
        # no service is registered: all seven are found down
        "command": "SRV",
        "exit": 1,
        "log_match": "subsequence",
        "log": [STARTED, received("SRV"), NO_LOGPARSER, CHECKING_SERVICES, GETTING_SIZE,
                FINISHED],
        "expect": {REPORTS: {
            "count": 2,
            "names": r"12345_Quillet_[0-9]{14}\.ini",
            "min_gap_seconds": 2,
            "status_report": True,
            # the hour may have turned while the scenario ran
            "match": r"\r\nLastRunDateTime=[0-9]{2}/[0-9]{2}/[0-9]{4} [45]:[0-5][0-9]:",
            "count_ini": [
                (services_report(*DEFAULT_SERVICES), 1),
                ({"STATUS_INFO": {"PID": "MN Status Check", "LastRunStatusCode": "Failed",
                                  "Desc": "KORBOD folder Size : 0 MB"}}, 1),
            ],
        }},
    },
    {
        "name": "report_without_regid_is_named_zero_and_lower_case_rulk_passes_type_check",
        "why": "a missing RegID reads as 0; rulk passes the gate (upper-cased) and the "
               "type check (trimmed and upper-cased); the PMStatus folder is created",
        "registry": agent("rulk"),
        "command": "TYPE",
        "exit": 0,
        "log": [STARTED, received("TYPE"), NO_LOGPARSER, TYPE_CHECKED, GETTING_SIZE,
                "MSG : KORBOD folder Size : 0 MB", FINISHED],
        "expect": {REPORTS: {
            "count": 1,
            "names": r"0_Quillet_[0-9]{14}\.ini",
            "status_report": True,
            "count_ini": [({"STATUS_INFO": {
                "RegID": "0", "PID": "MN Status Check", "LastRunStatusCode": "Success",
                "Desc": "KORBOD folder Size : 0 MB"}}, 1)],
        }},
    },
]
