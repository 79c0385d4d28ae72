"""A RULK agent's run: the default run, the task loop over the command's
words, the service check, the registration of Logparser.dll and the status
reports with the closing folder size."""

from common import (CHECKING_SERVICES, DEFAULT_SERVICES, DELETING_DATA, DELETING_LOGS,
                    DELETING_TARSEL, NO_LOGPARSER, REGISTERED, REGISTERING,
                    REGISTRATION_FAILED, REPORTS, RUN_LINES, RUNNING, SERVICE_LINES,
                    SYNCHRONISING, TYPE_CHECKED, agent, closing, not_running, run, scenario,
                    services_report, whole_report)
from harness.scenario import pattern
from harness.support_programs import REGSVR32

ALL_DOWN = [not_running(name) for name in DEFAULT_SERVICES]
# The validation says nothing when it succeeds: a file in the place of its
# Status folder makes it fail, so that its line shows where it ran.
VALIDATION_FAILED = pattern(r"ERR : Error while validating DeviceList\.ini file\. .*")
DEFAULT_RUN = [NO_LOGPARSER, DELETING_LOGS, DELETING_DATA, DELETING_TARSEL, SYNCHRONISING,
               CHECKING_SERVICES, *ALL_DOWN, TYPE_CHECKED, VALIDATION_FAILED]
# the alert count and the health check are no part of the default run
DEFAULT_LINES = RUN_LINES + SERVICE_LINES + [r"^INF : Agent type check", r"^ERR : Error while",
                                             r"(?i)alert ticket", r"^INF : Agent Health Check"]
WORD_LINES = RUN_LINES + SERVICE_LINES + [r"^INF : Agent type check"]
EVERY_WORD = "CFG,TYPE,ALERT,SRV,DEVICELIST,DATA,LOG"
REGISTRATION_LINES = RUN_LINES + [r"^ERR : Error Source:ShellWait", r"^ERR : Failed to register"]
CALLS = "logparser_calls.txt"  # what the test library's registration leaves


def words(command, *lines, **more):
    return run(command, *lines, only=WORD_LINES, **more)


def srv(*lines, **more):
    return run("SRV", NO_LOGPARSER, CHECKING_SERVICES, *lines, only=WORD_LINES, **more)


def registration(*lines, **more):
    return run("LOG", REGISTERING, *lines, DELETING_LOGS, only=REGISTRATION_LINES, **more)


# SRV on the machine as it is prepared: two services down, one missing
EVERY_STATE = [CHECKING_SERVICES, RUNNING, not_running("KORBMonCtl"), RUNNING, RUNNING,
               not_running("KORBGuard"), RUNNING, not_running("KORBKeySafe")]


