"""Names outside the ANSI code page (CJK, emoji) and paths longer than 300
characters: the sweeps, the alert count and the folder size reach them as
they reach any other file. Through the ANSI calls they could not: a listing
spelled such a letter "?", a name that then named nothing (the deletion
failed, the file counted as gone), and a path past MAX_PATH failed with
"The filename or extension is too long."

On the host the names are UTF-8 bytes and no path limit exists, so the same
tables show that nothing there depends on ASCII or short paths. Under Wine
the names reach the program as UTF-16 only when Wine runs in a UTF-8 locale
(LANG=C.UTF-8, say): in the C locale Wine cannot spell them at all."""

from common import (DELETING_DATA, DELETING_LOGS, FINISHED, GETTING_SIZE, NO_LOGPARSER, STARTED,
                    agent, received)

MIB = 1024 * 1024
REPORTS = "PMStatus\\*"
OLD_LOG = {"size": 100, "age_days": 30}

# Six folders of 45 letters: any path below them is past 300 characters.
CHAIN = "\\".join("level%d_" % i + "d" * 38 for i in range(1, 7))
FIRST_FOLDER = CHAIN.split("\\")[0]
# The alert count reads one folder, so the length is in the install path and
# a long file name (NTFS and Linux both stop at 255).
LONG_INSTALL = "C:\\QTest\\paths_past_300_characters_" + "i" * 20
LONG_TICKET = "AlertTkt\\" + "t" * 246 + ".tkt"
assert len(LONG_INSTALL) + 1 + len(LONG_TICKET) > 300
assert len(LONG_INSTALL) + len("\\ApplicationLog\\") + len(CHAIN) > 300


def closing(size_text):
    return {"STATUS_INFO": {"PID": "MN Status Check", "LastRunStatusCode": "Success",
                            "Desc": "KORBOD folder Size : %s MB" % size_text}}


def size_line(size_text):
    return "MSG : KORBOD folder Size : %s MB" % size_text


def long_path_runs(days_later):
    """LOG and ALERT, then DATA. Data files age by creation: the host moves the
    clock 15 days for DATA (a moved clock would age the activity log itself
    for LOG: files are written at the real time); under Wine the old data file
    is dated 15 days back, which Wine takes for its creation too."""
    return [
        {
            "command": "LOG,ALERT",
            "exit": 0,
            "log": [STARTED, received("LOG,ALERT"), NO_LOGPARSER, DELETING_LOGS,
                    "INF : Number of files pending in alert ticket folder are - 2",
                    GETTING_SIZE, size_line("2"), FINISHED],
            "expect": {
                "ApplicationLog\\" + CHAIN + "\\old.log": "absent",
                "ApplicationLog\\" + CHAIN + "\\young.log": "exists",
                LONG_TICKET: "exists",
                REPORTS: {"count": 1, "any_ini": closing("2")},
            },
        },
        {
            "days_later": days_later,
            "command": "DATA",
            "exit": 0,
            "log": [STARTED, received("DATA"), NO_LOGPARSER, DELETING_DATA, GETTING_SIZE,
                    size_line("2"), FINISHED],
            "expect": {
                "Datadirectory\\" + FIRST_FOLDER: "absent",
                "Datadirectory": {"folder": True},
                REPORTS: {"count": 2, "any_ini": closing("2")},
            },
        },
    ]


SCENARIOS = [
    {
        "name": "cjk_and_emoji_names_are_swept_and_sized",
        "why": "old logs named in CJK and emoji go, in ApplicationLog and in a subfolder that "
               "has a CJK name itself; a young 1 MiB log there stays and is counted (1 MB); "
               "the data sweep removes an empty folder with a CJK name and enters one that "
               "holds a young file",
        "registry": agent("RULK"),
        "files": {
            "ApplicationLog\\日志.log": OLD_LOG,
            "ApplicationLog\\😀.log": OLD_LOG,
            "ApplicationLog\\日志\\日志.log": OLD_LOG,
            "ApplicationLog\\日志\\😀.log": OLD_LOG,
            "ApplicationLog\\日志\\新しい.log": {"size": MIB},
            "Datadirectory\\资料\\😀.dat": {"size": 10},
        },
        "folders": ["Datadirectory\\数据"],
        "command": "LOG,DATA",
        "exit": 0,
        "log": [STARTED, received("LOG,DATA"), NO_LOGPARSER, DELETING_LOGS, DELETING_DATA,
                GETTING_SIZE, size_line("1"), FINISHED],
        "expect": {
            "ApplicationLog\\日志.log": "absent",
            "ApplicationLog\\😀.log": "absent",
            "ApplicationLog\\日志\\日志.log": "absent",
            "ApplicationLog\\日志\\😀.log": "absent",
            "ApplicationLog\\日志\\新しい.log": "exists",
            "Datadirectory\\数据": "absent",
            "Datadirectory\\资料\\😀.dat": "exists",
            REPORTS: {"count": 1, "any_ini": closing("1")},
        },
    },
    {
        "name": "paths_past_300_characters_are_swept_counted_and_sized",
        "why": "below a chain of long folder names an old log and an old data file go (and "
               "the data chain, left without bytes, with them), a young 2 MiB log stays and is "
               "counted (2 MB), and a ticket whose path is past 300 characters is counted",
        "install": LONG_INSTALL,
        "registry": agent("RULK"),
        "files": {
            "ApplicationLog\\" + CHAIN + "\\old.log": OLD_LOG,
            "ApplicationLog\\" + CHAIN + "\\young.log": {"size": 2 * MIB},
            "Datadirectory\\" + CHAIN + "\\old.dat": {"size": 10, "modified_days_ago": 15,
                                                      "modified_at": "23:59:59"},
            LONG_TICKET: "",
            "AlertTkt\\short.tkt": "",
        },
        "runs": long_path_runs(15),
        "on_target": {"wine": {"runs": long_path_runs(None)}},
    },
]
