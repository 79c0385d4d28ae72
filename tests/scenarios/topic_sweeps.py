"""The sweeps, the alert ticket count and the folder size, over links out of
the agent folder, names outside the ANSI code page and paths past 300
characters.

Data files age by creation time. On the host a birth time cannot be set, so
the runs move the clock ("days_later"); Wine 8 takes a file's creation time
from its modification time, so there files are dated at the ends of the day
that decides. Only the host shows that the modification time does not count.
The links are Unix symbolic links on both targets (Wine 8 cannot make
Windows links); Wine gives one the times of what it points to and deletes
through it, so there only young links to folders are checked."""

from common import (CHECKING_SERVICES, DEFAULT_SERVICES, DELETING_DATA, DELETING_LOGS,
                    DELETING_TARSEL, DEVICE_LIST, HEALTH_CHECK, LOG, NO_LOGPARSER, REPORTS,
                    RUN_LINES, STARTED, SYNCHRONISING, TOVA, agent, closing, gate, received, run,
                    scenario, sized, whole_report)
from harness.scenario import filler, pattern

MIB = 1024 * 1024
OLD = {"size": 100, "age_days": 30}
TEN = {"size": 10}
OUTSIDE = "C:\\QTest\\links_outside_the_agent"
AGED = "C:\\QTest\\links_outside_the_agent_aged"


def have(*paths, state="exists"):
    return {path: state for path in paths}


def gone(*paths):
    return have(*paths, state="absent")


def kept_day(days):
    """Created `days` calendar days ago just after midnight (Wine)."""
    return {"size": 10, "modified_days_ago": days, "modified_at": "00:00:01"}


def gone_day(days):
    """Created `days` calendar days ago just before midnight (Wine)."""
    return {"size": 10, "modified_days_ago": days, "modified_at": "23:59:59"}


def outside_tree(root):
    """Old files and a big one outside the agent folder: a sweep that
    followed a link would delete them, a size that followed one would count
    6 MiB."""
    return {root + "\\logs\\old.log": OLD, root + "\\logs\\big.log": {"size": 6 * MIB},
            root + "\\logs\\deeper\\old.log": OLD, root + "\\data\\old.dat": OLD,
            root + "\\data\\sub\\zero.dat": "", root + "\\single\\old_single.log": OLD}


def health(**more):
    return run("AGTHLTHCHK", HEALTH_CHECK, only=RUN_LINES, **more)


DATA_FILES = ["Datadirectory\\modified_long_ago.dat", "Datadirectory\\modified_later.dat",
              "Datadirectory\\sub\\deep\\nested.dat", "Datadirectory\\readonly.dat"]
ERROR_FILES = ["NDatapost\\Error\\e1.xml", "NDatapost\\Error\\sub\\e2.xml"]
TOVA_FILES = ["Datadirectory\\a.dat", "Tarsel\\Datadirectory\\b.dat",
              "Tarsel\\Datadirectory\\sub\\c.dat"]
TARSEL = "Tarsel\\Datadirectory\\t.dat"
LOG_FILES = {  # name: (spec, kept)
    # calendar days: 5 days ago just after midnight stays, 6 days ago just
    # before midnight goes
    "five_days.log": ({"size": 100, "modified_days_ago": 5, "modified_at": "00:00:01"}, True),
    "six_days.log": ({"size": 100, "modified_days_ago": 6, "modified_at": "23:59:59"}, False),
    "exactly_5_mib.log": ({"size": 5 * MIB}, True),
    "over_5_mib.log": ({"size": 5 * MIB + 1}, False),
    "future.log": ({"size": 100, "modified_days_ago": -3}, True),
    "readonly_old.log": ({"size": 100, "age_days": 30, "readonly": True}, False),
    "a\\young.log": ({"size": 100}, True),
    "a\\b\\young.log": ({"size": 100}, True),
    "a\\b\\c\\old.log": (OLD, False),
    "a\\b\\c\\young.log": ({"size": 100}, True),
    "d\\old.log": ({"size": 100, "age_days": 7}, False),
}
# Young files stay, but a subfolder holding no bytes goes with what it holds
# (a zero-length file, a read-only one, empty folders).
DATA_NO_BYTES = {"Datadirectory\\top.dat": ("", True),
                 "Datadirectory\\keep\\young.dat": ({"size": 100}, True),
                 "Datadirectory\\keep\\zero\\empty.dat": ("", False),
                 "Datadirectory\\zero\\empty.dat": ("", False),
                 "Datadirectory\\readonly\\empty.dat": ({"content": "", "readonly": True}, False),
                 "Tarsel\\Datadirectory\\zero\\empty.dat": ("", True)}
