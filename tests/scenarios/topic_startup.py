"""Start-up: the install path, the oversized log, the banners, the TOVA
clean-up, the health-check run and the agent type gate."""

from common import (CLOSING_REPORT, DELETING_LOGS, FINISHED, HEALTH_CHECK, LOG,
                    NO_LOGPARSER, REPORTS, RUN_LINES, STARTED, TOVA_DATA, TOVA_TARSEL, agent,
                    gate_run, received)
from harness.scenario import log_filler

NINE = "C:\\Qnine9"      # 9 characters: long enough
EIGHT = "C:\\Qshrt"      # 8 characters: too short
assert len(NINE) == 9 and len(EIGHT) == 8

# An old log file that no sweep may touch in a run that ends at the gate.
OLD_LOG = {"ApplicationLog\\old.log": {"size": 100, "age_days": 30}}


def silent(name, registry, install=None, why=""):
    """A run that must end before its first line: nothing anywhere."""
    scenario = {
        "name": name, "why": why, "registry": registry, "command": "", "exit": 2,
        "log": None, "nothing_written": True,
    }
    if install:
        scenario["install"] = install
        scenario["expect"] = {install: "absent"}
    return scenario


SCENARIOS = [
    # --- install path
    {
        "name": "install_path_of_nine_characters_runs",
        "install": NINE,
        "registry": agent("XYZ"),
        "command": "",
        "exit": 0,
        "log": gate_run(""),
        "expect": {NINE + "\\" + LOG: "exists"},
    },
    silent("install_path_of_eight_characters_ends_silently", agent("RULK"), install=EIGHT),
    silent("install_path_of_eight_characters_and_a_blank_ends_silently",
           agent("RULK", InstallationPath=EIGHT + " "), install=EIGHT,
           why="the length is taken with blanks trimmed"),
    silent("missing_installation_path_ends_silently", {"Type": "RULK"}),
    silent("installation_path_of_blanks_ends_silently",
           {"InstallationPath": "   ", "Type": "RULK"}),
    silent("missing_agent_key_ends_silently", None),

    # --- the 2 MB limit of the activity log, checked before the first line
    {
        "name": "log_of_exactly_2_mib_is_kept_and_appended",
        "registry": agent("TOVA"),
        "files": {LOG: log_filler(2097152)},
        "command": "LOG",
        "exit": 0,
        "log_kept": True,
        "log": gate_run("LOG", TOVA_DATA, TOVA_TARSEL),
    },
    {
        "name": "log_one_byte_over_2_mib_is_deleted_at_start",
        "registry": agent("TOVA"),
        "files": {LOG: log_filler(2097153)},
        "command": "LOG",
        "exit": 0,
        "log": gate_run("LOG", TOVA_DATA, TOVA_TARSEL),
    },

    # --- TOVA agents: the clean-up on every run, then the gate
    {
        "name": "tova_agent_with_log_word_cleans_and_ends_at_gate",
        "registry": agent("TOVA"),
        "files": OLD_LOG,
        "command": "LOG",
        "exit": 0,
        "log": gate_run("LOG", TOVA_DATA, TOVA_TARSEL),
        "expect": {"ApplicationLog\\old.log": "exists"},
    },
    {
        "name": "tova_type_with_blanks_and_lower_case_still_cleans",
        "registry": agent(" tova "),
        "command": "DATA",
        "exit": 0,
        "log": gate_run("DATA", TOVA_DATA, TOVA_TARSEL),
    },
    {
        "name": "tova_agent_with_blank_command_ends_at_gate",
        "registry": agent("TOVA"),
        "command": "",
        "exit": 0,
        "log": gate_run("", TOVA_DATA, TOVA_TARSEL),
    },

    # --- the agent type gate
    {
        "name": "unknown_agent_type_ends_at_gate",
        "registry": agent("XYZ"),
        "files": OLD_LOG,
        "command": "LOG,DATA",
        "exit": 0,
        "log": gate_run("LOG,DATA"),
        "expect": {"ApplicationLog\\old.log": "exists", REPORTS: {"count": 0}},
    },
    {
        "name": "missing_agent_type_ends_at_gate",
        "registry": agent(None),
        "command": "",
        "exit": 0,
        "log": gate_run(""),
        "expect": {REPORTS: {"count": 0}},
    },
    {
        "name": "agent_type_zero_ends_at_gate",
        "registry": agent("0"),
        "command": "TYPE",
        "exit": 0,
        "log": gate_run("TYPE"),
    },
    {
        "name": "lower_case_rulk_passes_gate",
        "registry": agent("rulk"),
        "command": "LOG",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("LOG"), NO_LOGPARSER, DELETING_LOGS, FINISHED],
    },

    # --- the health-check run: the command text AGTHLTHCHK alone, any case, untrimmed
    {
        "name": "health_check_word_alone_runs_health_check",
        "registry": agent("RULK"),
        "folders": ["Configuration"],
        "command": "AGTHLTHCHK",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("AGTHLTHCHK"), HEALTH_CHECK, FINISHED],
        "expect": {REPORTS: {"none_ini": CLOSING_REPORT}},
    },
    {
        "name": "health_check_word_in_lower_case_on_tova_agent",
        "registry": agent("TOVA"),
        "folders": ["Configuration"],
        "command": "agthlthchk",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("agthlthchk"), TOVA_DATA, TOVA_TARSEL, HEALTH_CHECK, FINISHED],
        "expect": {REPORTS: {"none_ini": CLOSING_REPORT}},
    },
    {
        "name": "health_check_word_needs_no_agent_type",
        "registry": agent(None),
        "folders": ["Configuration"],
        "command": "AgtHlthChk",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("AgtHlthChk"), HEALTH_CHECK, FINISHED],
    },
    {
        "name": "health_check_word_with_leading_blank_is_a_task_word",
        "why": "the health-check run compares the text untrimmed; the task loop trims",
        "registry": agent("RULK"),
        "folders": ["Configuration"],
        "command": " AGTHLTHCHK",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received(" AGTHLTHCHK"), NO_LOGPARSER, FINISHED],
    },
    {
        "name": "health_check_word_with_trailing_blank_is_a_task_word",
        "registry": agent("RULK"),
        "folders": ["Configuration"],
        "command": "AGTHLTHCHK ",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("AGTHLTHCHK "), NO_LOGPARSER, FINISHED],
    },
    {
        "name": "health_check_word_with_leading_blank_on_tova_agent_ends_at_gate",
        "registry": agent("TOVA"),
        "command": " AGTHLTHCHK",
        "exit": 0,
        "log": gate_run(" AGTHLTHCHK", TOVA_DATA, TOVA_TARSEL),
    },
    {
        "name": "health_check_word_with_other_words_is_a_task_list",
        "registry": agent("RULK"),
        "folders": ["Configuration"],
        "command": "AGTHLTHCHK,LOG",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("AGTHLTHCHK,LOG"), NO_LOGPARSER, DELETING_LOGS, FINISHED],
    },
]

