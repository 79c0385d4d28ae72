"""Registry values of every type reaching the run through InstallationPath
and Type, and the two forms of registry file."""

from common import (DELETING_LOGS, FINISHED, NO_LOGPARSER, RUN_LINES, STARTED, TOVA_DATA,
                    TOVA_TARSEL, agent, gate_run, received)
from harness.registry import binary, dword, expand_sz, multi_sz, raw, sz

EXPANDED_NAME = "C:\\QTest\\expand_%SystemRoot%_kept"
SECOND_PATH = "C:\\QTest\\multi_second_string"


def passes_gate(name, type_value, **more):
    """A RULK agent whose Type comes in another form: LOG runs."""
    scenario = {
        "name": name,
        "registry": agent(type_value),
        "command": "LOG",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("LOG"), NO_LOGPARSER, DELETING_LOGS, FINISHED],
    }
    scenario.update(more)
    return scenario


def fails_gate(name, type_value, why):
    return {
        "name": name, "why": why, "registry": agent(type_value), "command": "LOG",
        "exit": 0, "log": gate_run("LOG"),
    }


SCENARIOS = [
    # --- InstallationPath
    {
        "name": "install_path_as_expand_sz_is_not_expanded",
        "install": EXPANDED_NAME,
        "registry": agent("RULK", InstallationPath=expand_sz(EXPANDED_NAME)),
        "command": "LOG",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("LOG"), NO_LOGPARSER, DELETING_LOGS, FINISHED],
    },
    {
        "name": "install_path_as_multi_sz_uses_the_first_string",
        "registry": agent("XYZ", InstallationPath=multi_sz(["{install_raw}", SECOND_PATH])),
        "command": "",
        "exit": 0,
        "log": gate_run(""),
        "expect": {SECOND_PATH: "absent"},
    },
    {
        "name": "install_path_with_final_backslash_gets_no_second_one",
        "install": "C:\\QTest\\final_backslash\\",
        "registry": agent("RULK"),
        "command": "LOG",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("LOG"),
                "INF : File not found - C:\\QTest\\final_backslash\\Logparser.dll",
                DELETING_LOGS, FINISHED],
    },
    {
        "name": "install_path_as_binary_ends_silently",
        "why": "REG_BINARY reads as the decimal of its first two bytes: far too short",
        "registry": agent("RULK", InstallationPath=binary(b"C:\\QTest\\binary")),
        "command": "",
        "exit": 2,
        "log": None,
        "nothing_written": True,
    },
    {
        "name": "install_path_as_dword_ends_silently",
        "registry": agent("RULK", InstallationPath=dword(0x5C3A43)),
        "command": "",
        "exit": 2,
        "log": None,
        "nothing_written": True,
    },

    # --- Type
    passes_gate("type_as_expand_sz_rulk_passes_gate", expand_sz("RULK")),
    passes_gate("type_as_multi_sz_first_string_rulk_passes_gate", multi_sz(["RULK", "TOVA"])),
    passes_gate("type_as_other_string_type_passes_gate",
                raw(0x20, b"RULK\0"), why="an unknown type number reads like REG_SZ"),
    fails_gate("type_rulk_with_trailing_blank_fails_gate", "RULK ",
               "the gate upper-cases but does not trim"),
    fails_gate("type_rulk_with_leading_blank_fails_gate", " RULK",
               "the gate upper-cases but does not trim"),
    fails_gate("type_as_binary_fails_gate", binary(b"RU"),
               "REG_BINARY reads as a number (21842)"),
    fails_gate("type_as_dword_without_zero_byte_fails_gate", dword(0x4B4C5552),
               "the bytes RULK with no terminating zero: the read is abandoned"),
    fails_gate("type_as_dword_fails_gate", dword(0x31),
               "a DWORD is taken as characters: 0x31 reads as 1"),
    fails_gate("type_empty_string_fails_gate", "",
               "an empty value reads as 0"),
    {
        "name": "type_tova_as_multi_sz_cleans_and_fails_gate",
        "registry": agent(multi_sz(["TOVA", "RULK"])),
        "command": "LOG",
        "exit": 0,
        "log": gate_run("LOG", TOVA_DATA, TOVA_TARSEL),
    },

    # --- value names match without regard to case
    {
        "name": "value_names_in_another_case_are_found",
        "registry": {"INSTALLATIONPATH": "{install_raw}", "tYPE": sz("TOVA")},
        "command": "LOG",
        "exit": 0,
        "log": gate_run("LOG", TOVA_DATA, TOVA_TARSEL),
    },

    # --- the older registry file form
    {
        "name": "regedit4_file_with_typed_values",
        "registry_format": "regedit4",
        "registry": agent(multi_sz(["RULK"]), InstallationPath=expand_sz("{install_raw}")),
        "command": "LOG",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES,
        "log": [STARTED, received("LOG"), NO_LOGPARSER, DELETING_LOGS, FINISHED],
    },
]