# Through the ANSI calls a listing spelled a letter outside the code page "?",
# a name that named nothing. A young 1 MiB log is counted, so the size is 6 MB.
CJK = {"ApplicationLog\\日志.log": (OLD, False), "ApplicationLog\\😀.log": (OLD, False),
       "ApplicationLog\\日志\\日志.log": (OLD, False), "ApplicationLog\\日志\\😀.log": (OLD, False),
       "ApplicationLog\\日志\\新しい.log": ({"size": MIB}, True),
       "Datadirectory\\资料\\😀.dat": (TEN, True)}
LOG_AND_DATA = {**{"ApplicationLog\\" + name: row for name, row in LOG_FILES.items()},
                **DATA_NO_BYTES, **CJK}


def young_links(file_link):
    """Young links to folders (and a file) outside the agent: kept, not
    followed, not counted. Not the file link under Wine: it shows there as
    the old file it points to, which the log sweep deletes through it."""
    links = {"ApplicationLog\\logs_link": OUTSIDE + "\\logs",
             "Datadirectory\\data_link": OUTSIDE + "\\data"}
    if file_link:
        links["ApplicationLog\\file_link.log"] = OUTSIDE + "\\single\\old_single.log"
    expect = {**have(*outside_tree(OUTSIDE)), **{path: {"link": True} for path in links}}
    return {"links": links, "expect": {**expect, **{
        path: "exists" if kept else "absent" for path, (_spec, kept) in LOG_AND_DATA.items()},
        # the whole tree is swept and no folder of logs is removed
        **have("ApplicationLog\\d\\e", "ApplicationLog\\a\\b\\c", "ApplicationLog\\empty",
               state={"folder": True}),
        **gone("Datadirectory\\keep\\zero", "Datadirectory\\zero", "Datadirectory\\readonly",
               "Datadirectory\\emptydir", "Datadirectory\\数据"),
        REPORTS: {"count": 1, "count_ini": [(closing("Success", "6"), 1)]}}}


