"""Start-up: the install path and the agent type in every registry value
type, the oversized log, the TOVA clean-up, the health-check run, the agent
type gate, and the command text cut from a Windows command line."""

from common import (DELETING_LOGS, HEALTH_CHECK, HEALTH_FILE, LOG, NO_LOGPARSER, REPORTS,
                    RUN_LINES, TOVA, agent, gate, run, scenario)
from harness.registry import binary, dword, expand_sz, multi_sz, raw
from harness.scenario import log_filler

NINE = "C:\\Qnine9"  # 9 characters: long enough
EIGHT = "C:\\Qshrt"  # 8 characters: too short
SECOND = "C:\\QTest\\multi_second_string"
EXPANDED = "C:\\QTest\\expand_%SystemRoot%_kept"
OLD_LOG = "ApplicationLog\\old.log"
LOG_RUN = run("LOG", NO_LOGPARSER, DELETING_LOGS, only=RUN_LINES)
NO_CLOSING = {REPORTS: {"count_ini": [({"STATUS_INFO": {"PID": "MN Status Check"}}, 0)]}}


def silent(name, registry, install=None):
    """A run that must end before its first line, writing nothing."""
    more = {"install": install, "expect": {install: "absent"}} if install else {}
    return scenario(name, run("", exit=2, log=None, nothing_written=True), registry=registry,
                    **more)


SCENARIOS = [
    # help, version and any other option are no run: nothing is written
    scenario("options_are_no_run", *[run(text, exit=status, log=None) for text, status in (
        ("/x", 87), ("--help,LOG", 87), (" -LOG", 87), ("-v", 0), ("/V", 0), (" /? ", 0),
        ("--version", 0), ("--preview /x", 87))], nothing_written=True),
    # eight characters are too few, taken with blanks trimmed, and in
    # characters, not bytes
    silent("install_path_of_eight_characters_and_a_blank_ends_silently",
           agent(InstallationPath=EIGHT + " "), EIGHT),
    silent("install_path_of_eight_characters_in_nine_bytes_ends_silently", agent(),
           "C:\\\u00c4gent"),
    silent("missing_agent_key_ends_silently", None),
    silent("install_path_as_dword_ends_silently", agent(InstallationPath=dword(0x5C3A43))),

    # nine characters are enough; of a REG_MULTI_SZ the first string counts;
    # an unknown type ends at the gate before any sweep or report
    scenario("nine_character_multi_sz_install_path_and_unknown_type_end_at_gate",
             gate("LOG,DATA"), install=NINE,
             registry=agent("XYZ", InstallationPath=multi_sz([NINE, SECOND])),
             files={OLD_LOG: {"size": 100, "age_days": 30}},
             expect={NINE + "\\" + LOG: "exists", SECOND: "absent", OLD_LOG: "exists",
                     REPORTS: {"count": 0}}),
    scenario("missing_agent_type_ends_at_gate", gate(""), registry=agent(None),
             expect={REPORTS: {"count": 0}}),

    # REG_EXPAND_SZ is not expanded
    scenario("expand_sz_install_path_and_type_are_taken_as_they_are", LOG_RUN, install=EXPANDED,
             registry=agent(expand_sz("RULK"), InstallationPath=expand_sz(EXPANDED))),
    # an unknown value type reads like REG_SZ; a final backslash gets no second one
    scenario("unknown_value_type_passes_gate_and_final_backslash_is_kept", LOG_RUN,
             install="C:\\QTest\\final_backslash\\", registry=agent(raw(0x20, b"RULK\0"))),
    scenario("tova_type_as_multi_sz_cleans_and_ends_at_gate", gate("LOG", *TOVA),
             registry=agent(multi_sz(["TOVA", "RULK"]))),
    # value names match without case; the TOVA check trims and upper-cases
    scenario("value_names_in_another_case_and_spaced_tova_type_clean",
             gate("DATA", *TOVA), registry={"INSTALLATIONPATH": "{install_raw}",
                                            "tYPE": " tova "}),

    scenario("log_of_exactly_2_mib_is_kept_and_appended", gate("LOG", *TOVA, log_kept=True),
             registry=agent("TOVA"), files={LOG: log_filler(2097152)}),

    # the health-check run: the command text AGTHLTHCHK alone, any case,
    # untrimmed (in a preview too); in a task list it is a word without a task
    scenario("health_check_word_alone_and_in_task_lists",
             run("AGTHLTHCHK", HEALTH_CHECK, only=RUN_LINES, expect=NO_CLOSING),
             run(" AGTHLTHCHK", NO_LOGPARSER, only=RUN_LINES, preview=True),
             run("AGTHLTHCHK ", NO_LOGPARSER, only=RUN_LINES, preview=True),
             run("AGTHLTHCHK,LOG", NO_LOGPARSER, DELETING_LOGS, only=RUN_LINES),
             folders=["Configuration"]),
    # a log one byte over 2 MiB is deleted at the start; the clean-up of
    # every TOVA run leaves the log sweep's files alone
    scenario("health_check_word_in_lower_case_on_tova_agent_with_a_log_over_2_mib",
             run("agthlthchk", *TOVA, HEALTH_CHECK, only=RUN_LINES,
                 expect={**NO_CLOSING, OLD_LOG: "exists"}),
             # the device list is a RULK agent's: no record of its rebuild
             run("AGTHLTHCHK", *TOVA, HEALTH_CHECK, only=RUN_LINES, expect={
                 **NO_CLOSING, HEALTH_FILE: {"ini": {
                     "SERVICE": {"status": "1"},
                     "CONFIGURATION": {"status": None, "errdesc": None}}}}),
             registry=agent("TOVA"), folders=["Configuration"],
             files={LOG: log_filler(2097153), OLD_LOG: {"size": 100, "age_days": 30}}),
    scenario("health_check_word_needs_no_agent_type",
             run("AgtHlthChk", HEALTH_CHECK, only=RUN_LINES), registry=agent(None),
             folders=["Configuration"]),
]

# Agent types that end at the gate: upper-cased there, never trimmed.
SCENARIOS += [scenario("type_%s_ends_at_gate" % name, gate("LOG,TYPE"), registry=agent(value))
              for name, value in [
                  ("zero", "0"),
                  ("rulk_with_trailing_blank", "RULK "),
                  ("rulk_with_leading_blank", " RULK"),
                  ("binary", binary(b"RU")),           # reads as a number (21842)
                  # the bytes RULK without a terminating zero: the read is abandoned
                  ("dword_without_zero_byte", dword(0x4B4C5552)),
                  ("dword", dword(0x31)),              # taken as characters: "1"
                  ("empty_string", ""),                # reads as 0
              ]]
