"""The device list: its synchronisation from the registry (DEVICELIST, the
health-check run), Parvix.exe run when no machine is managed, and the
validation into a status file (CFG)."""

import re

from common import (DEVICE_LIST, GETTING_SIZE, HEALTH_CHECK, HEALTH_FILE, NO_LOGPARSER,
                    PARVIX_MISSING, REPORTS, RUN_LINES, SYNCHRONISING, agent, report, run,
                    scenario)
from harness.registry import binary, dword, expand_sz, multi_sz
from harness.scenario import pattern

# The numbers and descriptions of trapped failures are the platform's own.
DECRYPT_FAILED = pattern(r"ERR : Error while decrypting string\. Error No\. : -?\d+, "
                         r"Error Description : .+, Source = PriSubDecryptString\(\)")
SYNC_FAILED = pattern(r"ERR : Error while recreating devicelist\.ini from registry\. "
                      r"Error No\. : -?\d+, Error Description : .+, "
                      r"Source = PriSubSyncDeviceList\(\) Line No : \d+")
RECORD_REFUSED = pattern(r"ERR : Error Source : SubUpdtAgtHlthChkStatus\(\),File : .+"
                         r"\\Configuration\\AgtHealthChk\.ini,Error Number : \d+,Desc:.+")
SYNC_LINES = RUN_LINES + [r"^ERR : ", r"^(IMF|DESC|TEST) : ", r"^MSG : Execution Path"]
SYNC_REPORT = report("Agent_SyncDeviceList_MNStatus", "Failed")


def section_bytes(name, keys, new=True):
    """A section as written; one this run added ends with the device
    separator (two empty lines)."""
    return "[%s]\r\n%s%s" % (name, "".join("%s=%s\r\n" % kv for kv in keys), "\r\n\r\n" * new)


def list_bytes(sections, head="", wine=False):
    """Wine's profile writer rewrites the whole file without its empty lines
    and with the blanks around values stripped, so only the separator after
    the last device survives there (Windows keeps both, as the host does)."""
    if not wine:
        return head + "".join(section_bytes(*section) for section in sections)
    return head + "".join(section_bytes(name, [(k, v.strip(" ")) for k, v in keys], False)
                          for name, keys, _new in sections) + "\r\n\r\n" * sections[-1][2]


def sync(*lines, **more):
    return run("DEVICELIST", NO_LOGPARSER, SYNCHRONISING, *lines, only=SYNC_LINES, **more)


def health(*lines, **more):
    return run("AGTHLTHCHK", HEALTH_CHECK, *lines, only=SYNC_LINES, **more)


def listed(content):
    return {DEVICE_LIST: {"content": content}}


def configuration(status, errdesc, **more):
    return {HEALTH_FILE: {"ini": {"CONFIGURATION": {"status": status, "errdesc": errdesc}}}, **more}


# --- a managed network: two machines, a host device and an other device,
# with values of every registry type, and the keys each gets in the list.
MACHINE_KEYS = ("Type Category Enable Platform DaysToMonitor FromTime ToTime PortTimeout "
                "PingPackets PingTimeout PingCycleCount PerfCycleCount LocalMachine "
                "ConnectionStatus PingStatus Interfacenos OS OSVer RegID").split()
HOST_KEYS = ("Type Category Enable DaysToMonitor FromTime ToTime PingPackets PingTimeout "
             "PingCycleCount PerfCycleCount LocalMachine ConnectionStatus PingStatus OS OSVer "
             "APIType Host HostPath UUID VCenterIP MORIDPath MORTypePath Port").split()


def keyed(names, values):
    return list(zip(names, values.split("|")))


