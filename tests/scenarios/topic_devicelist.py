"""The device list: its synchronisation from the registry's managed-device
keys (DEVICELIST, the health-check run) and its validation into a device
list status file (CFG)."""

import re

from common import (FINISHED, GETTING_SIZE, HEALTH_CHECK, NO_LOGPARSER, REPORTS, RUN_LINES,
                    STARTED, SYNCHRONISING, agent, received)
from harness.registry import binary, dword, expand_sz, multi_sz
from harness.scenario import pattern

DEVICE_LIST = "Configuration\\DeviceList.ini"
HEALTH_FILE = "Configuration\\AgtHealthChk.ini"

# The numbers and descriptions of trapped failures are the platform's own.
DECRYPT_FAILED = pattern(r"ERR : Error while decrypting string\. Error No\. : -?\d+, "
                         r"Error Description : .+, Source = PriSubDecryptString\(\)")
SYNC_FAILED = pattern(r"ERR : Error while recreating devicelist\.ini from registry\. "
                      r"Error No\. : -?\d+, Error Description : .+, "
                      r"Source = PriSubSyncDeviceList\(\) Line No : \d+")
SYNC_LINES = [r"^ERR : ", r"^(IMF|DESC) : ", r"^MSG : Execution Path"]
PARVIX_MISSING = "DESC : Unable to create DeviceList as PARVIX.EXE not found ."


def section_bytes(name, keys, new=True):
    """A section as the synchronisation writes it: the section line, one line
    per key, and, for a section that this run added, the device separator
    (two empty lines)."""
    text = "[" + name + "]\r\n" + "".join("%s=%s\r\n" % kv for kv in keys)
    return text + ("\r\n\r\n" if new else "")


def as_wine_writes(sections, head=""):
    """The same list as Wine's private-profile writer leaves it: every write
    rewrites the whole file without its empty lines and with the blanks
    around values stripped, so only the separator after the last device
    survives. (Windows keeps both, as the host does.)"""
    text = head + "".join(section_bytes(name, [(k, v.strip(" ")) for k, v in keys], False)
                          for name, keys, _new in sections)
    return text + ("\r\n\r\n" if sections and sections[-1][2] else "")


def list_bytes(sections, head=""):
    return head + "".join(section_bytes(*section) for section in sections)


# --- the registry of a managed network: two machines, a host device and an
# other device, with values of every registry type.

MACHINE_A = {
    "RegID": "R-100",
    "Type": "1",
    "Category": "LAN",
    "MonitoringStatus": "49",                      # decoded: 1
    "DaysToMonitor": dword(0x37),                  # first byte "7" taken as text
    "GenStTime": "48H56H58H48H48",                 # decoded: 08:00
    "GenStpTime": "49H56H58H51H48",                # decoded: 18:30
    "PortTimeout": binary([0x2C, 0x01]),           # 300
    "PingPackets": binary([0x05]),                 # 5
    "PerfCycleCount": expand_sz("%PerfCycles%"),   # not expanded
    "LOCAL": "89",                                 # decoded: Y
    "TypeOfMachine": "87H105H110",                 # decoded: Win
    "ConnectionStatus": multi_sz(["Connected", "Stale"]),  # first string only
    "PingStatus": "Up",
    "OS": "Windows Server 2019",
    "OSVer": "10.0 17763",
    "PingTimeout": "1000",
    "PingCycleCount": "3",
    # no Interfacenos: written empty
}
MACHINE_A_KEYS = [
    ("Type", "1"), ("Category", "LAN"), ("Enable", "1"), ("Platform", "Win"),
    ("DaysToMonitor", "7"), ("FromTime", "08:00"), ("ToTime", "18:30"), ("PortTimeout", "300"),
    ("PingPackets", "5"), ("PingTimeout", "1000"), ("PingCycleCount", "3"),
    ("PerfCycleCount", "%PerfCycles%"), ("LocalMachine", "Y"), ("ConnectionStatus", "Connected"),
    ("PingStatus", "Up"), ("Interfacenos", ""), ("OS", "Windows Server 2019"),
    ("OSVer", "10.0 17763"), ("RegID", "R-100"),
]

