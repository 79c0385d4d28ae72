"""The data sweeps, which age files by their creation (birth) time: 14 days
for DATA, 45 for a TOVA agent, 7 for NDatapost\\Error\\ after the health check.

On the host a birth time cannot be set, so the files are born when the
machine is prepared and the runs move the clock instead ("days_later": noon
of the day that many days later, so a file's age is exactly that many
calendar days whatever the time of day). Under Wine the clock cannot be
moved, but Wine 8 gives a file its last-modification time as its creation
time: there the files are aged by that time, at the ends of the day that
decides (a day just after midnight stays, the next just before midnight
goes). Neither target can show both times at once: the host scenarios show
that the modification time does not count."""

from common import (DELETING_DATA, FINISHED, GETTING_SIZE, HEALTH_CHECK, NO_LOGPARSER, RUN_LINES,
                    STARTED, TOVA_DATA, TOVA_TARSEL, agent, gate_run, received)

HOST_ONLY = ("host",)
REPORTS = "PMStatus\\*"


def data_run(size_text="0"):
    return [STARTED, received("DATA"), NO_LOGPARSER, DELETING_DATA, GETTING_SIZE,
            "MSG : KORBOD folder Size : %s MB" % size_text, FINISHED]


def present(*paths):
    return {path: "exists" for path in paths}


def gone(*paths):
    return {path: "absent" for path in paths}


DATA_FILES = ["Datadirectory\\modified_long_ago.dat", "Datadirectory\\modified_later.dat",
              "Datadirectory\\sub\\deep\\nested.dat", "Datadirectory\\readonly.dat"]
TOVA_FILES = ["Datadirectory\\a.dat", "Tarsel\\Datadirectory\\b.dat",
              "Tarsel\\Datadirectory\\sub\\c.dat"]
ERROR_FILES = ["NDatapost\\Error\\e1.xml", "NDatapost\\Error\\sub\\e2.xml"]

WINE_ONLY = ("wine",)
WINE_WHY = ("Wine only: Wine 8 takes a file's creation time from its modification time, "
            "which can be set; on the host the birth time counts (see above). ")


def kept_day(days):
    """A file created `days` calendar days ago just after midnight (Wine)."""
    return {"size": 10, "modified_days_ago": days, "modified_at": "00:00:01"}


def gone_day(days):
    """A file created `days` calendar days ago just before midnight (Wine)."""
    return {"size": 10, "modified_days_ago": days, "modified_at": "23:59:59"}