MACHINE_A = {
    "RegID": "R-100", "Type": "1", "Category": "LAN",
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
    "PingStatus": "Up", "OS": "Windows Server 2019", "OSVer": "10.0 17763",
    "PingTimeout": "1000", "PingCycleCount": "3",
    # no Interfacenos: written empty
}
MACHINE_A_KEYS = keyed(MACHINE_KEYS, "1|LAN|1|Win|7|08:00|18:30|300|5|1000|3|%PerfCycles%|Y|"
                       "Connected|Up||Windows Server 2019|10.0 17763|R-100")
# Two codes that do not decode, values that are not set.
MACHINE_B = {
    "RegID": "R-100", "Type": "2", "Category": "LAN",
    "MonitoringStatus": "49H",      # empty piece after the H: decoding fails
    "GenStTime": "4x9",             # not a number: decoding fails
    "GenStpTime": "",               # reads "0": decodes to code 0, an empty value
    "LOCAL": "78",                  # N
    "Interfacenos": "2", "OS": "Linux",
}
MACHINE_B_KEYS = keyed(MACHINE_KEYS, "2|LAN|||0|||0|0|0|0|0|N|0|0|2|Linux|0|R-100")
# A host device (Type "5"): nothing decoded, VCenterIP empty for HostAgent,
# and a RegID that reads as the empty text (a DWORD without a zero byte) is
# left out.
HOST_DEVICE = {
    "RegID": dword(0x31313131), "Type": "5", "Category": "LAN", "MonitoringStatus": "49",
    "DaysToMonitor": "7", "GenStTime": "08:00", "GenStpTime": "18:00", "PingPackets": "4",
    "PingTimeout": "1000", "PingCycleCount": "3", "PerfCycleCount": "5", "LOCAL": "N",
    "ConnectionStatus": "1", "PingStatus": "1", "OS": "VMware ESXi", "OSVer": "7.0",
    "APIType": " HostAgent ", "Host": "esx1.example", "HostPath": "/ha-datacenter/host/esx1",
    "UUID": "4c4c4544-0042-3510", "VCenterIP": "10.0.0.5", "MORIDPath": "ha-host",
    "MORTypePath": "HostSystem", "Port": "443",
    "TypeOfMachine": "87H105H110",  # not a key of a host device
}
HOST_DEVICE_KEYS = keyed(HOST_KEYS, "5|LAN|49|7|08:00|18:00|4|1000|3|5|N|1|1|VMware ESXi|7.0| "
                         "HostAgent |esx1.example|/ha-datacenter/host/esx1|4c4c4544-0042-3510||"
                         "ha-host|HostSystem|443")
# An other device: treated as a machine, values decoded.
OTHER_DEVICE = {
    "RegID": "R-100", "Type": "3", "Category": "WAN", "MonitoringStatus": "48",
    "DaysToMonitor": "30", "GenStTime": "48H48H58H48H48", "GenStpTime": "50H51H58H53H57",
    "LOCAL": "78", "TypeOfMachine": "83H78H77H80", "OS": "IOS",
}
OTHER_DEVICE_KEYS = keyed(MACHINE_KEYS, "3|WAN|0|SNMP|30|00:00|23:59|0|0|0|0|0|N|0|0||IOS|0|R-100")

NETWORK = {"ManagedMachines\\SRV-A": MACHINE_A, "ManagedMachines\\SRV-B": MACHINE_B,
           "ManagedpOSIX\\ESX-1": HOST_DEVICE, "ManagedpOSIX\\SWITCH-1": OTHER_DEVICE}
FRESH = [("SRV-A", MACHINE_A_KEYS, True), ("SRV-B", MACHINE_B_KEYS, True),
         ("ESX-1", HOST_DEVICE_KEYS, True), ("SWITCH-1", OTHER_DEVICE_KEYS, True)]
# Sections in place before the run: SRV-A's (in lower case, which section
# names match without) Category WAN stays, though the registry says LAN;
# SRV-B's empty Category is filled in its place, its Type stays; the missing
# keys follow each section's last line; sections in place get no separator.
KEPT_HEAD = "; kept comment\r\n"
KEPT_BEFORE = (KEPT_HEAD + "[srv-a]\r\nCategory=WAN\r\n"
               "[SRV-B]\r\nType=9\r\nCategory=\r\nCustom=kept\r\n")
