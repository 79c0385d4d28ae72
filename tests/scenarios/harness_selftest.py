"""Checks of the scenario harness itself: a harness that accepts a wrong log,
a wrong INI value or writes a wrong registry file would let the program's
faults through."""

import datetime
import os
import tempfile
import unittest

from harness import checks, registry
from harness.scenario import filler, log_filler, pattern

STAMP = b"12/05/2026 04:13:01\t"


class LogParsing(unittest.TestCase):
    def test_lines_and_their_faults(self):
        cases = [
            # (log bytes, messages, number of problems)
            (STAMP + b"INF : a\r\n" + STAMP + b"INF : b\r\n", ["INF : a", "INF : b"], 0),
            (STAMP + b"\r\n", [""], 0),
            (STAMP + b"x\ny\r\n", ["x\ny"], 0),                 # a lone LF stays in the message
            (STAMP + b"INF : a", ["INF : a"], 1),               # no final CR LF
            (STAMP + b"INF : a\n", ["INF : a\n"], 1),           # LF only
            (b"13/05/2026 04:13:01\tINF : a\r\n", ["13/05/2026 04:13:01\tINF : a"], 1),
            (b"12/05/26 04:13:01\tINF : a\r\n", ["12/05/26 04:13:01\tINF : a"], 1),
            (b"12/05/2026 4:13:01\tINF : a\r\n", ["12/05/2026 4:13:01\tINF : a"], 1),
            (b"12/05/2026 04:13:01 INF : a\r\n", ["12/05/2026 04:13:01 INF : a"], 1),
            (b"12-05-2026 04:13:01\tINF : a\r\n", ["12-05-2026 04:13:01\tINF : a"], 1),
            (b"", [], 0),
        ]
        for data, messages, problems in cases:
            with self.subTest(data=data):
                _stamps, got, found = checks.parse_log(data)
                self.assertEqual(got, messages)
                self.assertEqual(len(found), problems, found)


class Timestamps(unittest.TestCase):
    def test_stamps_must_fall_in_the_run(self):
        start = datetime.datetime(2026, 12, 5, 4, 13, 1, 500000)
        end = start + datetime.timedelta(seconds=3)
        cases = [
            (["12/05/2026 04:13:01", "12/05/2026 04:13:04"], True),
            (["12/05/2026 04:12:59"], True),              # within the slack
            (["12/05/2026 04:12:58"], False),
            (["12/05/2026 04:13:07"], False),
            (["05/12/2026 04:13:01"], False),             # day and month swapped
            (["12/05/2026 03:13:01"], False),             # another time zone
        ]
        for stamps, holds in cases:
            with self.subTest(stamps=stamps):
                self.assertEqual(not checks.stamps_within(stamps, start, end), holds)


class MessageComparison(unittest.TestCase):
    ACTUAL = ["start", "a", "task line", "b", "end"]

    def test_modes(self):
        cases = [
            ("exact", ["start", "a", "task line", "b", "end"], (), True),
            ("exact", ["start", "a", "b", "end"], (), False),
            ("exact", ["start", "a", pattern(r"task \w+"), "b", "end"], (), True),
            ("exact", ["start", "a", pattern(r"task"), "b", "end"], (), False),  # full match
            ("subsequence", ["start", "b", "end"], (), True),
            ("subsequence", ["start", "end", "b"], (), False),                  # order counts
            ("subsequence", ["start", "start"], (), False),                     # counts too
            ("filtered", ["start", "a", "b", "end"], (r"^(start|end|a|b)$",), True),
            ("filtered", ["start", "a", "end"], (r"^(start|end|a|b)$",), False),  # extra b
            ("filtered", ["start", "b", "a", "end"], (r"^(start|end|a|b)$",), False),
            ("filtered", ["start", "end"], (r"^(start|end)$", r"^zzz"), True),
        ]
        for mode, expected, filters, holds in cases:
            with self.subTest(mode=mode, expected=expected):
                failures = checks.compare_messages(expected, self.ACTUAL, mode, filters)
                self.assertEqual(not failures, holds, failures)

    def test_absent_messages(self):
        self.assertEqual(checks.absent_messages([r"^ERR "], self.ACTUAL), [])
        self.assertEqual(len(checks.absent_messages([r"^task"], self.ACTUAL)), 1)