# How the command text is cut from a Windows command line: the program name,
# quoted or not, and the one blank after it go; everything else stays.
SCENARIOS += [
    {
        "name": "unquoted_program_name_and_two_blanks_leave_a_leading_blank",
        "registry": agent("TOVA"),
        "windows_command_line": "quillet.exe  AGTHLTHCHK",
        "command": " AGTHLTHCHK",
        "exit": 0,
        "log": gate_run(" AGTHLTHCHK", TOVA_DATA, TOVA_TARSEL),
    },
    {
        "name": "quoted_program_name_with_blanks_is_cut_whole",
        "registry": agent("TOVA"),
        "windows_command_line": '"C:\\Program Files (x86)\\KORBOD Agent\\quillet.exe" LOG, DATA',
        "command": "LOG, DATA",
        "exit": 0,
        "log": gate_run("LOG, DATA", TOVA_DATA, TOVA_TARSEL),
    },
    {
        "name": "program_name_alone_gives_a_blank_command",
        "registry": agent("TOVA"),
        "windows_command_line": "quillet.exe",
        "command": "",
        "exit": 0,
        "log": gate_run("", TOVA_DATA, TOVA_TARSEL),
    },
    {
        "name": "program_name_and_one_blank_gives_a_blank_command",
        "registry": agent("TOVA"),
        "windows_command_line": "C:\\QTest\\quillet.exe ",
        "command": "",
        "exit": 0,
        "log": gate_run("", TOVA_DATA, TOVA_TARSEL),
    },
]