KEPT = [("srv-a", [("Category", "WAN")] + MACHINE_A_KEYS[:1] + MACHINE_A_KEYS[2:], False),
        ("SRV-B", [("Type", "9"), ("Category", "LAN"), ("Custom", "kept")] + MACHINE_B_KEYS[2:],
         False), FRESH[2], FRESH[3]]
SWITCH_ONLY = {"ManagedpOSIX\\SWITCH-1": OTHER_DEVICE}
SWITCH_LIST = listed(section_bytes("SWITCH-1", OTHER_DEVICE_KEYS))


def network_runs(wine):
    """A fresh list, a complete one (it stays byte for byte: no key rewritten,
    no separator added), one with kept values; SRV-B's two codes fail each time."""
    fails = [DECRYPT_FAILED, DECRYPT_FAILED]
    return [sync(*fails, expect=listed(list_bytes(FRESH, wine=wine))),
            sync(*fails, files={DEVICE_LIST: list_bytes(FRESH)}, expect=listed(list_bytes(FRESH))),
            sync(*fails, files={DEVICE_LIST: KEPT_BEFORE},
                 expect=listed(list_bytes(KEPT, KEPT_HEAD, wine)))]


def utf16(text):
    return b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")


# --- Parvix.exe, run when no machine is managed
PARVIX = "C:\\QTest\\parvix\\KORBOD Agent"  # installs usually hold blanks
PARVIX_RUNS = "parvix_runs.txt"
STANDIN = {"copy": "parvix_standin.exe"}
PARVIX_STARTS = ['IMF : Executing PARVIX.EXE with "Local" parameter',
                 "MSG : Execution Path & Parameters : " + PARVIX + "\\Parvix.exe Local"]
PARVIX_RAN = ["TEST : parvix_standin ran with [Local]",
              "DESC : Parvix.exe Exe executed Successfully. "]


# --- the device list status file
def status_file(server, regid, data_lines, totals, stamp=r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d"):
    """A regex of the whole status file: [MAIN], the [DATA] lines (findings
    or the verdict), an empty line, the five totals, an empty line."""
    names = ("MS", "POSIX", "SNMP", "ICMP", "VMWare")
    body = "".join(line + "\r\n" for line in data_lines) + "\r\n"
    body += "".join("Total number of %s Servers : %d\r\n" % (n, c) for n, c in zip(names, totals))
    return (r"\A\[MAIN\]\r\nServer=" + re.escape(server) + r"\r\nDateTime=" + stamp
            + r"\r\nRegID=" + re.escape(regid) + r"\r\n\r\n\r\n\[DATA\]\r\n"
            + re.escape(body) + r"\r\n\Z")


def finding(section, message):
    return "INI_ERR :\t" + section + "\t" + message


ALL_VALID = "All the entries in DeviceList.ini file are valid"
STATUS = "Status\\wpdevicestatus_%s_" + "[0-9]" * 14 + ".txt"


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
    # a Type with a blank passes the check but counts in no total; blanks
    # around a LocalMachine are trimmed, a tab before a Category is not
    + "[SPACED]\r\nType=\" 2\"\r\nCategory=\"\tLAN\"\r\nEnable=0\r\nDaysToMonitor=1\r\n"
      "FromTime=x\r\nToTime=y\r\nLocalMachine=\" n \"\r\nRegID=1\r\n\r\n"
    # a value is read into 255 characters with its zero
    + valid_section("LONG", "9" * 300))
CHECKED_FINDINGS = [finding("SRV-B", "Invalid value for %s found as : %s" % kv)
                    for kv in (("Type", "7"), ("Category", "LAN2"))]
CHECKED_FINDINGS += [finding("SRV-B", "Enable value is blank"),
                     finding("SRV-B", "Invalid value for LocalMachine found as : Yes")]