# Two codes that do not decode, values that are not set.
MACHINE_B = {
    "RegID": "R-100",
    "Type": "2",
    "Category": "LAN",
    "MonitoringStatus": "49H",      # empty piece after the H: decoding fails
    "GenStTime": "4x9",             # not a number: decoding fails
    "GenStpTime": "",               # reads "0": decodes to code 0, an empty value
    "LOCAL": "78",                  # N
    "Interfacenos": "2",
    "OS": "Linux",
}
MACHINE_B_KEYS = [
    ("Type", "2"), ("Category", "LAN"), ("Enable", ""), ("Platform", ""),
    ("DaysToMonitor", "0"), ("FromTime", ""), ("ToTime", ""), ("PortTimeout", "0"),
    ("PingPackets", "0"), ("PingTimeout", "0"), ("PingCycleCount", "0"),
    ("PerfCycleCount", "0"), ("LocalMachine", "N"), ("ConnectionStatus", "0"),
    ("PingStatus", "0"), ("Interfacenos", "2"), ("OS", "Linux"), ("OSVer", "0"),
    ("RegID", "R-100"),
]

# A host device (Type "5"): nothing decoded, VCenterIP empty for HostAgent,
# and a RegID that reads as the empty text (a DWORD without a zero byte) is
# left out.
HOST_DEVICE = {
    "RegID": dword(0x31313131),
    "Type": "5",
    "Category": "LAN",
    "MonitoringStatus": "49",
    "DaysToMonitor": "7",
    "GenStTime": "08:00",
    "GenStpTime": "18:00",
    "PingPackets": "4",
    "PingTimeout": "1000",
    "PingCycleCount": "3",
    "PerfCycleCount": "5",
    "LOCAL": "N",
    "ConnectionStatus": "1",
    "PingStatus": "1",
    "OS": "VMware ESXi",
    "OSVer": "7.0",
    "APIType": " HostAgent ",
    "Host": "esx1.example",
    "HostPath": "/ha-datacenter/host/esx1",
    "UUID": "4c4c4544-0042-3510",
    "VCenterIP": "10.0.0.5",
    "MORIDPath": "ha-host",
    "MORTypePath": "HostSystem",
    "Port": "443",
    "TypeOfMachine": "87H105H110",  # not a key of a host device
}
HOST_DEVICE_KEYS = [
    ("Type", "5"), ("Category", "LAN"), ("Enable", "49"), ("DaysToMonitor", "7"),
    ("FromTime", "08:00"), ("ToTime", "18:00"), ("PingPackets", "4"), ("PingTimeout", "1000"),
    ("PingCycleCount", "3"), ("PerfCycleCount", "5"), ("LocalMachine", "N"),
    ("ConnectionStatus", "1"), ("PingStatus", "1"), ("OS", "VMware ESXi"), ("OSVer", "7.0"),
    ("APIType", " HostAgent "), ("Host", "esx1.example"),
    ("HostPath", "/ha-datacenter/host/esx1"), ("UUID", "4c4c4544-0042-3510"),
    ("VCenterIP", ""), ("MORIDPath", "ha-host"), ("MORTypePath", "HostSystem"), ("Port", "443"),
]

# An other device: treated as a machine, values decoded.
OTHER_DEVICE = {
    "RegID": "R-100",
    "Type": "3",
    "Category": "WAN",
    "MonitoringStatus": "48",
    "DaysToMonitor": "30",
    "GenStTime": "48H48H58H48H48",
    "GenStpTime": "50H51H58H53H57",
    "LOCAL": "78",
    "TypeOfMachine": "83H78H77H80",
    "OS": "IOS",
}
OTHER_DEVICE_KEYS = [
    ("Type", "3"), ("Category", "WAN"), ("Enable", "0"), ("Platform", "SNMP"),
    ("DaysToMonitor", "30"), ("FromTime", "00:00"), ("ToTime", "23:59"), ("PortTimeout", "0"),
    ("PingPackets", "0"), ("PingTimeout", "0"), ("PingCycleCount", "0"),
    ("PerfCycleCount", "0"), ("LocalMachine", "N"), ("ConnectionStatus", "0"),
    ("PingStatus", "0"), ("Interfacenos", ""), ("OS", "IOS"), ("OSVer", "0"),
    ("RegID", "R-100"),
]

