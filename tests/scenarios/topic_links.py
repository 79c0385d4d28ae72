"""Links inside the agent folder that point out of it: the sweeps and the
folder size never follow them, so nothing outside the agent is deleted or
counted. A link that is itself too old is removed as a link.

Wine 8 cannot make Windows links: `mklink /J` fails ("Failed to open"),
`mklink /D` and CreateSymbolicLinkA report success and make nothing. The links
here are Unix symbolic links on both targets. Under Wine a link to a folder
shows as a folder with the reparse-point attribute (so it is not followed),
but with the times of what it points to, and RemoveDirectory on it acts on
the folder it points to (an empty one is removed, a full one fails with
"Directory is not empty."); a link to a file shows as a plain file with its
target's times and size, and DeleteFile on it deletes the target. None of
that is how Windows treats its own links, so under Wine only the young
folder links are checked."""

from common import (DELETING_DATA, DELETING_LOGS, FINISHED, GETTING_SIZE, NO_LOGPARSER, STARTED,
                    agent, received)

MIB = 1024 * 1024
OUTSIDE = "C:\\QTest\\links_outside_the_agent"
OUTSIDE_AGED = "C:\\QTest\\links_outside_the_agent_aged"


def outside_tree(root):
    """Old files and a big one outside the agent folder: any sweep that
    followed a link would delete them, a size that followed it would count 6 MiB."""
    return {
        root + "\\logs\\old.log": {"size": 100, "age_days": 30},
        root + "\\logs\\big.log": {"size": 6 * MIB},
        root + "\\logs\\deeper\\old.log": {"size": 100, "age_days": 30},
        root + "\\data\\old.dat": {"size": 100, "age_days": 30},
        root + "\\data\\sub\\zero.dat": "",
        root + "\\single\\old_single.log": {"size": 100, "age_days": 30},
    }


def outside_kept(root):
    return {path: "exists" for path in outside_tree(root)}


SIZE_LINE = "MSG : KORBOD folder Size : 0 MB"

SCENARIOS = [
    {
        "name": "sweeps_and_size_do_not_follow_links_out_of_the_agent",
        "why": "young links to folders and files outside the agent: kept, not followed, "
               "not counted. Not the file link under Wine: it shows there as the old file "
               "it points to, which the log sweep then deletes through it",
        "registry": agent("RULK"),
        "files": outside_tree(OUTSIDE),
        "links": {
            "ApplicationLog\\logs_link": OUTSIDE + "\\logs",
            "ApplicationLog\\file_link.log": OUTSIDE + "\\single\\old_single.log",
            "Datadirectory\\data_link": OUTSIDE + "\\data",
        },
        "command": "LOG,DATA",
        "exit": 0,
        "log": [STARTED, received("LOG,DATA"), NO_LOGPARSER, DELETING_LOGS, DELETING_DATA,
                GETTING_SIZE, SIZE_LINE, FINISHED],
        "expect": {
            **outside_kept(OUTSIDE),
            "ApplicationLog\\logs_link": {"link": True},
            "ApplicationLog\\file_link.log": {"link": True},
            "Datadirectory\\data_link": {"link": True},
        },
        "on_target": {"wine": {
            "links": {
                "ApplicationLog\\logs_link": OUTSIDE + "\\logs",
                "Datadirectory\\data_link": OUTSIDE + "\\data",
            },
            "expect": {
                **outside_kept(OUTSIDE),
                "ApplicationLog\\logs_link": {"link": True},
                "Datadirectory\\data_link": {"link": True},
            },
        }},
    },
    {
        "name": "log_sweep_removes_an_old_link_but_not_what_it_points_to",
        "targets": ("host",),
        "why": "a link last modified 30 days ago is too old: it goes as a link, and the "
               "folder or file it points to stays. Host only: Wine gives a link the times "
               "of what it points to and removes through it what it points to",
        "registry": agent("RULK"),
        "files": outside_tree(OUTSIDE_AGED),
        "links": {
            "ApplicationLog\\logs_link": {"target": OUTSIDE_AGED + "\\logs", "age_days": 30},
            "ApplicationLog\\file_link.log": {"target": OUTSIDE_AGED + "\\single\\old_single.log",
                                              "age_days": 30},
        },
        "command": "LOG",
        "exit": 0,
        "log": [STARTED, received("LOG"), NO_LOGPARSER, DELETING_LOGS, GETTING_SIZE, SIZE_LINE,
                FINISHED],
        "expect": {
            **outside_kept(OUTSIDE_AGED),
            "ApplicationLog\\logs_link": "absent",
            "ApplicationLog\\file_link.log": "absent",
        },
    },
    {
        "name": "data_sweep_removes_an_old_link_but_not_what_it_points_to",
        "targets": ("host",),
        "why": "host only: a link's birth time cannot be set, so the clock moves 15 days "
               "(impossible under Wine); the files the links point to are as old as the "
               "links, so following them would delete them",
        "registry": agent("RULK"),
        "files": outside_tree(OUTSIDE_AGED),
        "links": {
            "Datadirectory\\data_link": OUTSIDE_AGED + "\\data",
            "Datadirectory\\sub\\file_link.dat": OUTSIDE_AGED + "\\single\\old_single.log",
        },
        "runs": [{
            "days_later": 15,
            "command": "DATA",
            "exit": 0,
            "log": [STARTED, received("DATA"), NO_LOGPARSER, DELETING_DATA, GETTING_SIZE,
                    SIZE_LINE, FINISHED],
            "expect": {
                **outside_kept(OUTSIDE_AGED),
                "Datadirectory\\data_link": "absent",
                # left without bytes once its link is gone
                "Datadirectory\\sub": "absent",
                "Datadirectory": {"folder": True},
            },
        }],
    },
]
