"""Programs that the run starts: regsvr32 for Logparser.dll (with the real
regsvr32 under Wine and the test library of tests/support) and the agent's
configuration tool Parvix.exe when no machine is managed."""

from common import (DELETING_LOGS, FINISHED, NO_LOGPARSER, REGISTERED, REGISTERING,
                    REGISTRATION_FAILED, RUN_LINES, STARTED, SYNCHRONISING, agent, received)
from harness.support_programs import REGSVR32
from topic_devicelist import (DEVICE_LIST, OTHER_DEVICE, OTHER_DEVICE_KEYS, PARVIX_MISSING,
                              section_bytes)


def blank_install(name):
    """An install path with a blank in it, as agents are usually installed."""
    return "C:\\QTest\\" + name + "\\KORBOD Agent"


REGISTRATION_LINES = RUN_LINES + [r"^ERR : Error Source:ShellWait", r"^ERR : Failed to register"]
CALLS = "logparser_calls.txt"  # what the test library's registration leaves

PARVIX_RUNS = "parvix_runs.txt"
PARVIX_STARTING = 'IMF : Executing PARVIX.EXE with "Local" parameter'
PARVIX_DONE = "DESC : Parvix.exe Exe executed Successfully. "
PARVIX_SAW_LOCAL = "TEST : parvix_standin ran with [Local]"
TOOL_LINES = [r"^(IMF|DESC|TEST) : ", r"^MSG : Execution Path"]
SWITCH_ONLY = {"ManagedpOSIX\\SWITCH-1": OTHER_DEVICE}


def executing(install):
    return "MSG : Execution Path & Parameters : " + install + "\\Parvix.exe Local"


def tool_run(name, **more):
    """A DEVICELIST run of an agent that manages no machine, one other device."""
    scenario = {
        "name": name,
        "install": blank_install(name),
        "registry": agent("RULK"),
        "registry_keys": SWITCH_ONLY,
        "folders": ["Configuration"],
        "command": "DEVICELIST",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + TOOL_LINES,
    }
    scenario.update(more)
    return scenario


SCENARIOS = [
    # --- registration of Logparser.dll
    {
        "name": "logparser_in_a_path_with_blanks_is_registered",
        "why": "the quoted path reaches regsvr32 as one argument; under Wine the real "
               "regsvr32 loads the test library, whose registration leaves its trace",
        "install": blank_install("logparser_in_a_path_with_blanks_is_registered"),
        "registry": agent("RULK"),
        "files": {"Logparser.dll": {"copy": "test_logparser.dll"}},
        "host_bin": {"regsvr32": REGSVR32},
        "command": "LOG",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": REGISTRATION_LINES,
        "log": [STARTED, received("LOG"), REGISTERING, REGISTERED, DELETING_LOGS, FINISHED],
        "expect": {CALLS: {"content": "registered\r\n"}},
    },
    {
        "name": "logparser_that_is_no_library_reports_the_exit_code",
        "why": "regsvr32 cannot load the file and ends with 3 (Wine's and the stand-in's "
               "code): an error line with the code, never the success line",
        "install": blank_install("logparser_that_is_no_library_reports_the_exit_code"),
        "registry": agent("RULK"),
        "files": {"Logparser.dll": "not a library"},
        "host_bin": {"regsvr32": REGSVR32},
        "command": "LOG",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": REGISTRATION_LINES,
        "log": [STARTED, received("LOG"), REGISTERING, REGISTRATION_FAILED.format(code=3),
                DELETING_LOGS, FINISHED],
        "log_absent": [r"^INF : Registered Logparser"],
        "expect": {CALLS: "absent"},
    },
    {
        "name": "logparser_without_regsvr32_is_retried_through_cmd",
        "why": "the one way to the interpreter retry: regsvr32 cannot be started at all. "
               "Windows and Wine always have it in system32, so host only: no regsvr32 in "
               "the machine's bin nor on PATH; sh does not find it either (127)",
        "targets": ("host",),
        "install": blank_install("logparser_without_regsvr32_is_retried_through_cmd"),
        "registry": agent("RULK"),
        "files": {"Logparser.dll": {"copy": "test_logparser.dll"}},
        "host_env": {"PATH": "{machine}/no-programs"},
        "command": "LOG",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": REGISTRATION_LINES,
        "log": [STARTED, received("LOG"), REGISTERING,
                "ERR : Error Source:ShellWait(),Desc:No such file or directory",
                REGISTRATION_FAILED.format(code=127), DELETING_LOGS, FINISHED],
        "expect": {CALLS: "absent"},
    },

    # --- the configuration tool, when no machine is managed
    tool_run(
        "parvix_runs_when_no_machine_is_managed",
        why="the tool takes a second; its own log line between the start and the outcome "
            "shows that the run waited for it; ManagedMachines exists but is empty",
        registry_keys={"ManagedMachines": {}, **SWITCH_ONLY},
        files={"Parvix.exe": {"copy": "parvix_standin.exe"}, "parvix_sleep_ms.txt": "1000"},
        log=[STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, PARVIX_STARTING,
             executing(blank_install("parvix_runs_when_no_machine_is_managed")),
             PARVIX_SAW_LOCAL, PARVIX_DONE, FINISHED],
        expect={PARVIX_RUNS: {"content": "[Local]\r\n"},
                DEVICE_LIST: {"content": section_bytes("SWITCH-1", OTHER_DEVICE_KEYS)}},
    ),
    tool_run(
        "parvix_exit_code_is_not_examined",
        files={"Parvix.exe": {"copy": "parvix_standin.exe"}, "parvix_exit_code.txt": "7"},
        log=[STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, PARVIX_STARTING,
             executing(blank_install("parvix_exit_code_is_not_examined")), PARVIX_SAW_LOCAL,
             PARVIX_DONE, FINISHED],
        expect={PARVIX_RUNS: {"content": "[Local]\r\n"}},
    ),
    tool_run(
        "parvix_missing_still_synchronises_other_devices",
        log=[STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, PARVIX_MISSING,
             FINISHED],
        expect={DEVICE_LIST: {"content": section_bytes("SWITCH-1", OTHER_DEVICE_KEYS)}},
    ),
    tool_run(
        "parvix_stored_in_upper_case_counts_as_missing",
        why="the stored name must be Parvix.exe in its letter case, also where file names "
            "match without case (Wine, Windows)",
        files={"PARVIX.EXE": {"copy": "parvix_standin.exe"}},
        log=[STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, PARVIX_MISSING,
             FINISHED],
        expect={PARVIX_RUNS: "absent",
                DEVICE_LIST: {"content": section_bytes("SWITCH-1", OTHER_DEVICE_KEYS)}},
    ),
    tool_run(
        "parvix_that_is_no_program_fails_to_execute",
        why="nothing is started, so the wait fails: -1 and no system text",
        files={"Parvix.exe": "not a program"},
        log=[STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, PARVIX_STARTING,
             executing(blank_install("parvix_that_is_no_program_fails_to_execute")),
             "DESC : failed to execute Parvix.exe, ErrNo : -1 - ", FINISHED],
        expect={DEVICE_LIST: {"content": section_bytes("SWITCH-1", OTHER_DEVICE_KEYS)}},
    ),
    tool_run(
        "parvix_is_not_run_while_machines_are_managed",
        registry_keys={"ManagedMachines\\SRV-A": {"Type": "1"}},
        files={"Parvix.exe": {"copy": "parvix_standin.exe"}},
        log=[STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, FINISHED],
        expect={PARVIX_RUNS: "absent"},
    ),
]
