"""Housekeeping words on a RULK agent: the log sweep by modification day and
size, the data sweep's removal of folders without bytes, the alert ticket
count and the folder size of the closing report."""

from common import (DELETING_DATA, DELETING_LOGS, FINISHED, GETTING_SIZE, NO_LOGPARSER, STARTED,
                    agent, received)

MIB = 1024 * 1024
REPORTS = "PMStatus\\*"


def closing(size_text, status="Success"):
    return {"STATUS_INFO": {"PID": "MN Status Check", "LastRunStatusCode": status,
                            "Desc": "KORBOD folder Size : %s MB" % size_text}}


def word_run(command, *task_lines, size_text):
    """The whole log of a RULK run of task words without Logparser.dll."""
    return [STARTED, received(command), NO_LOGPARSER, *task_lines, GETTING_SIZE,
            "MSG : KORBOD folder Size : %s MB" % size_text, FINISHED]


def alert_count(number):
    return "INF : Number of files pending in alert ticket folder are - %d" % number


ALERT_REPORT = {"STATUS_INFO": {"PID": "Agent_AlertTktPending_MNStatus",
                                "LastRunStatusCode": "Success",
                                "Desc": "Files in alert ticket folder - 101"}}

SCENARIOS = [
    {
        "name": "log_sweep_by_modification_day_and_size",
        "why": "ages are calendar days: 5 days ago just after midnight stays, 6 days ago just "
               "before midnight goes; more than 5 MiB goes, exactly 5 MiB stays; the whole "
               "tree is swept and no folder is removed",
        "registry": agent("RULK"),
        "files": {
            "ApplicationLog\\five_days.log": {"size": 100, "modified_days_ago": 5,
                                              "modified_at": "00:00:01"},
            "ApplicationLog\\six_days.log": {"size": 100, "modified_days_ago": 6,
                                             "modified_at": "23:59:59"},
            "ApplicationLog\\exactly_5_mib.log": {"size": 5 * MIB},
            "ApplicationLog\\over_5_mib.log": {"size": 5 * MIB + 1},
            "ApplicationLog\\future.log": {"size": 100, "modified_days_ago": -3},
            "ApplicationLog\\readonly_old.log": {"size": 100, "age_days": 30, "readonly": True},
            "ApplicationLog\\a\\young.log": {"size": 100},
            "ApplicationLog\\a\\b\\young.log": {"size": 100},
            "ApplicationLog\\a\\b\\c\\old.log": {"size": 100, "age_days": 30},
            "ApplicationLog\\a\\b\\c\\young.log": {"size": 100},
            "ApplicationLog\\d\\old.log": {"size": 100, "age_days": 7},
        },
        "folders": ["ApplicationLog\\empty", "ApplicationLog\\d\\e"],
        "command": "LOG",
        "exit": 0,
        # 5 MiB and a few small files: 5.00 MB
        "log": word_run("LOG", DELETING_LOGS, size_text="5"),
        "expect": {
            "ApplicationLog\\five_days.log": "exists",
            "ApplicationLog\\six_days.log": "absent",
            "ApplicationLog\\exactly_5_mib.log": "exists",
            "ApplicationLog\\over_5_mib.log": "absent",
            "ApplicationLog\\future.log": "exists",
            "ApplicationLog\\readonly_old.log": "absent",
            "ApplicationLog\\a\\young.log": "exists",
            "ApplicationLog\\a\\b\\young.log": "exists",
            "ApplicationLog\\a\\b\\c\\old.log": "absent",
            "ApplicationLog\\a\\b\\c\\young.log": "exists",
            "ApplicationLog\\d\\old.log": "absent",
            "ApplicationLog\\d\\e": {"folder": True},
            "ApplicationLog\\a\\b\\c": {"folder": True},
            "ApplicationLog\\empty": {"folder": True},
            REPORTS: {"count": 1, "any_ini": closing("5")},
        },
    },
    {
        "name": "data_sweep_removes_folders_left_without_bytes",
        "why": "young files stay, but a subfolder holding no bytes goes with what it holds "
               "(a zero-length file, a read-only one, empty folders); DATA leaves the Tarsel "
               "folder alone",
        "registry": agent("RULK"),
        "files": {
            "Datadirectory\\top.dat": "",
            "Datadirectory\\keep\\young.dat": {"size": 100},
            "Datadirectory\\keep\\zero\\empty.dat": "",
            "Datadirectory\\zero\\empty.dat": "",
            "Datadirectory\\readonly\\empty.dat": {"content": "", "readonly": True},
            "Tarsel\\Datadirectory\\zero\\empty.dat": "",
        },
        "folders": ["Datadirectory\\emptydir\\inner\\innermost"],
        "command": "DATA",
        "exit": 0,
        "log": word_run("DATA", DELETING_DATA, size_text="0"),
        "expect": {
            "Datadirectory\\top.dat": "exists",
            "Datadirectory\\keep\\young.dat": "exists",
            "Datadirectory\\keep\\zero": "absent",
            "Datadirectory\\zero": "absent",
            "Datadirectory\\readonly": "absent",
            "Datadirectory\\emptydir": "absent",
            "Tarsel\\Datadirectory\\zero\\empty.dat": "exists",
            REPORTS: {"count": 1, "any_ini": closing("0")},
        },
    },
    {
        "name": "alert_backlog_of_101_is_reported_and_100_is_not",
        "why": "the count is of the folder's own files (a subfolder's are not counted) and "
               "strictly above 100; the backlog report says Success and the run stays "
               "successful. The install folder holds 5,000,000 bytes besides the log: 4.77 MB",
        "registry": agent("RULK"),
        "files": {
            **{"AlertTkt\\ticket%03d.tkt" % i: "" for i in range(1, 101)},
            **{"AlertTkt\\done\\old%d.tkt" % i: "" for i in range(1, 4)},
            "Datadirectory\\bulk.dat": {"size": 5000000},
        },
        "runs": [
            {
                "command": "ALERT",
                "exit": 0,
                "log": word_run("ALERT", alert_count(100), size_text="4.77"),
                "expect": {REPORTS: {"count": 1, "any_ini": closing("4.77")}},
            },
            {
                "files": {"AlertTkt\\ticket101.tkt": ""},
                "command": "ALERT",
                "exit": 0,
                "log": word_run("ALERT", alert_count(101), size_text="4.77"),
                "expect": {REPORTS: {"count": 3, "status_report": True,
                                     "count_ini": [(ALERT_REPORT, 1), (closing("4.77"), 2)]}},
            },
        ],
    },
]