NETWORK = {
    "ManagedMachines\\SRV-A": MACHINE_A,
    "ManagedMachines\\SRV-B": MACHINE_B,
    "ManagedpOSIX\\ESX-1": HOST_DEVICE,
    "ManagedpOSIX\\SWITCH-1": OTHER_DEVICE,
}

FRESH_SECTIONS = [("SRV-A", MACHINE_A_KEYS, True), ("SRV-B", MACHINE_B_KEYS, True),
                  ("ESX-1", HOST_DEVICE_KEYS, True), ("SWITCH-1", OTHER_DEVICE_KEYS, True)]
FRESH_LIST = list_bytes(FRESH_SECTIONS)

# Sections in place before the run: SRV-A's (written in lower case, which the
# section names match without) Category WAN stays, though the registry says
# LAN; SRV-B's empty Category is filled in its place, its Type stays; the
# missing keys follow each section's last line.
KEPT_HEAD = "; kept comment\r\n"
KEPT_BEFORE = (KEPT_HEAD + "[srv-a]\r\nCategory=WAN\r\n"
               "[SRV-B]\r\nType=9\r\nCategory=\r\nCustom=kept\r\n")
KEPT_SECTIONS = [
    ("srv-a", [("Category", "WAN")] + [kv for kv in MACHINE_A_KEYS if kv[0] != "Category"],
     False),
    ("SRV-B", [("Type", "9"), ("Category", "LAN"), ("Custom", "kept")]
     + [kv for kv in MACHINE_B_KEYS if kv[0] not in ("Type", "Category")], False),
    ("ESX-1", HOST_DEVICE_KEYS, True),
    ("SWITCH-1", OTHER_DEVICE_KEYS, True),
]

# The log of a DEVICELIST run over NETWORK: machine SRV-B's two codes fail.
NETWORK_LOG = [STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, DECRYPT_FAILED,
               DECRYPT_FAILED, FINISHED]


# --- the device list status file