class IniReading(unittest.TestCase):
    DATA = (b"; comment\r\n[Other]\r\nPID=wrong\r\n[STATUS_INFO]\r\n RegID = 12345 \r\n"
            b"Desc=\r\nPID=\"MN Status Check\"\r\npid=second\r\nQuote='x\"\r\n"
            b"[status_info]\r\nLate=1\r\n")

    def test_values_as_the_windows_reader_gives_them(self):
        cases = [
            ("STATUS_INFO", "RegID", "12345"),
            ("status_info", "regid", "12345"),
            ("STATUS_INFO", "Desc", ""),
            ("STATUS_INFO", "PID", "MN Status Check"),   # quotes gone, first key wins
            ("STATUS_INFO", "Quote", "'x\""),            # unmatched quotes stay
            ("STATUS_INFO", "Late", None),               # only the first section counts
            ("STATUS_INFO", "Missing", None),
            ("Nowhere", "PID", None),
            ("Other", "PID", "wrong"),
        ]
        for section, key, value in cases:
            with self.subTest(section=section, key=key):
                self.assertEqual(checks.ini_value(self.DATA, section, key), value)


class RegistryFile(unittest.TestCase):
    def test_value_lines(self):
        cases = [
            (registry.sz('C:\\A "b"'), True, '"v"="C:\\\\A \\"b\\""'),
            ("RULK ", True, '"v"="RULK "'),
            (registry.dword(0x4B4C5552), True, '"v"=dword:4b4c5552'),
            (registry.binary(b"\x2c\x01"), True, '"v"=hex:2c,01'),
            (registry.expand_sz("%X%"), True, '"v"=hex(2):25,00,58,00,25,00,00,00'),
            (registry.expand_sz("%X%"), False, '"v"=hex(2):25,58,25,00'),
            (registry.multi_sz(["x", "y"]), True, '"v"=hex(7):78,00,00,00,79,00,00,00,00,00'),
            (registry.multi_sz(["x", "y"]), False, '"v"=hex(7):78,00,79,00,00'),
            (registry.raw(0x20, b"R\0"), True, '"v"=hex(20):52,00'),
        ]
        for value, unicode, line in cases:
            with self.subTest(line=line):
                self.assertEqual(registry.value_line("v", value, unicode), line)

    def test_long_data_wraps_with_continuations(self):
        text = registry.value_line("v", registry.binary(bytes(range(60))))
        lines = text.split("\r\n")
        self.assertGreater(len(lines), 1)
        self.assertTrue(all(line.endswith("\\") for line in lines[:-1]))
        joined = "".join(line.rstrip("\\").strip() for line in lines)
        self.assertEqual(joined, '"v"=hex:' + ",".join("%02x" % b for b in range(60)))

    def test_whole_files(self):
        v5 = registry.reg_file_bytes({"Type": "RULK"}, {"ManagedMachines\\PC1": {"IP": "x"}})
        self.assertTrue(v5.startswith(b"\xff\xfe"))
        text = v5[2:].decode("utf-16-le")
        self.assertEqual(text, "Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\KORBOD]\r\n\"Type\"=\"RULK\"\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\KORBOD\\ManagedMachines\\PC1]\r\n"
                               "\"IP\"=\"x\"\r\n\r\n")
        old = registry.reg_file_bytes({"Type": "RULK"}, fmt="regedit4")
        self.assertTrue(old.startswith(b"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\KORBOD]"))
        self.assertEqual(registry.reg_file_bytes(None, fmt="regedit4"), b"REGEDIT4\r\n\r\n")


class Fillers(unittest.TestCase):
    def test_exact_sizes(self):
        for size in (0, 1, 7, 100, 101, 149, 150, 2097152, 2097153):
            with self.subTest(size=size):
                self.assertEqual(len(log_filler(size)), size)
                self.assertEqual(len(filler(size)), size)

    def test_log_filler_is_a_well_formed_log(self):
        for size in (2097152, 2097153, 1048599):
            with self.subTest(size=size):
                _stamps, messages, problems = checks.parse_log(log_filler(size))
                self.assertEqual(problems, [])
                self.assertTrue(all(m.startswith("INF : line of an earlier run") for m in messages))


