"""Files the agent's administrators or other programs left in a state the run
must not misread: UTF-16 INI files, a read-only device list, an install path
whose length in characters differs from its length in bytes, a services table
with a nameless line."""

from common import (FINISHED, NO_LOGPARSER, RUN_LINES, STARTED, SYNCHRONISING, agent,
                    not_running, received)
from topic_devicelist import DEVICE_LIST, MACHINE_A, SYNC_FAILED, SYNC_LINES
from topic_health_check import HEALTH_FILE, HEALTH_LINES, RUNNING, health_run, records


def utf16(text):
    return b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")


SCENARIOS = [
    {
        "name": "health_check_reads_and_writes_a_utf16_health_file",
        "why": "a health file saved as Unicode is read as Windows reads it (its service "
               "list is checked) and its records are written back in UTF-16",
        "registry": agent("RULK"),
        "files": {HEALTH_FILE: utf16("[SERVICE]\nsvcfiles=KORBTaskSvc,KORBGuard\n")},
        "services": {"KORBTaskSvc": "running", "KORBGuard": "stopped"},
        "command": "AGTHLTHCHK",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": HEALTH_LINES,
        "log": health_run(RUNNING, not_running("KORBGuard")),
        "expect": {HEALTH_FILE: {"utf16": True, "ini": records("0", "KORBGuard")}},
    },
    {
        "name": "device_list_in_utf16_keeps_its_values_and_its_encoding",
        "why": "the values of a Unicode list are seen (RegID and Category stay as they "
               "are), a missing key is added, and the list stays UTF-16",
        "registry": agent("RULK"),
        "registry_keys": {"ManagedMachines\\SRV-A": MACHINE_A},
        "files": {DEVICE_LIST: utf16("[SRV-A]\nRegID=R-OLD\nCategory=WAN\n")},
        "command": "DEVICELIST",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SYNC_LINES,
        "log": [STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, FINISHED],
        "expect": {DEVICE_LIST: {"utf16": True, "ini": {"SRV-A": {
            "RegID": "R-OLD", "Category": "WAN", "Type": "1", "OSVer": "10.0 17763"}}}},
    },
    {
        "name": "read_only_device_list_fails_the_synchronisation",
        "why": "a list that cannot be written is not synchronised: the failure line, a "
               "Failed report and exit status 1, and the list as it was",
        "registry": agent("RULK"),
        "registry_keys": {"ManagedMachines\\SRV-A": MACHINE_A},
        "files": {DEVICE_LIST: {"content": "[OLD]\r\nRegID=1\r\n", "readonly": True}},
        "command": "DEVICELIST",
        "exit": 1,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SYNC_LINES,
        "log": [STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, SYNC_FAILED,
                FINISHED],
        "expect": {DEVICE_LIST: {"content": "[OLD]\r\nRegID=1\r\n"},
                   "PMStatus\\*.ini": {"any_ini": {"STATUS_INFO": {
                       "PID": "Agent_SyncDeviceList_MNStatus", "LastRunStatusCode": "Failed"}}}},
    },
    {
        "name": "install_path_of_eight_characters_ends_silently_whatever_its_bytes",
        "why": "C:\\Ägent is eight characters (nine bytes in UTF-8): too short, as on Windows",
        "install": "C:\\\u00c4gent",
        "registry": agent("RULK"),
        "command": "",
        "exit": 2,
        "log": None,
    },
    {
        "name": "services_table_line_without_a_name_is_no_service",
        "targets": ("host",),
        "why": "a nameless line of the host's table is skipped: the empty name after a "
               "trailing comma is not running",
        "registry": agent("RULK"),
        "files": {HEALTH_FILE: "[SERVICE]\r\nsvcfiles=KORBTaskSvc,\r\n"},
        "services": "KORBTaskSvc\trunning\n\trunning\n",
        "command": "AGTHLTHCHK",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": HEALTH_LINES,
        "log": health_run(RUNNING, not_running("")),
        "expect": {HEALTH_FILE: {"ini": records("0", "")}},
    },
]
