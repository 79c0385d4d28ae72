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


if __name__ == "__main__":
    unittest.main()