SCENARIOS = [
    scenario("log_and_data_sweeps_keep_young_links_and_the_size_does_not_follow_them",
             sized("LOG,DATA", DELETING_LOGS, DELETING_DATA, size="6", preview=True),
             files={**{path: spec for path, (spec, _kept) in LOG_AND_DATA.items()},
                    **outside_tree(OUTSIDE)},
             folders=["ApplicationLog\\empty", "ApplicationLog\\d\\e",
                      "Datadirectory\\emptydir\\inner\\innermost", "Datadirectory\\数据"],
             **young_links(True), on_target={"wine": young_links(False)}),

    # The host moves the clock. The creation day counts, not the
    # modification time (one file was modified long before its birth, one
    # after); emptied subfolders go, the swept folder stays; DATA does not
    # sweep Tarsel, the health-check run sweeps no data folder but
    # NDatapost\Error\. A link too old goes as a link, what it points to
    # stays: the log sweep's to a file by its own modification time (one to
    # a folder stays: that sweep removes no folder), the data sweep's by its
    # birth (the files it points to are as old, so following it would delete
    # them); a folder left without bytes once its link is gone goes too.
    scenario("sweeps_by_creation_day_remove_old_links_only",
             sized("LOG", DELETING_LOGS, expect={
                 **gone("ApplicationLog\\file_link.log"),
                 "ApplicationLog\\logs_link": {"link": True}, **have(*outside_tree(AGED))}),
             health(days_later=8, expect={
                 **gone(*ERROR_FILES, "NDatapost\\Error\\sub"), **have(*DATA_FILES),
                 "NDatapost\\Error": {"folder": True}, REPORTS: {"count": 1}}),
             sized("DATA", DELETING_DATA, days_later=15, expect={
                 **gone(*DATA_FILES, "Datadirectory\\sub", "Datadirectory\\data_link",
                        "Datadirectory\\linked"),
                 **have(TARSEL, *outside_tree(AGED)), "Datadirectory": {"folder": True},
                 REPORTS: {"count": 2}}),
             folders=["Configuration"],
             files={"Datadirectory\\modified_long_ago.dat": {"size": 10, "age_days": 100},
                    "Datadirectory\\modified_later.dat": {"size": 10, "modified_days_ago": -30},
                    "Datadirectory\\sub\\deep\\nested.dat": TEN,
                    "Datadirectory\\readonly.dat": {"size": 10, "readonly": True},
                    TARSEL: TEN, **{path: TEN for path in ERROR_FILES}, **outside_tree(AGED)},
             links={"ApplicationLog\\logs_link": {"target": AGED + "\\logs", "age_days": 30},
                    "ApplicationLog\\file_link.log": {
                        "target": AGED + "\\single\\old_single.log", "age_days": 30},
                    "Datadirectory\\data_link": AGED + "\\data",
                    "Datadirectory\\linked\\file_link.dat": AGED + "\\single\\old_single.log"},
             # the same limits under Wine, where files are dated instead
             on_target={"wine": {"links": {}, "runs": [
                 health(expect={
                     **have("NDatapost\\Error\\day7.xml", "Datadirectory\\day15.dat"),
                     **gone("NDatapost\\Error\\day8.xml", "NDatapost\\Error\\sub"),
                     "NDatapost\\Error": {"folder": True}}),
                 sized("DATA", DELETING_DATA, expect={
                     **have("Datadirectory\\day14.dat", "Datadirectory\\future.dat",
                            "Tarsel\\Datadirectory\\old.dat"),
                     **gone("Datadirectory\\day15.dat", "Datadirectory\\readonly_old.dat",
                            "Datadirectory\\sub")})], "files": {
                 "NDatapost\\Error\\day7.xml": kept_day(7),
                 "NDatapost\\Error\\day8.xml": gone_day(8),
                 "NDatapost\\Error\\sub\\day8.xml": gone_day(8),
                 "Datadirectory\\day14.dat": kept_day(14), "Datadirectory\\day15.dat": gone_day(15),
                 "Datadirectory\\future.dat": kept_day(-2),
                 "Datadirectory\\readonly_old.dat": {**gone_day(40), "readonly": True},
                 "Datadirectory\\sub\\deep\\old.dat": gone_day(30),
                 "Tarsel\\Datadirectory\\old.dat": gone_day(30)}}}),
    # every run of a TOVA agent sweeps both data folders with 45 days, even
    # one that ends at the gate; Wine only, where files are dated (the host's
    # birth times and moved clock are the creation-day sweeps' above)
    scenario("tova_clean_up_keeps_45_days_and_deletes_46",
             gate("LOG", *TOVA, expect={
                 **have("Datadirectory\\a45.dat", "Tarsel\\Datadirectory\\b45.dat"),
                 **gone(*TOVA_FILES, "Tarsel\\Datadirectory\\sub"),
                 **have("Datadirectory", "Tarsel\\Datadirectory", state={"folder": True})}),
             registry=agent("TOVA"), targets=("wine",),
             files={**{p: gone_day(46) for p in TOVA_FILES},
                    "Datadirectory\\a45.dat": kept_day(45),
                    "Tarsel\\Datadirectory\\b45.dat": kept_day(45)}),

    # The count is of the folder's own files (not a subfolder's) and strictly
    # above 100; the backlog report says Success and the run stays
    # successful. 5,000,000 bytes besides the log: 4.77 MB.
    scenario("alert_backlog_of_101_is_reported_and_100_is_not",
             sized("ALERT", "INF : Number of files pending in alert ticket folder are - 100",
                   size="4.77",
                   expect={REPORTS: {"count": 1, "count_ini": [(closing("Success", "4.77"), 1)]}}),
             sized("ALERT", "INF : Number of files pending in alert ticket folder are - 101",
                   size="4.77", files={"AlertTkt\\ticket101.tkt": ""}, expect={REPORTS: {
                       "count": 3, **whole_report("0"), "count_ini": [
                           ({"STATUS_INFO": {"PID": "Agent_AlertTktPending_MNStatus",
                                             "LastRunStatusCode": "Success",
                                             "Desc": "Files in alert ticket folder - 101"}}, 1),
                           (closing("Success", "4.77"), 2)]}}),
             files={**{"AlertTkt\\ticket%03d.tkt" % i: "" for i in range(1, 101)},
                    **{"AlertTkt\\done\\old%d.tkt" % i: "" for i in range(1, 4)},
                    "Datadirectory\\bulk.dat": {"size": 5000000}}),
]

# Paths past 300 characters: through the ANSI calls a path past MAX_PATH failed.
CHAIN = "\\".join("level%d_" % i + "d" * 38 for i in range(1, 7))  # six folders of 45
# The alert count reads one folder: the length is in the install path and a
# long file name (NTFS and Linux both stop at 255).
LONG_INSTALL = "C:\\QTest\\paths_past_300_characters_" + "i" * 20
LONG_TICKET = "AlertTkt\\" + "t" * 246 + ".tkt"
assert len(LONG_INSTALL) + 1 + len(LONG_TICKET) > 300
assert len(LONG_INSTALL) + len("\\ApplicationLog\\") + len(CHAIN) > 300