def status_file(server, regid, data_lines, totals, stamp=r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d"):
    """A regex of the whole status file: its [MAIN] part, the [DATA] lines
    (findings or the verdict), an empty line, the five totals, and the closing
    empty line."""
    names = ("MS", "POSIX", "SNMP", "ICMP", "VMWare")
    body = "".join(line + "\r\n" for line in data_lines) + "\r\n"
    body += "".join("Total number of %s Servers : %d\r\n" % (n, c) for n, c in zip(names, totals))
    return (r"\A\[MAIN\]\r\nServer=" + re.escape(server) + r"\r\nDateTime=" + stamp
            + r"\r\nRegID=" + re.escape(regid) + r"\r\n\r\n\r\n\[DATA\]\r\n"
            + re.escape(body) + r"\r\n\Z")


def finding(section, message):
    return "INI_ERR :\t" + section + "\t" + message


ALL_VALID = "All the entries in DeviceList.ini file are valid"
STATUS_GLOB = "Status\\wpdevicestatus_%s_" + "[0-9]" * 14 + ".txt"


def valid_section(name, type_code, local="N", category="LAN"):
    return ("[%s]\r\nType=%s\r\nCategory=%s\r\nEnable=1\r\nDaysToMonitor=7\r\nFromTime=08:00\r\n"
            "ToTime=18:00\r\nLocalMachine=%s\r\nRegID=R-77\r\n\r\n"
            % (name, type_code, category, local))


CHECKED_LIST = (
    valid_section("SRV-A", "1", local="y", category="lan")
    # invalid Type, Category and LocalMachine; Enable of blanks only (quoted,
    # so the blanks survive the reader's trimming); a tab is not a blank
    + "[SRV-B]\r\nType=7\r\nCategory=LAN2\r\nEnable=\"  \"\r\nDaysToMonitor=abc\r\n"
      "FromTime=\"\t\"\r\nToTime=-3\r\nLocalMachine=Yes\r\nRegID=R-77\r\n\r\n"
    + "[EMPTY]\r\nComment=no key that is checked\r\n\r\n"
    + valid_section("SW-1", "3", local="Y", category=" wan ")
    + valid_section("ESX-1", "5")
    # a Type with a blank passes the check but counts in no total
    + "[SPACED]\r\nType=\" 2\"\r\nCategory=WAN\r\nEnable=0\r\nDaysToMonitor=1\r\n"
      "FromTime=x\r\nToTime=y\r\nLocalMachine=n\r\nRegID=1\r\n"
)
CHECKED_FINDINGS = [
    finding("SRV-B", "Invalid value for Type found as : 7"),
    finding("SRV-B", "Invalid value for Category found as : LAN2"),
    finding("SRV-B", "Enable value is blank"),
    finding("SRV-B", "Invalid value for LocalMachine found as : Yes"),
] + [finding("EMPTY", key + " value is blank")
     for key in ("Type", "Category", "Enable", "DaysToMonitor", "FromTime", "ToTime",
                 "LocalMachine", "RegID")]

# 60 sections of 100-character names: about 6,100 characters of names, more
# than the 5,000 the list of section names was once cut to.
LONG_NAMES = ["DEVICE-%03d-" % i + "X" * 89 for i in range(60)]


# More devices of one type than a signed 16-bit count holds.
MANY_DEVICES = 32770
MANY_DEVICES_LIST = "".join(
    "[D%05d]\r\nType=4\r\nCategory=LAN\r\nEnable=1\r\nDaysToMonitor=1\r\nFromTime=1\r\n"
    "ToTime=1\r\nLocalMachine=N\r\nRegID=1\r\n" % i for i in range(MANY_DEVICES))


def twice_synchronised(content):
    """Two DEVICELIST runs over NETWORK; the list holds `content` after each."""
    run = {"command": "DEVICELIST", "exit": 0, "log_match": "filtered",
           "log_filter": RUN_LINES + SYNC_LINES, "log": NETWORK_LOG,
           "expect": {DEVICE_LIST: {"content": content}}}
    return [run, run]


def cfg_run(name, **more):
    scenario = {
        "name": name,
        "registry": agent("RULK", RegID="R-77"),
        "command": "CFG",
        "exit": 0,
        # validation findings never reach the activity log
        "log": [STARTED, received("CFG"), NO_LOGPARSER, GETTING_SIZE,
                pattern(r"MSG : KORBOD folder Size : [0-9.]+ MB"), FINISHED],
    }
    scenario.update(more)
    return scenario


SCENARIOS = [
    # --- synchronisation: a fresh list, and what a second run does to it
    {
        "name": "fresh_device_list_for_one_machine",
        "why": "the section line, the 19 keys in their order, two empty lines",
        "registry": agent("RULK"),
        "registry_keys": {"ManagedMachines\\SRV-A": MACHINE_A},
        "folders": ["Configuration"],
        "command": "DEVICELIST",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SYNC_LINES,
        "log": [STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, FINISHED],
        "expect": {DEVICE_LIST: {"content": section_bytes("SRV-A", MACHINE_A_KEYS)}},
    },
    {
        "name": "fresh_device_list_from_every_kind_of_device",
        "why": "machines, a host device and an other device; registry values of every type; "
               "codes decoded for machines only; failed decodes leave the key blank; the "
               "second run over the same registry leaves the list as the first wrote it",
        "registry": agent("RULK"),
        "registry_keys": NETWORK,
        "folders": ["Configuration"],
        "runs": twice_synchronised(FRESH_LIST),
        "on_target": {"wine": {"runs": twice_synchronised(as_wine_writes(FRESH_SECTIONS))}},
    },
    {
        "name": "complete_device_list_stays_byte_for_byte",
        "why": "the second run over the same registry: no key is rewritten and no separator "
               "is added, though the codes that fail are tried again",
        "registry": agent("RULK"),
        "registry_keys": NETWORK,
        "files": {DEVICE_LIST: FRESH_LIST},
        "command": "DEVICELIST",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SYNC_LINES,
        "log": NETWORK_LOG,
        "expect": {DEVICE_LIST: {"content": FRESH_LIST}},
    },
    {
        "name": "existing_values_are_kept_and_missing_ones_added",
        "why": "Category WAN stays although the registry says LAN; an empty Category is "
               "filled in its place; missing keys follow the section's last line; existing "
               "sections get no separator, new ones do",
        "registry": agent("RULK"),
        "registry_keys": NETWORK,
        "files": {DEVICE_LIST: KEPT_BEFORE},
        "command": "DEVICELIST",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SYNC_LINES,
        "log": NETWORK_LOG,
        "expect": {DEVICE_LIST: {"content": list_bytes(KEPT_SECTIONS, KEPT_HEAD)}},
        "on_target": {"wine": {"expect": {
            DEVICE_LIST: {"content": as_wine_writes(KEPT_SECTIONS, KEPT_HEAD)}}}},
    },
    {
        "name": "lower_case_agent_type_does_not_synchronise",
        "why": "the run upper-cases the type for its gate; the synchronisation compares it "
               "exactly",
        "registry": agent("rulk"),
        "registry_keys": NETWORK,
        "folders": ["Configuration"],
        "command": "DEVICELIST",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SYNC_LINES,
        "log": [STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, FINISHED],
        "expect": {DEVICE_LIST: "absent"},
    },

    # --- synchronisation failures
    {
        "name": "missing_configuration_folder_fails_the_synchronisation",
        "registry": agent("RULK", RegID="R-100"),
        "registry_keys": NETWORK,
        "command": "DEVICELIST",
        "exit": 1,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SYNC_LINES,
        "log": [STARTED, received("DEVICELIST"), NO_LOGPARSER, SYNCHRONISING, SYNC_FAILED,
                FINISHED],
        "expect": {
            "Configuration": "absent",
            "PMStatus\\R-100_Quillet_*.ini": {"count": 2, "any_ini": {"STATUS_INFO": {
                "PID": "Agent_SyncDeviceList_MNStatus", "LastRunStatusCode": "Failed",
                "Desc": "Failed to recreate devicelist.ini"}}}},
    },
    {
        "name": "health_check_without_configuration_folder_records_nothing",
        "why": "the failure is reported, but its CONFIGURATION record cannot be written: "
               "the INI writer does not make a missing folder",
        "registry": agent("RULK"),
        "registry_keys": NETWORK,
        "command": "AGTHLTHCHK",
        "exit": 1,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SYNC_LINES,
        "log": [STARTED, received("AGTHLTHCHK"), HEALTH_CHECK, SYNC_FAILED, FINISHED],
        "expect": {
            "Configuration": "absent",
            REPORTS: {"count": 1, "any_ini": {"STATUS_INFO": {
                "PID": "Agent_SyncDeviceList_MNStatus", "LastRunStatusCode": "Failed"}}}},
    },
    {
        "name": "health_check_records_a_failed_synchronisation",
        "why": "a device list that cannot be opened (a folder of that name) in the "
               "health-check run: CONFIGURATION status 0 with DeviceList.ini",
        "registry": agent("RULK"),
        "registry_keys": NETWORK,
        "folders": [DEVICE_LIST],
        "command": "AGTHLTHCHK",
        "exit": 1,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SYNC_LINES,
        "log": [STARTED, received("AGTHLTHCHK"), HEALTH_CHECK, SYNC_FAILED, FINISHED],
        "expect": {
            HEALTH_FILE: {"ini": {"CONFIGURATION": {"status": "0", "errdesc": "DeviceList.ini"}}},
            REPORTS: {"count": 1, "any_ini": {"STATUS_INFO": {
                "PID": "Agent_SyncDeviceList_MNStatus", "LastRunStatusCode": "Failed"}}}},
    },
    {
        "name": "health_check_records_a_good_synchronisation",
        "registry": agent("RULK"),
        "registry_keys": {"ManagedpOSIX\\SWITCH-1": OTHER_DEVICE},
        "folders": ["Configuration"],
        "command": "AGTHLTHCHK",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SYNC_LINES,
        "log": [STARTED, received("AGTHLTHCHK"), HEALTH_CHECK, PARVIX_MISSING, FINISHED],
        "expect": {
            HEALTH_FILE: {"ini": {"CONFIGURATION": {"status": "1", "errdesc": ""}}},
            DEVICE_LIST: {"content": section_bytes("SWITCH-1", OTHER_DEVICE_KEYS)},
            REPORTS: "absent"},
    },
    {
        "name": "health_check_keeps_an_earlier_failure",
        "why": "status 0 is sticky; errdesc gains a comma and the empty description",
        "registry": agent("RULK"),
        "registry_keys": {"ManagedpOSIX\\SWITCH-1": OTHER_DEVICE},
        "files": {HEALTH_FILE: "[CONFIGURATION]\r\nstatus=0\r\nerrdesc=DeviceList.ini\r\n"},
        "command": "AGTHLTHCHK",
        "exit": 0,
        "log_match": "filtered",
        "log_filter": RUN_LINES + SYNC_LINES,
        "log": [STARTED, received("AGTHLTHCHK"), HEALTH_CHECK, PARVIX_MISSING, FINISHED],
        "expect": {HEALTH_FILE: {"ini": {"CONFIGURATION": {
            "status": "0", "errdesc": "DeviceList.ini,"}}}},
    },

    # --- validation
    cfg_run(
        "validation_reports_findings_counts_and_the_local_server",
        why="the later of two sections with LocalMachine Y names the server; one finding "
            "suppresses the verdict; a Type with a blank counts nowhere",
        files={DEVICE_LIST: CHECKED_LIST},
        expect={STATUS_GLOB % "R-77": {"count": 1, "match": status_file(
            "SW-1", "R-77", CHECKED_FINDINGS, (1, 0, 1, 0, 1))}},
    ),
    cfg_run(
        "validation_without_device_list_writes_an_empty_verdict",
        registry=agent("RULK"),
        expect={STATUS_GLOB % "0": {"count": 1, "match": status_file(
            "", "0", [ALL_VALID], (0, 0, 0, 0, 0))}},
    ),
    cfg_run(
        "validation_reads_every_section_of_a_long_list",
        files={DEVICE_LIST: "".join(valid_section(n, "4") for n in LONG_NAMES)
               + valid_section("LAST", "1", local="Y")},
        expect={STATUS_GLOB % "R-77": {"count": 1, "match": status_file(
            "LAST", "R-77", [ALL_VALID], (1, 0, 0, 60, 0))}},
    ),
    cfg_run(
        "validation_counts_more_devices_than_16_bits_hold",
        why="host only: Wine's private-profile reader looks a section up by walking all "
            "of them, and 262,000 reads of a 32,770-section list take minutes there",
        targets=("host",),
        files={DEVICE_LIST: MANY_DEVICES_LIST},
        expect={STATUS_GLOB % "R-77": {"count": 1, "match": status_file(
            "", "R-77", [ALL_VALID], (0, 0, 0, MANY_DEVICES, 0))}},
    ),
    cfg_run(
        "validation_status_file_is_named_year_day_month",
        why="5 December: the name carries 0512, the DateTime line 12/05",
        targets=("host",),
        now="2026-12-05 04:13:09",
        files={DEVICE_LIST: valid_section("SRV-A", "2", local="Y")},
        expect={"Status\\wpdevicestatus_R-77_2026051204[0-5][0-9][0-5][0-9].txt": {
            "count": 1, "match": status_file(
                "SRV-A", "R-77", [ALL_VALID], (0, 1, 0, 0, 0),
                stamp=r"12/05/2026 04:[0-5]\d:[0-5]\d")}},
    ),
    cfg_run(
        "validation_failure_is_logged",
        why="a file named Status stands where the folder must be",
        files={"Status": "in the way"},
        log=[STARTED, received("CFG"), NO_LOGPARSER,
             pattern(r"ERR : Error while validating DeviceList\.ini file\. Error No\.: -?\d+, "
                     r"Error Description : .*, Source = PriSubValidateDeviceList\(\)"),
             GETTING_SIZE, pattern(r"MSG : KORBOD folder Size : [0-9.]+ MB"), FINISHED],
        expect={"Status": {"content": "in the way"}},
    ),
]