class FileExpectations(unittest.TestCase):
    def test_globs_and_files(self):
        with tempfile.TemporaryDirectory() as root:
            reports = os.path.join(root, "PMStatus")
            os.makedirs(reports)
            for name, pid in (("1_Quillet_1.ini", "Agent_Services_MNStatus"),
                              ("1_Quillet_2.ini", "MN Status Check")):
                with open(os.path.join(reports, name), "wb") as handle:
                    handle.write(b"[STATUS_INFO]\r\nPID=" + pid.encode() + b"\r\n")
            resolve = lambda p: os.path.join(root, *p.split("\\"))  # noqa: E731
            same = lambda p: p  # noqa: E731
            closing = {"STATUS_INFO": {"PID": "MN Status Check"}}
            cases = [
                ({"PMStatus\\*.ini": {"count": 2}}, True),
                ({"PMStatus\\*.ini": {"count": 1}}, False),
                ({"PMStatus\\*.ini": {"any_ini": closing}}, True),
                ({"PMStatus\\*.ini": {"none_ini": closing}}, False),
                ({"PMStatus\\x_*.ini": "absent"}, True),
                ({"PMStatus\\*_2.ini": {"match": r"PID=MN Status"}}, True),
                ({"PMStatus\\*.ini": {"match": r"PID=MN Status"}}, False),  # each must match
                ({"PMStatus": {"folder": True}}, True),
                ({"PMStatus\\1_Quillet_1.ini": "absent"}, False),
                ({"PMStatus\\nothing.ini": "exists"}, False),
                ({"PMStatus\\1_Quillet_2.ini": {"ini": closing}}, True),
                ({"PMStatus\\1_Quillet_1.ini": {"ini": closing}}, False),
                ({"PMStatus\\1_Quillet_1.ini": {"size": 44}}, True),
            ]
            for expect, holds in cases:
                with self.subTest(expect=expect):
                    failures = checks.check_expectations(expect, resolve, same)
                    self.assertEqual(not failures, holds, failures)

    def test_snapshots_see_every_change(self):
        with tempfile.TemporaryDirectory() as root:
            path = os.path.join(root, "a", "f")
            os.makedirs(os.path.dirname(path))
            with open(path, "w") as handle:
                handle.write("x")
            before = checks.snapshot(root)
            self.assertEqual(checks.compare_snapshots("t", before, checks.snapshot(root)), [])
            with open(path, "a") as handle:
                handle.write("y")
            os.makedirs(os.path.join(root, "b"))
            failures = checks.compare_snapshots("t", before, checks.snapshot(root))
            self.assertEqual(len(failures), 2, failures)   # created b, changed a/f
            shallow = checks.snapshot(root, 1)
            self.assertEqual(sorted(shallow), ["a", "b"])


class PerTargetKeys(unittest.TestCase):
    def test_on_target_replaces_keys_on_that_target_only(self):
        from harness import scenario as scn
        base = {"name": "x", "command": "", "exit": 0, "expect": {"a": "exists"},
                "on_target": {"wine": {"expect": {"a": "absent"}}}}
        scn.validate(base, "t")
        self.assertEqual(scn.for_target(base, "host")["expect"], {"a": "exists"})
        self.assertEqual(scn.for_target(base, "wine")["expect"], {"a": "absent"})
        for wrong in ({"dos": {}}, {"wine": {"name": "y"}}, {"wine": {"expcet": {}}}):
            with self.subTest(on_target=wrong):
                with self.assertRaises(ValueError):
                    scn.validate(dict(base, on_target=wrong), "t")


class HostStandins(unittest.TestCase):
    """The host's regsvr32 must fail where Wine's real one fails: a path split
    at its blank would otherwise pass as a registration."""

    def test_regsvr32_takes_the_whole_path_of_a_library_only(self):
        import subprocess
        from harness import support_programs
        with tempfile.TemporaryDirectory() as machine:
            folder = os.path.join(machine, "drives", "c", "A B")
            os.makedirs(folder)
            support_programs.place_host_standin("test_logparser.dll",
                                                os.path.join(folder, "L.dll"))
            with open(os.path.join(folder, "text.dll"), "w") as handle:
                handle.write("not a library")
            tool = os.path.join(machine, "regsvr32")
            with open(tool, "w") as handle:
                handle.write(support_programs.REGSVR32)
            os.chmod(tool, 0o755)
            env = dict(os.environ, QUILLET_MACHINE=machine)
            cases = [(["/s", "C:\\A B\\L.dll"], 0), (["/s", "C:\\A", "B\\L.dll"], 9),
                     (["C:\\A B\\L.dll"], 9), (["/s", "C:\\A B\\text.dll"], 3),
                     (["/s", "C:\\A B\\none.dll"], 3)]
            for args, code in cases:
                with self.subTest(args=args):
                    done = subprocess.run([tool] + args, env=env, capture_output=True)
                    self.assertEqual(done.returncode, code)
            with open(os.path.join(folder, "logparser_calls.txt"), "rb") as handle:
                self.assertEqual(handle.read(), b"registered\r\n")