SCENARIOS = [
    {
        "name": "data_sweep_keeps_14_days_by_creation_and_deletes_15",
        "targets": HOST_ONLY,
        "why": "the creation day counts, not the modification time (one file was modified "
               "long before, one after its birth); emptied subfolders go, the swept folder "
               "stays, and DATA does not sweep the Tarsel folder",
        "registry": agent("RULK"),
        "files": {
            "Datadirectory\\modified_long_ago.dat": {"size": 10, "age_days": 100},
            "Datadirectory\\modified_later.dat": {"size": 10, "modified_days_ago": -30},
            "Datadirectory\\sub\\deep\\nested.dat": {"size": 10},
            "Datadirectory\\readonly.dat": {"size": 10, "readonly": True},
            "Tarsel\\Datadirectory\\t.dat": {"size": 10},
        },
        "runs": [
            {
                "days_later": 14,
                "command": "DATA",
                "exit": 0,
                "log": data_run(),
                "expect": present(*DATA_FILES, "Tarsel\\Datadirectory\\t.dat"),
            },
            {
                "days_later": 15,
                "command": "DATA",
                "exit": 0,
                "log": data_run(),
                "expect": {**gone(*DATA_FILES, "Datadirectory\\sub"),
                           "Datadirectory": {"folder": True},
                           "Tarsel\\Datadirectory\\t.dat": "exists",
                           REPORTS: {"count": 2}},
            },
        ],
    },
    {
        "name": "tova_clean_up_keeps_45_days_and_deletes_46",
        "targets": HOST_ONLY,
        "why": "every run of a TOVA agent sweeps both data folders with 45 days, even one "
               "that ends at the gate",
        "registry": agent("TOVA"),
        "files": {path: {"size": 10} for path in TOVA_FILES},
        "runs": [
            {
                "days_later": 45,
                "command": "LOG",
                "exit": 0,
                "log": gate_run("LOG", TOVA_DATA, TOVA_TARSEL),
                "expect": present(*TOVA_FILES),
            },
            {
                "days_later": 46,
                "command": "LOG",
                "exit": 0,
                "log": gate_run("LOG", TOVA_DATA, TOVA_TARSEL),
                "expect": {**gone(*TOVA_FILES, "Tarsel\\Datadirectory\\sub"),
                           "Datadirectory": {"folder": True},
                           "Tarsel\\Datadirectory": {"folder": True}},
            },
        ],
    },
    {
        "name": "health_check_sweeps_ndatapost_error_after_7_days",
        "targets": HOST_ONLY,
        "why": "the health-check run sweeps NDatapost\\Error\\ with 7 days and no other "
               "data folder",
        "registry": agent("RULK"),
        "folders": ["Configuration"],
        "files": {**{path: {"size": 10} for path in ERROR_FILES},
                  "Datadirectory\\d.dat": {"size": 10}},
        "runs": [
            {
                "days_later": 7,
                "command": "AGTHLTHCHK",
                "exit": 0,
                "log_match": "filtered",
                "log_filter": RUN_LINES,
                "log": [STARTED, received("AGTHLTHCHK"), HEALTH_CHECK, FINISHED],
                "expect": present(*ERROR_FILES),
            },
            {
                "days_later": 8,
                "command": "AGTHLTHCHK",
                "exit": 0,
                "log_match": "filtered",
                "log_filter": RUN_LINES,
                "log": [STARTED, received("AGTHLTHCHK"), HEALTH_CHECK, FINISHED],
                "expect": {**gone(*ERROR_FILES, "NDatapost\\Error\\sub"),
                           "NDatapost\\Error": {"folder": True},
                           "Datadirectory\\d.dat": "exists",
                           REPORTS: {"count": 0}},
            },
        ],
    },

    # --- the same limits under Wine, in one run each
    {
        "name": "data_sweep_under_wine_keeps_14_days_and_deletes_15",
        "targets": WINE_ONLY,
        "why": WINE_WHY + "DATA leaves the Tarsel folder alone",
        "registry": agent("RULK"),
        "files": {
            "Datadirectory\\day14.dat": kept_day(14),
            "Datadirectory\\day15.dat": gone_day(15),
            "Datadirectory\\future.dat": kept_day(-2),
            "Datadirectory\\readonly_old.dat": {**gone_day(40), "readonly": True},
            "Datadirectory\\sub\\deep\\old.dat": gone_day(30),
            "Tarsel\\Datadirectory\\old.dat": gone_day(30),
        },
        "command": "DATA",
        "exit": 0,
        "log": data_run(),
        "expect": {
            **present("Datadirectory\\day14.dat", "Datadirectory\\future.dat",
                      "Tarsel\\Datadirectory\\old.dat"),
            **gone("Datadirectory\\day15.dat", "Datadirectory\\readonly_old.dat",
                   "Datadirectory\\sub"),
        },
    },
    {
        "name": "tova_clean_up_under_wine_keeps_45_days_and_deletes_46",
        "targets": WINE_ONLY,
        "why": WINE_WHY,
        "registry": agent("TOVA"),
        "files": {
            "Datadirectory\\day45.dat": kept_day(45),
            "Datadirectory\\day46.dat": gone_day(46),
            "Tarsel\\Datadirectory\\day45.dat": kept_day(45),
            "Tarsel\\Datadirectory\\sub\\day46.dat": gone_day(46),
        },
        "command": "LOG",
        "exit": 0,
        "log": gate_run("LOG", TOVA_DATA, TOVA_TARSEL),
        "expect": {
            **present("Datadirectory\\day45.dat", "Tarsel\\Datadirectory\\day45.dat"),
            **gone("Datadirectory\\day46.dat", "Tarsel\\Datadirectory\\sub"),
        },
    },
    {
        "name": "health_check_under_wine_keeps_7_days_of_errors_and_deletes_8",
        "targets": WINE_ONLY,
        "why": WINE_WHY + "The health-check run sweeps no other data folder",
        "registry": agent("RULK"),
        "folders": ["Configuration"],
        "files": {
            "NDatapost\\Error\\day7.xml": kept_day(7),
            "NDatapost\\Error\\day8.xml": gone_day(8),
            "NDatapost\\Error\\sub\\day8.xml": gone_day(8),
            "Datadirectory\\old.dat": gone_day(30),
        },
        "command": "AGTHLTHCHK",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("AGTHLTHCHK"), HEALTH_CHECK, FINISHED],
        "expect": {
            **present("NDatapost\\Error\\day7.xml", "Datadirectory\\old.dat"),
            **gone("NDatapost\\Error\\day8.xml", "NDatapost\\Error\\sub"),
            "NDatapost\\Error": {"folder": True},
        },
    },
]
