"""The run of a RULK agent: library registration, the default run, the task
loop over the words of the command line, the service check and the closing
step."""

from common import (CHECKING_SERVICES, CLOSING_REPORT, DEFAULT_SERVICES, DELETING_DATA,
                    DELETING_LOGS, DELETING_TARSEL, FINISHED, GETTING_SIZE, HEALTH_CHECK,
                    NO_LOGPARSER, REGISTERING, REGISTRATION_FAILED, REPORTS, RUN_LINES, SERVICE_LINES,
                    SERVICE_RUNNING, STARTED, SYNCHRONISING, TYPE_CHECKED, agent, not_running,
                    received, services_report)

ALL_DOWN = [not_running(name) for name in DEFAULT_SERVICES]
DEFAULT_RUN = [NO_LOGPARSER, DELETING_LOGS, DELETING_DATA, DELETING_TARSEL, SYNCHRONISING,
               CHECKING_SERVICES, *ALL_DOWN]

SCENARIOS = [
    # --- the default run: a blank command line
    {
        "name": "rulk_blank_command_runs_default_tasks",
        "why": "no service table: every default service reads as not running",
        "registry": agent("RULK"),
        "command": "",
        "exit": 1,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SERVICE_LINES,
        "log": [STARTED, received(""), *DEFAULT_RUN, FINISHED],
        "expect": {REPORTS: {"any_ini": services_report(*DEFAULT_SERVICES)}},
    },
    {
        "name": "rulk_command_of_blanks_runs_default_tasks",
        "registry": agent("RULK"),
        "command": "   ",
        "exit": 1,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SERVICE_LINES,
        "log": [STARTED, received("   "), *DEFAULT_RUN, FINISHED],
        "log_absent": [r"^INF : Start Agent Health Check"],
    },

    # --- the task loop
    {
        "name": "empty_and_unknown_words_are_skipped",
        "registry": agent("RULK"),
        "command": "LOG,,FOO,TYPE",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + [r"^INF : Agent type check"],
        "log": [STARTED, received("LOG,,FOO,TYPE"), NO_LOGPARSER, DELETING_LOGS, TYPE_CHECKED,
                FINISHED],
    },
    {
        "name": "words_with_blanks_and_lower_case_run",
        "why": "DATA sweeps Datadirectory only, not the Tarsel folder",
        "registry": agent("RULK"),
        "command": " log , data ",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received(" log , data "), NO_LOGPARSER, DELETING_LOGS, DELETING_DATA,
                FINISHED],
    },
    {
        "name": "word_given_twice_runs_twice",
        "registry": agent("RULK"),
        "command": "LOG,log",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("LOG,log"), NO_LOGPARSER, DELETING_LOGS, DELETING_LOGS,
                FINISHED],
    },
    {
        "name": "only_commas_run_nothing_but_the_closing_step",
        "registry": agent("RULK"),
        "command": ",, ,",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SERVICE_LINES,
        "log": [STARTED, received(",, ,"), NO_LOGPARSER, FINISHED],
    },
    {
        "name": "every_word_runs_in_the_given_order",
        "registry": agent("RULK"),
        "folders": ["Configuration"],
        "command": "CFG,TYPE,ALERT,SRV,DEVICELIST,DATA,LOG",
        "exit": 1,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SERVICE_LINES + [r"^INF : Agent type check"],
        "log": [STARTED, received("CFG,TYPE,ALERT,SRV,DEVICELIST,DATA,LOG"), NO_LOGPARSER,
                TYPE_CHECKED, CHECKING_SERVICES, *ALL_DOWN, SYNCHRONISING, DELETING_DATA,
                DELETING_LOGS, FINISHED],
        "log_absent": [r"^INF : Deleting data files from Tarsel$", r"^INF : Start Agent Health"],
    },
    {
        "name": "health_check_word_in_the_task_loop_has_no_start_line",
        "registry": agent("RULK"),
        "folders": ["Configuration"],
        "command": "LOG,AGTHLTHCHK",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("LOG,AGTHLTHCHK"), NO_LOGPARSER, DELETING_LOGS, FINISHED],
        "log_absent": [r"^" + HEALTH_CHECK.replace(".", r"\.")],
    },

    # --- the service check of the SRV word (services that run: host only so far)
    {
        "name": "srv_word_reports_the_services_found_down",
        "targets": ("host",),
        "registry": agent("RULK"),
        "services": {"KORBTaskSvc": "running", "KORBMonCtl": "stopped",
                     "KORBRemCtl": "paused", "KORBSrvExt": "start_pending",
                     "KORBGuard": "stopped", "KORBAssist": "stop_pending",
                     "KORBKeySafe": "running"},
        "command": "SRV",
        "exit": 1,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SERVICE_LINES,
        "log": [STARTED, received("SRV"), NO_LOGPARSER, CHECKING_SERVICES, SERVICE_RUNNING,
                not_running("KORBMonCtl"), SERVICE_RUNNING, SERVICE_RUNNING,
                not_running("KORBGuard"), SERVICE_RUNNING, SERVICE_RUNNING, FINISHED],
        "expect": {REPORTS: {"any_ini": services_report("KORBMonCtl", "KORBGuard")}},
    },
    {
        "name": "srv_word_with_every_service_running_reports_nothing",
        "targets": ("host",),
        "registry": agent("RULK"),
        "services": {name: "running" for name in DEFAULT_SERVICES},
        "command": "SRV",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SERVICE_LINES,
        "log": [STARTED, received("SRV"), NO_LOGPARSER, CHECKING_SERVICES,
                *[SERVICE_RUNNING] * 7, FINISHED],
        "expect": {REPORTS: {"none_ini": {"STATUS_INFO": {"PID": "Agent_Services_MNStatus"}}}},
    },
    {
        "name": "srv_word_without_service_manager_finds_all_down",
        "registry": agent("RULK"),
        "command": "srv",
        "exit": 1,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SERVICE_LINES,
        "log": [STARTED, received("srv"), NO_LOGPARSER, CHECKING_SERVICES, *ALL_DOWN, FINISHED],
        "expect": {REPORTS: {"any_ini": services_report(*DEFAULT_SERVICES)}},
    },

    # --- library registration
    {
        "name": "logparser_present_is_registered",
        "registry": agent("RULK"),
        "files": {"Logparser.dll": "not a real library"},
        # A failed registration is reported with regsvr32's exit code, never
        # as a success. The host's stand-in fails as the real regsvr32 does
        # under Wine with a file that is no library (3: the load failed).
        "host_bin": {"regsvr32": "#!/bin/sh\nexit 3\n"},
        "command": "LOG",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + [r"^ERR : Error Source:ShellWait", r"^ERR : Failed to register"],
        "log": [STARTED, received("LOG"), REGISTERING, REGISTRATION_FAILED.format(code=3),
                DELETING_LOGS, FINISHED],
    },

    # --- the closing step
    {
        "name": "closing_step_reports_the_folder_size",
        "registry": agent("RULK"),
        "files": {"Datadirectory\\one.mib": {"size": 1048576}},
        "command": "TYPE",
        "exit": 0,
        "log_match": "subsequence",
        "log": [STARTED, received("TYPE"), NO_LOGPARSER, TYPE_CHECKED, GETTING_SIZE,
                "MSG : KORBOD folder Size : 1 MB", FINISHED],
        "expect": {REPORTS: {"count": 1, "any_ini": {"STATUS_INFO": {
            "PID": "MN Status Check", "LastRunStatusCode": "Success", "RegID": "0",
            "Desc": "KORBOD folder Size : 1 MB"}}}},
    },
    {
        "name": "closing_report_fails_after_a_failed_check",
        "registry": agent("RULK", RegID="12345"),
        "command": "SRV",
        "exit": 1,
        "log_match": "subsequence",
        "log": [STARTED, CHECKING_SERVICES, GETTING_SIZE, FINISHED],
        "expect": {"PMStatus\\12345_Quillet_*.ini": {"count": 2, "any_ini": {"STATUS_INFO": {
            "PID": "MN Status Check", "LastRunStatusCode": "Failed", "RegID": "12345"}}}},
    },
    {
        "name": "log_timestamps_follow_the_local_clock",
        "why": "the clock is moved with faketime; the log's day must be that day",
        "targets": ("host",),
        "now": "2026-12-05 04:13:01",
        "registry": agent("RULK", RegID="12345"),
        "command": "TYPE",
        "exit": 0,
        "log_match": "subsequence",
        "log": [STARTED, received("TYPE"), FINISHED],
        "expect": {"PMStatus\\12345_Quillet_2026120504*.ini": {"count": 1, "any_ini": CLOSING_REPORT}},
    },
]