class StatusReports(unittest.TestCase):
    """A report check that let a wrong key order, a padded hour or a stamp
    far from the name through would hide faults of the report writer."""

    GOOD = (b"[STATUS_INFO]\r\nRegID=12345\r\nDesc=x Not started\r\nPID=P\r\nSysID=\r\n"
            b"LastRunDateTime=12/05/2026 4:13:02\r\nNextRunDateTime=\r\n"
            b"LastRunStatusCode=Failed\r\n")
    NAME = "12345_Quillet_20261205041301.ini"

    def test_layout_name_and_time(self):
        good = self.GOOD
        cases = [
            (self.NAME, good, True),
            ("12345_Quillet_20261205041302.ini", good, True),       # same second
            ("12345_Quillet_20261205041300.ini", good, False),      # two seconds later
            ("12345_Quillet_20261205041303.ini", good, False),      # before the stamp
            ("0_Quillet_20261205041301.ini", good, False),          # RegID differs
            ("12345_Quillet_2026120504130.ini", good, False),       # 13 digits
            (self.NAME, good.replace(b" 4:13", b" 04:13"), False),  # padded hour
            (self.NAME, good.replace(b"12/05/2026", b"12/5/2026"), False),
            (self.NAME, good.replace(b"SysID=\r\n", b""), False),      # empty key left out
            (self.NAME, good.replace(b"SysID=", b"SysID=1"), False),
            (self.NAME, good.replace(b"Desc=x Not started\r\nPID=P",
                                     b"PID=P\r\nDesc=x Not started"), False),   # order
            (self.NAME, good.replace(b"\r\n", b"\n"), False),
            (self.NAME, good.replace(b"Failed", b"SUCCESS"), False),   # SUCCESS has no Desc
            (self.NAME, good.replace(b"Failed", b"Success"), True),
            (self.NAME, good + b"Extra=1\r\n", False),
        ]
        for name, data, holds in cases:
            with self.subTest(name=name, data=data):
                failures = checks.check_status_report("r", name, data)
                self.assertEqual(not failures, holds, failures)

    def test_glob_checks_of_names_gaps_and_counts(self):
        with tempfile.TemporaryDirectory() as root:
            folder = os.path.join(root, "PMStatus")
            os.makedirs(folder)
            for stamp, pid in (("20261205041301", "A"), ("20261205041303", "B"),
                               ("20261205041306", "B")):
                with open(os.path.join(folder, "7_Quillet_%s.ini" % stamp), "wb") as handle:
                    handle.write(b"[STATUS_INFO]\r\nPID=" + pid.encode() + b"\r\n")
            resolve = lambda p: os.path.join(root, *p.split("\\"))  # noqa: E731
            same = lambda p: p  # noqa: E731
            b_pid = {"STATUS_INFO": {"PID": "B"}}
            cases = [
                ({"names": r"7_Quillet_[0-9]{14}\.ini"}, True),
                ({"names": r"7_Quillet_2026120504130[0-5]\.ini"}, False),
                ({"min_gap_seconds": 2}, True),
                ({"min_gap_seconds": 3}, False),
                ({"count_ini": [(b_pid, 2)]}, True),
                ({"count_ini": [(b_pid, 1)]}, False),
                ({"count_ini": [({"STATUS_INFO": {"PID": "C"}}, 0)]}, True),
            ]
            for check, holds in cases:
                with self.subTest(check=check):
                    failures = checks.check_expectations({"PMStatus\\*": check}, resolve, same)
                    self.assertEqual(not failures, holds, failures)