SCENARIOS += [
    # below a chain of long folder names an old log and an old data file go
    # (and the data chain, left without bytes), a young 2 MiB log stays and
    # is counted, and a ticket whose path is past 300 characters is counted.
    # Wine only: the host's own calls are the contract suite's.
    scenario("paths_past_300_characters_are_swept_counted_and_sized",
             sized("LOG,ALERT", DELETING_LOGS,
                   "INF : Number of files pending in alert ticket folder are - 2", size="2",
                   expect={**gone("ApplicationLog\\" + CHAIN + "\\old.log"),
                           **have("ApplicationLog\\" + CHAIN + "\\young.log", LONG_TICKET),
                           REPORTS: {"count": 1, "count_ini": [(closing("Success", "2"), 1)]}}),
             sized("DATA", DELETING_DATA, size="2",
                   expect={**gone("Datadirectory\\" + CHAIN.split("\\")[0]),
                           "Datadirectory": {"folder": True},
                           REPORTS: {"count": 2, "count_ini": [(closing("Success", "2"), 2)]}}),
             install=LONG_INSTALL, targets=("wine",),
             files={"ApplicationLog\\" + CHAIN + "\\old.log": OLD,
                    "ApplicationLog\\" + CHAIN + "\\young.log": {"size": 2 * MIB},
                    "Datadirectory\\" + CHAIN + "\\old.dat": gone_day(15),
                    LONG_TICKET: "", "AlertTkt\\short.tkt": ""}),
]

# Links below the agent's folders, to files outside: the run's writes, made
# with its rights, do not follow them there. An oversized log that is a link
# goes as a link, and a device list link refuses the synchronisation.
WRITTEN_OUTSIDE = "C:\\QTest\\written_outside"
BAIT = {WRITTEN_OUTSIDE + "\\DeviceList.ini": "[KEPT]\r\nx=1\r\n",
        WRITTEN_OUTSIDE + "\\MNStatusLog.txt": {"size": 3 * MIB}}
BAIT_LINKS = {DEVICE_LIST: WRITTEN_OUTSIDE + "\\DeviceList.ini",
              LOG: WRITTEN_OUTSIDE + "\\MNStatusLog.txt"}
UNTOUCHED = {WRITTEN_OUTSIDE + "\\*": {"count": 2},
             WRITTEN_OUTSIDE + "\\MNStatusLog.txt": {"content": filler(3 * MIB)},
             WRITTEN_OUTSIDE + "\\DeviceList.ini": {"content": "[KEPT]\r\nx=1\r\n"}}


def refused(text, source):
    return pattern(r"ERR : Error while %s\. Error No\. ?: -?\d+, Error Description : .+, "
                   r"Source = %s\(\)( Line No : \d+)?" % (text, source))


SCENARIOS += [
    scenario("links_below_the_agent_folders_lead_no_write_outside",
             run("DEVICELIST,LOG", NO_LOGPARSER, SYNCHRONISING,
                 refused("recreating devicelist\\.ini from registry", "PriSubSyncDeviceList"),
                 DELETING_LOGS, exit=1, expect=UNTOUCHED, only=RUN_LINES + ["^ERR"]),
             registry=agent(RegID="R-9"),
             registry_keys={"ManagedMachines\\PC1": {"RegID": "R-9", "Type": "1"}},
             folders=["Configuration"], files=BAIT, links=BAIT_LINKS,
             on_target={"wine": {"links": {DEVICE_LIST: BAIT_LINKS[DEVICE_LIST]}}},
             why="Wine shows a Unix link to a file as the file, and the log through it: the "
                 "deletion of the oversized log, checked through its handle, is refused there "
                 "and ends the run with nothing in the log to compare"),
]

# The activity log a link to a file that does not exist (yet): the append,
# refused, leaves nothing made out there. Wine shows the link as a missing
# file and creates the file through it; the check through the handle then
# refuses the append and deletes what it made.
SCENARIOS += [
    scenario("a_log_link_to_nothing_makes_nothing_outside",
             sized("ALERT", log=None, expect={"C:\\QTest\\made_outside\\*": {"count": 0}}),
             folders=["C:\\QTest\\made_outside"],
             links={LOG: "C:\\QTest\\made_outside\\MNStatusLog.txt"}),
]