SCENARIOS = [
    # no services table: every default service reads as not running
    scenario("task_words_without_a_service_manager",
             # what a preview of the default run names, the run then does
             run("", *DEFAULT_RUN, exit=1, only=DEFAULT_LINES, preview=True,
                 expect={"ApplicationLog\\old.log": "absent", "ApplicationLog\\a\\big.log": "absent"}),
             run("   ", *DEFAULT_RUN, exit=1, only=DEFAULT_LINES),
             words("LOG,,FOO,TYPE", NO_LOGPARSER, DELETING_LOGS, TYPE_CHECKED),
             # DATA sweeps Datadirectory only, not the Tarsel folder
             words(" log , data ", NO_LOGPARSER, DELETING_LOGS, DELETING_DATA),
             words(",, ,", NO_LOGPARSER),
             # a tab is no blank to the run, nor to a preview of that run
             words("LOG\t", NO_LOGPARSER, preview=True),
             words("\t", NO_LOGPARSER, preview=True),
             words(EVERY_WORD, NO_LOGPARSER, TYPE_CHECKED, CHECKING_SERVICES, *ALL_DOWN,
                   SYNCHRONISING, DELETING_DATA, DELETING_LOGS, exit=1),
             folders=["Configuration"],
             files={"Status": "not a folder",
                    "ApplicationLog\\old.log": {"size": 100, "age_days": 6},
                    "ApplicationLog\\a\\big.log": {"size": 5 * 1024 * 1024 + 1}}),

    # paused and start-pending services are active, a stopped one and one that
    # does not exist are down, each SRV word writes its own report, whole (and
    # so three: apart by the pause after a report, or one would overwrite the
    # one before); then the same machine with every service started, then one
    # paused
    scenario("services_in_every_state_and_changed_between_runs",
             run("SRV,SRV", NO_LOGPARSER, *EVERY_STATE * 2, exit=1, only=WORD_LINES, expect={
                 "PMStatus\\4711_*": {"count": 3, **whole_report("4711"), "count_ini": [
                     (services_report("KORBMonCtl", "KORBGuard", "KORBKeySafe"), 2),
                     (closing("Failed", "0"), 1)]}}),
             srv(*[RUNNING] * 7, services={name: "running" for name in DEFAULT_SERVICES},
                 expect={REPORTS: {"count": 4, "count_ini": [(closing("Success"), 1)]}}),
             srv(*[RUNNING] * 7, services={"KORBGuard": "paused"},
                 expect={REPORTS: {"count": 5, "count_ini": [(closing("Success"), 2)]}}),
             registry=agent(RegID="4711"),
             services={"KORBTaskSvc": "running", "KORBMonCtl": "stopped", "KORBRemCtl": "paused",
                       "KORBSrvExt": "start_pending", "KORBGuard": "stopped",
                       "KORBAssist": "running", "KORBKeySafe": None}),
    # Host only: the test service cannot be held in the stop, continue or
    # pause pending states under Wine, and Wine loads no driver of an agent
    # service's name. A kernel driver is never listed among the services.
    scenario("pending_states_count_as_running_and_a_driver_as_down",
             srv(*[RUNNING] * 4, not_running("KORBGuard"), RUNNING, RUNNING, exit=1,
                 expect={REPORTS: {"count": 2, "count_ini": [
                     (services_report("KORBGuard"), 1), (closing("Failed"), 1)]}}),
             targets=("host",),
             services={**{name: "running" for name in DEFAULT_SERVICES},
                       "KORBTaskSvc": "stop_pending", "KORBMonCtl": "continue_pending",
                       "KORBRemCtl": "pause_pending", "KORBGuard": "driver"}),

    # The quoted path reaches regsvr32 as one argument; under Wine the real
    # regsvr32 loads the test library, whose registration leaves its trace.
    # A file that is no library ends regsvr32 with 3 (Wine's and the
    # stand-in's code): reported with the code, never as a success.
    # Under Wine a regsvr32.exe waits in the working folder, which a search by
    # name tries before the system folder: it must not be the one started.
    scenario("logparser_is_registered_and_a_failure_reported_with_its_code",
             registration(REGISTERED, expect={CALLS: {"content": "registered\r\n"}}),
             registration(REGISTRATION_FAILED % 3, delete=[CALLS],
                          files={"Logparser.dll": "not a library"}, expect={CALLS: "absent"}),
             install="C:\\QTest\\registration\\KORBOD Agent",
             files={"Logparser.dll": {"copy": "test_logparser.dll"}},
             on_target={"wine": {"files": {
                 "Logparser.dll": {"copy": "test_logparser.dll"},
                 "C:\\QTest\\logparser_is_registered_and_a_failure_reported_with_its_code.cwd"
                 "\\regsvr32.exe": {"copy": "parvix_standin.exe"}}}},
             host_bin={"regsvr32": REGSVR32}),
    # the one way to the interpreter retry: regsvr32 cannot be started at all.
    # Windows and Wine always have it in system32, so host only; sh does not
    # find it either (127)
    scenario("logparser_without_regsvr32_is_retried_through_cmd",
             registration("ERR : Error Source:ShellWait(),Desc:No such file or directory",
                          REGISTRATION_FAILED % 127, expect={CALLS: "absent"}),
             targets=("host",), install="C:\\QTest\\no_regsvr32\\KORBOD Agent",
             files={"Logparser.dll": {"copy": "test_logparser.dll"}},
             host_env={"PATH": "{machine}/no-programs"}),
]