CHECKED_FINDINGS += [finding("EMPTY", key + " value is blank") for key in (
    "Type", "Category", "Enable", "DaysToMonitor", "FromTime", "ToTime", "LocalMachine", "RegID")]
CHECKED_FINDINGS += [finding("SPACED", "Invalid value for Category found as : \tLAN"),
                     finding("LONG", "Invalid value for Type found as : " + "9" * 254)]
# 60 sections of 100-character names: about 6,100 characters of names, more
# than the 5,000 the list of section names was once cut to.
LONG_LIST = "".join(valid_section("DEVICE-%03d-" % i + "X" * 89, "4") for i in range(60))
# More devices of one type than a signed 16-bit count holds.
MANY_DEVICES = 32770
MANY_LIST = "".join(valid_section("D%05d" % i, "4") for i in range(MANY_DEVICES))


ANY_SIZE = pattern(r"MSG : KORBOD folder Size : [0-9.]+ MB")


def cfg(*lines, **more):
    """A validation run; its findings never reach the activity log."""
    return run("CFG", NO_LOGPARSER, *lines, GETTING_SIZE, ANY_SIZE, **more)


SCENARIOS = [
    scenario("device_list_from_every_kind_of_device_kept_and_completed",
             *network_runs(False), registry_keys=NETWORK, folders=["Configuration"],
             on_target={"wine": {"runs": network_runs(True)}}),
    # the run upper-cases the type for its gate; the synchronisation compares it exactly
    scenario("lower_case_agent_type_does_not_synchronise", sync(expect={DEVICE_LIST: "absent"}),
             registry=agent("rulk"), registry_keys=NETWORK, folders=["Configuration"]),
    # the health-check run reports the failure, and that it cannot record it
    # nor the service check: the INI writer makes no missing folder
    scenario("synchronisation_without_configuration_folder_fails",
             sync(SYNC_FAILED, exit=1, expect={"PMStatus\\R-100_Quillet_*.ini": {
                 "count": 2, "count_ini": [(report("Agent_SyncDeviceList_MNStatus", "Failed",
                                                       "Failed to recreate devicelist.ini"), 1)]}}),
             health(RECORD_REFUSED, SYNC_FAILED, RECORD_REFUSED, exit=1,
                    expect={"Configuration": "absent",
                            REPORTS: {"count": 3, "count_ini": [(SYNC_REPORT, 2)]}}),
             registry=agent(RegID="R-100"), registry_keys=NETWORK),
    # a list that cannot be opened (a folder of that name) is CONFIGURATION
    # status 0 with DeviceList.ini (success and later runs: the health records')
    scenario("health_check_records_the_synchronisation",
             health(SYNC_FAILED, exit=1, expect=configuration("0", "DeviceList.ini", **{
                 REPORTS: {"count": 1, "count_ini": [(SYNC_REPORT, 1)]}})),
             registry_keys=SWITCH_ONLY, folders=[DEVICE_LIST]),
    # A Unicode list's values are seen (RegID and Category stay), a missing
    # key is added and the list stays UTF-16; Parvix.exe is not run while
    # machines are managed. A list that cannot be written is left as it was,
    # with the failure line, a Failed report and exit status 1.
    scenario("utf16_and_read_only_device_lists",
             sync(files={DEVICE_LIST: utf16("[SRV-A]\nRegID=R-OLD\nCategory=WAN\n")},
                  expect={PARVIX_RUNS: "absent", DEVICE_LIST: {"match": r"\A\xff\xfe", "ini": {"SRV-A": {
                      "RegID": "R-OLD", "Category": "WAN", "Type": "1", "OSVer": "10.0 17763"}}}}),
             sync(SYNC_FAILED, exit=1,
                  files={DEVICE_LIST: {"content": "[OLD]\r\nRegID=1\r\n", "readonly": True}},
                  expect={**listed("[OLD]\r\nRegID=1\r\n"),
                          REPORTS: {"count_ini": [(SYNC_REPORT, 1)]}}),
             registry_keys={"ManagedMachines\\SRV-A": MACHINE_A}, files={"Parvix.exe": STANDIN}),
    # an empty ManagedMachines key manages no machine: Parvix.exe is run
    scenario("parvix_runs_when_no_machine_is_managed",
             sync(PARVIX_MISSING, expect=SWITCH_LIST),
             # the stored name must be Parvix.exe in its letter case, also
             # where file names match without case (Wine, Windows)
             sync(PARVIX_MISSING, files={"PARVIX.EXE": STANDIN},
                  expect={PARVIX_RUNS: "absent", **SWITCH_LIST}),
             # nothing is started, so the wait fails: -1 and no system text
             sync(*PARVIX_STARTS, "DESC : failed to execute Parvix.exe, ErrNo : -1 - ",
                  delete=["PARVIX.EXE"], files={"Parvix.exe": "not a program"},
                  expect=SWITCH_LIST),
             # the tool takes a second: its own line between the start and
             # the outcome shows that the run waited for it
             sync(*PARVIX_STARTS, *PARVIX_RAN,
                  files={"Parvix.exe": STANDIN, "parvix_sleep_ms.txt": "1000"},
                  expect={PARVIX_RUNS: {"content": "[Local]\r\n"}, **SWITCH_LIST}),
             # its exit code is not examined
             sync(*PARVIX_STARTS, *PARVIX_RAN, files={"parvix_exit_code.txt": "7"},
                  expect={PARVIX_RUNS: {"content": "[Local]\r\n[Local]\r\n"}}),
             install=PARVIX, registry_keys={"ManagedMachines": {}, **SWITCH_ONLY},
             folders=["Configuration"]),

    # The later of two sections with LocalMachine Y names the server; one
    # finding suppresses the verdict; a Type with a blank counts nowhere;
    # every section of a long list is read; a file named Status in the way
    # of the folder fails the validation.
    scenario("validation_reports_findings_counts_and_the_local_server",
             cfg(files={DEVICE_LIST: CHECKED_LIST}, expect={
                 STATUS % "R-77": {"count": 1, "match": status_file(
                     "SW-1", "R-77", CHECKED_FINDINGS, (1, 0, 1, 0, 1))}}),
             cfg(delete=["Status"],
                 files={DEVICE_LIST: LONG_LIST + valid_section("LAST", "1", local="Y")},
                 expect={STATUS % "R-77": {"count": 1, "match": status_file(
                     "LAST", "R-77", [ALL_VALID], (1, 0, 0, 60, 0))}}),
             cfg(pattern(r"ERR : Error while validating DeviceList\.ini file\. Error No\.: -?\d+, "
                         r"Error Description : .*, Source = PriSubValidateDeviceList\(\)"),
                 delete=["Status"], files={"Status": "in the way"},
                 expect={"Status": {"content": "in the way"}}),
             registry=agent(RegID="R-77")),
    # without a RegID the name and the RegID line carry 0
    scenario("validation_without_device_list_writes_an_empty_verdict",
             cfg(expect={STATUS % "0": {"count": 1, "match": status_file(
                 "", "0", [ALL_VALID], (0, 0, 0, 0, 0))}})),
    # Host only: Wine's private-profile reader looks a section up by walking
    # all of them, and 262,000 reads of a 32,770-section list take minutes.
    scenario("validation_counts_more_devices_than_16_bits_hold",
             cfg(expect={STATUS % "R-77": {"count": 1, "match": status_file(
                 "SRV-A", "R-77", [ALL_VALID], (0, 1, 0, MANY_DEVICES, 0))}}),
             targets=("host",), registry=agent(RegID="R-77"),
             files={DEVICE_LIST: valid_section("SRV-A", "2", local="Y") + MANY_LIST}),
]