# The administrator moved every folder of the agent elsewhere with a link
# (Tarsel\Datadirectory and NDatapost\Error links again inside the moved
# folders), and the install folder is reached through a link too: each is
# followed. The sweeps delete in the targets and nothing beside them,
# everything is written there, and the folder size counts the two young 1 MiB
# data files once each. Under Wine files are dated instead of moving the clock.
INSTALL_LINK = {"C:\\QTest\\install_link": "C:\\QTest\\install_target"}
MOVED = "C:\\QTest\\moved_agent_folders"
MOVED_LINKS = {**{name: MOVED + "\\" + name for name in (
    "ApplicationLog", "Datadirectory", "Tarsel", "NDatapost", "AlertTkt", "PMStatus", "Status",
    "Configuration")}, MOVED + "\\Tarsel\\Datadirectory": MOVED + "\\TarselData",
    MOVED + "\\NDatapost\\Error": MOVED + "\\PostErrors"}
MOVED_OLD = [MOVED + "\\Datadirectory\\old.dat", MOVED + "\\TarselData\\old.dat"]
BESIDE = [MOVED + "\\old_beside.log", MOVED + "\\old_beside.dat"]
MOVED_FILES = {MOVED + "\\ApplicationLog\\old.log": OLD,
               MOVED + "\\ApplicationLog\\young.log": TEN,
               MOVED + "\\Datadirectory\\big.dat": {"size": MIB},
               MOVED + "\\TarselData\\big.dat": {"size": MIB},
               MOVED + "\\AlertTkt\\t1.tkt": "", MOVED + "\\AlertTkt\\t2.tkt": "",
               MOVED + "\\PostErrors\\e.xml": TEN, **{path: TEN for path in MOVED_OLD},
               **{path: OLD for path in BESIDE}}


def moved_runs(wine):
    later = (lambda days: None) if wine else (lambda days: days)
    # On the host the moved clock makes the activity log itself 15 days old:
    # the log sweep deletes it with the lines before.
    swept = [] if wine else [STARTED, received(""), NO_LOGPARSER, DELETING_LOGS]
    return [
        sized("LOG,ALERT,DEVICELIST,CFG", DELETING_LOGS,
              "INF : Number of files pending in alert ticket folder are - 2", SYNCHRONISING,
              size="2", only=RUN_LINES + ["^ERR", "^MSG", "^INF : Number"], expect={
                  **gone(MOVED + "\\ApplicationLog\\old.log"),
                  **have(MOVED + "\\ApplicationLog\\MNStatusLog.txt", *BESIDE,
                         MOVED + "\\Configuration\\DeviceList.ini"),
                  MOVED + "\\Status\\wpdevicestatus_*.txt": {"count": 1},
                  MOVED + "\\PMStatus\\*.ini": {"count": 1, "count_ini": [
                      (closing("Success", "2"), 1)]}}),
        health(days_later=later(8), expect={
            **gone(MOVED + "\\PostErrors\\e.xml"),
            MOVED + "\\Configuration\\AgtHealthChk.ini": {
                "ini": {"SERVICE": {"status": "1"}}}}),
        dict(run("", NO_LOGPARSER, DELETING_LOGS, DELETING_DATA, DELETING_TARSEL, SYNCHRONISING,
                 CHECKING_SERVICES, days_later=later(15), delete=[LOG], only=RUN_LINES + ["^ERR"],
                 expect={**gone(*MOVED_OLD), **have(*BESIDE)}),
             log=[line for line in run("", NO_LOGPARSER, DELETING_LOGS, DELETING_DATA,
                                       DELETING_TARSEL, SYNCHRONISING, CHECKING_SERVICES)["log"]
                  if line not in swept])]



SCENARIOS += [
    scenario("agent_folders_moved_elsewhere_with_links_are_followed",
             runs=moved_runs(False), on_target={"wine": {"runs": moved_runs(True), "files": {
                 **MOVED_FILES, **{path: gone_day(30) for path in MOVED_OLD},
                 MOVED + "\\PostErrors\\e.xml": gone_day(8)}}},
             registry=agent(RegID="R-7"),
             registry_keys={"ManagedMachines\\PC1": {"RegID": "R-7", "Type": "1"}},
             services={name: "running" for name in DEFAULT_SERVICES},
             files=MOVED_FILES,
             folders=[MOVED + "\\" + name for name in ("PMStatus", "Status", "Configuration")]
             + list(INSTALL_LINK.values()), install=next(iter(INSTALL_LINK)),
             links={**INSTALL_LINK, **MOVED_LINKS}),
]