class SeveralRuns(unittest.TestCase):
    def test_runs_and_their_keys(self):
        from harness import scenario as scn
        one = {"name": "x", "command": "SRV", "exit": 1, "services": {"A": "running"},
               "files": {"f": ""}, "log": []}
        scn.validate(one, "t")
        self.assertEqual(scn.runs_of(one), [{"command": "SRV", "exit": 1, "log": []}])
        several = {"name": "x", "services": {"A": "stopped"},
                   "runs": [{"command": "SRV", "exit": 1},
                            {"services": {"A": "running"}, "command": "SRV", "exit": 0,
                             "days_later": 3}]}
        scn.validate(several, "t")
        self.assertEqual([r["exit"] for r in scn.runs_of(several)], [1, 0])
        self.assertTrue(scn.moves_clock(several))
        self.assertTrue(scn.uses_services(several))
        self.assertFalse(scn.moves_clock(one))
        wrong = [
            dict(several, command="SRV"),                       # a run's key at the top
            dict(several, runs=[]),
            dict(several, runs=[{"command": "SRV"}]),            # no exit
            dict(several, runs=[{"command": "SRV", "exit": 0, "install": "C:\\x"}]),
            dict(several, runs=[{"command": "SRV", "exit": 0, "log_match": "filtered"}]),
            dict(one, local_hour=24),
        ]
        for scenario in wrong:
            with self.subTest(scenario=scenario):
                with self.assertRaises(ValueError):
                    scn.validate(scenario, "t")

    def test_a_moved_clock_counts_whole_days_from_the_day_of_preparation(self):
        import datetime
        from harness import targets
        day = datetime.date(2026, 12, 31)
        self.assertEqual(targets.step_clock({"days_later": 15}, day),
                         datetime.datetime(2027, 1, 15, 12, 0, 0))
        self.assertEqual(targets.step_clock({"now": "2026-12-05 04:13:01"}, day),
                         datetime.datetime(2026, 12, 5, 4, 13, 1))
        self.assertIsNone(targets.step_clock({"command": ""}, day))


class Services(unittest.TestCase):
    def test_host_table(self):
        from harness import targets
        table = {"A": "running", "B": "driver", "C": None, "D": "paused"}
        self.assertEqual(targets.services_text(table),
                         "A\trunning\nB\trunning\tkernel_driver\nD\tpaused\n")

    def test_what_wine_can_hold(self):
        from harness import wine_services
        cases = [
            ({"KORBGuard": "running", "KORBX": "start_pending", "Y": None}, True),
            ({"MountMgr": "driver"}, True),
            ({"KORBGuard": "driver"}, False),        # no such driver in Wine
            ({"KORBGuard": "stop_pending"}, False),  # the test service cannot stay there
            ({"Spooler": "stopped"}, False),         # Wine's own service
            ({"KORB Guard": "running"}, False),
            ("KORBGuard\trunning\n", False),
            (None, True),
        ]
        for table, holds in cases:
            with self.subTest(table=table):
                self.assertEqual(wine_services.unsupported(table) is None, holds)

    def test_changes_go_through_the_service_control_manager(self):
        from harness import wine_services
        made = wine_services.WineServices("/nonexistent", "/nonexistent", "/t/ts.exe",
                                          lambda args: 0)
        made.states = {"R": "running", "P": "paused", "S": "stopped", "Q": "start_pending"}
        made.options = {n: wine_services.START_OPTIONS[s] for n, s in made.states.items()}
        program = "Z:\\t\\ts.exe"
        cases = [
            ("R", "running", []),
            ("R", "paused", [program + " --control pause R"]),
            ("P", "running", [program + " --control continue P"]),
            ("R", "stopped", [program + " --control stop R"]),
            ("S", "running", ["sc start S"]),
            # another start option: registered anew
            ("S", "paused", ["sc delete S", 'sc create S binPath= "%s S --start-paused"' % program,
                             "sc start S"]),
            ("Q", "running", [program + " --control stop Q", "sc delete Q", 'sc create Q binPath= "%s Q"' % program,
                              "sc start Q"]),
            ("N", "running", ['sc create N binPath= "%s N"' % program, "sc start N"]),
            ("N", None, []),
            ("R", None, [program + " --control stop R", "sc delete R"]),
        ]
        for name, want, lines in cases:
            with self.subTest(name=name, want=want):
                saved = (dict(made.states), dict(made.options))
                # the wait for a deleted service to leave the manager is not shown
                made._gone = lambda _name: []
                self.assertEqual(made._move(name, want), lines)
                made.states, made.options = saved

if __name__ == "__main__":
    unittest.main()
