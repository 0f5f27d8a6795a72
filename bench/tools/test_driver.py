#!/usr/bin/env python3
"""Tests of the benchmark driver's own logic: scaling the listings, checking
outputs against each other, and judging the targets from measured numbers.
Run with: python3 -m unittest discover -s bench/tools -p 'test_*.py'
"""

import re
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import driver  # noqa: E402

TAG = re.compile(r";\s*@([A-Z]+)([+-]\d+)?\s*$")


class ScaledListing(unittest.TestCase):
    def test_every_tagged_size_of_every_listing_is_scaled_and_nothing_else(self):
        for name, params, _, _ in driver.PROGRAMS:
            with self.subTest(program=name):
                full = (driver.BENCH / "programs" / f"{name}.lst").read_text()
                quick = driver.scaled_listing(full, params, True)
                full_lines, quick_lines = full.splitlines(), quick.splitlines()
                self.assertEqual(len(full_lines), len(quick_lines))
                tagged = 0
                for before, after in zip(full_lines, quick_lines):
                    tag = TAG.search(before)
                    if not tag:
                        self.assertEqual(before, after)
                        continue
                    tagged += 1
                    big, small = params[tag.group(1)]
                    offset = int(tag.group(2) or 0)
                    self.assertIn(str(big + offset), before.split(";")[0])
                    self.assertNotIn(str(big + offset), after.split(";")[0])
                    self.assertIn(str(small + offset), after.split(";")[0])
                self.assertGreater(tagged, 0, "a listing without a size tag cannot be scaled down")

    def test_full_size_leaves_the_listing_alone(self):
        text = "PUSH 600 ;@W\n"
        self.assertIs(driver.scaled_listing(text, {"W": (600, 60)}, False), text)

    def test_only_the_whole_number_is_replaced(self):
        text = "CHECK_INDEX -600 600 ;@W\nPUSH 6000 ;@W\n"
        with self.assertRaises(SystemExit):  # 6000 is not 600: the second tag has no number to scale
            driver.scaled_listing(text, {"W": (600, 60)}, True)
        scaled = driver.scaled_listing("CHECK_INDEX -600 600 ;@W\n", {"W": (600, 60)}, True)
        self.assertEqual(scaled, "CHECK_INDEX -600 60 ;@W\n")

    def test_offsets_follow_the_size(self):
        scaled = driver.scaled_listing("NEW 10000001 ;@N+1\nPUSH 399 ;@H-1\n", {"N": (10000000, 100), "H": (400, 40)},
                                       True)
        self.assertEqual(scaled, "NEW 101 ;@N+1\nPUSH 39 ;@H-1\n")


class Measuring(unittest.TestCase):
    """measure() with the child processes replaced by canned outcomes."""

    def run_measure(self, outputs, runs=2):
        calls = []

        def fake_timed_run(command, cwd, timeout):
            system = next(s for s in driver.SYSTEMS if f"/{s}" in str(cwd))
            calls.append(system)
            code, out = outputs[system]
            return 1.0, 0.5, 2048, code, out

        saved = driver.timed_run, driver.log
        driver.timed_run, driver.log = fake_timed_run, lambda message: None
        try:
            programs = [driver.PROGRAMS[0]]
            with tempfile.TemporaryDirectory() as work:
                results, reference = driver.measure(Path(work), programs, driver.SYSTEMS, {}, runs, True, 10)
        finally:
            driver.timed_run, driver.log = saved
        return results, reference, calls

    def test_outputs_that_agree_give_times_for_every_system(self):
        results, reference, calls = self.run_measure({s: (0, b"35000\n") for s in driver.SYSTEMS})
        self.assertEqual(reference["loop"], b"35000\n")
        for system in driver.SYSTEMS:
            outcome = results[("loop", system)]
            self.assertEqual(outcome.problem, "")
            self.assertEqual(outcome.median(), 1.0)
            self.assertEqual(outcome.memory_mb(), 2.0)
        # Every run goes through every system, in an order that rotates.
        self.assertEqual(len(calls), 2 * len(driver.SYSTEMS))
        self.assertNotEqual(calls[0], calls[len(driver.SYSTEMS)])

    def test_a_wrong_checksum_removes_that_system_only(self):
        outputs = {s: (0, b"35000\n") for s in driver.SYSTEMS}
        outputs["lousa"] = (0, b"35001\n")
        results, _, _ = self.run_measure(outputs)
        self.assertTrue(results[("loop", "lousa")].problem.startswith("checksum differs"))
        self.assertIsNone(results[("loop", "lousa")].median())
        self.assertEqual(results[("loop", "lua")].problem, "")

    def test_the_peers_majority_is_the_reference(self):
        outputs = {s: (0, b"35000\n") for s in driver.SYSTEMS}
        outputs["fpc"] = (0, b"1\n")
        results, reference, _ = self.run_measure(outputs)
        self.assertEqual(reference["loop"], b"35000\n")
        self.assertTrue(results[("loop", "fpc")].problem.startswith("checksum differs"))

    def test_an_instruction_not_built_yet_is_reported_as_such(self):
        outputs = {s: (0, b"35000\n") for s in driver.SYSTEMS}
        outputs["lousa"] = (0, driver.ERROR_PREFIX + b"6...\n" + driver.INVALID)
        results, _, _ = self.run_measure(outputs)
        self.assertEqual(results[("loop", "lousa")].problem, "stops on an instruction not built yet")

    def test_a_run_time_error_and_a_crash_are_named(self):
        self.assertIn("Divis", driver.describe_failure(driver.ERROR_PREFIX + "9...\n => Divisão por Zero!".encode(
            "latin-1"), 0))
        self.assertEqual(driver.describe_failure(b"", -1), "timed out")
        self.assertEqual(driver.describe_failure(b"", -11), "exit status -11")


class Counting(unittest.TestCase):
    """count_instructions() against a stand-in for lousa-count, and the column it feeds."""

    def counted(self, lines: str, status: int = 0):
        with tempfile.TemporaryDirectory() as directory:
            build = Path(directory) / "build"
            (build / "bin").mkdir(parents=True)
            counter = build / "bin" / "lousa-count"
            counter.write_text(f"#!/bin/sh\nprintf '{lines}' >&2\nexit {status}\n")
            counter.chmod(0o755)
            work = Path(directory) / "work"
            work.mkdir()
            return driver.count_instructions(work, build, "loop", 30)

    def test_both_counts_and_the_invalid_instruction_are_read(self):
        self.assertEqual(self.counted("instructions: 1500\ninternal instructions: 700\noriginal instructions: 1500\n"),
                         (1500, "", 700))
        self.assertEqual(self.counted("instructions: 12\ninvalid instruction: SET_UNION\n"), (12, "SET_UNION", None))
        self.assertEqual(self.counted("instructions: 12\ninternal instructions: 5\n", status=1), (None, "", None))

    def test_the_ratio_goes_into_the_first_table(self):
        programs = [p for p in driver.PROGRAMS if p[0] in ("loop", "fib")]
        results = {(name, system): driver.Outcome(seconds=[1.0], cpu_seconds=[1.0], peak_kb=[1024])
                   for name, *_ in programs for system in driver.SYSTEMS}
        counts = {"loop": (1500, "", 705), "fib": (100, "")}
        table, _ = driver.report(programs, driver.SYSTEMS, results, {}, counts, {}, [], 1, True)
        lines = table.splitlines()
        header = [cell.strip() for cell in lines[0].strip("|").split("|")]
        column = header.index("internal/original")
        loop = [cell.strip() for cell in lines[2].strip("|").split("|")]
        fib = [cell.strip() for cell in lines[3].strip("|").split("|")]
        self.assertEqual(loop[column], "0.47")
        self.assertEqual(fib[column], "n/a")


class Judging(unittest.TestCase):
    def outcome(self, seconds, mb=10.0, problem=""):
        return driver.Outcome(seconds=[seconds], cpu_seconds=[seconds], peak_kb=[int(mb * 1024)], problem=problem)

    def judge(self, lousa_times, lua_times, python_times, counts=None, lousa_problems=None, list_mb=(50.0, 60.0)):
        programs = [p for p in driver.PROGRAMS if p[3]]
        results = {}
        for (name, *_), lousa, lua, python in zip(programs, lousa_times, lua_times, python_times):
            problem = (lousa_problems or {}).get(name, "")
            results[(name, "lousa")] = self.outcome(lousa, list_mb[0] if name == "list" else 10, problem)
            results[(name, "lua")] = self.outcome(lua, list_mb[1] if name == "list" else 10)
            results[(name, "python")] = self.outcome(python)
            results[(name, "fpc")] = self.outcome(0.1)
        _, targets = driver.report(programs, driver.SYSTEMS, results, {}, counts or {}, {}, [], 3, False)
        return targets

    def test_all_targets_met(self):
        targets = self.judge([1.0] * 7, [1.0] * 7, [2.0] * 7, counts={"loop": (1_500_000_000, "")})
        self.assertEqual(len(targets), 5)
        self.assertTrue(all(": met" in t for t in targets), targets)

    def test_each_target_can_fail(self):
        # sieve 4x Lua and only 1.75x faster than CPython; geometric mean above 1.0; 500 M/s on loop; list heavier.
        targets = self.judge([1.0, 2.0, 4.0, 2.0, 2.0, 2.0, 2.0], [1.0] * 7, [3.5, 7, 7, 7, 7, 7, 7],
                             counts={"loop": (500_000_000, "")}, list_mb=(80.0, 60.0))
        text = "\n".join(targets)
        self.assertIn("2x faster than CPython (processor time): NOT met (lowest 1.75x on sieve", text)
        self.assertIn("no more than 1.0: NOT met", text)
        self.assertIn("slower than 1.5x Lua (processor time): NOT met (highest 4.00)", text)
        self.assertIn("on loop: NOT met (500 million per second)", text)
        self.assertIn("list peak memory no more than Lua's: NOT met", text)

    def test_a_program_without_a_number_cannot_meet_a_target_for_all(self):
        targets = self.judge([1.0] * 7, [1.0] * 7, [3.5] * 7, lousa_problems={"sets": "stops on an instruction"})
        cpython = next(t for t in targets if "CPython" in t)
        self.assertIn("NOT met", cpython)
        self.assertIn("6 of 7 measured", cpython)
        geo = next(t for t in targets if "geometric" in t)
        self.assertIn("NOT met", geo)

    def test_targets_are_judged_on_processor_time(self):
        # A loaded machine: every wall time is three times the processor time.
        programs = [p for p in driver.PROGRAMS if p[3]]
        results = {}
        for name, *_ in programs:
            for system, cpu in (("lousa", 1.0), ("lua", 1.0), ("python", 2.0), ("fpc", 0.1)):
                results[(name, system)] = driver.Outcome(seconds=[cpu * 3], cpu_seconds=[cpu], peak_kb=[1024])
        _, targets = driver.report(programs, driver.SYSTEMS, results, {}, {"loop": (1_500_000_000, "")}, {}, [], 3,
                                   False)
        self.assertTrue(all(": met" in t for t in targets), targets)

    def test_a_subset_of_the_programs_is_judged_on_what_ran(self):
        programs = [p for p in driver.PROGRAMS if p[0] in ("strings", "sets")]
        results = {(name, system): driver.Outcome(seconds=[1.0], cpu_seconds=[1.0], peak_kb=[1024])
                   for name, *_ in programs for system in driver.SYSTEMS}
        table, targets = driver.report(programs, driver.SYSTEMS, results, {}, {}, {}, [], 3, False)
        self.assertIn("| strings |", table)
        self.assertTrue(any("2 of 7 measured" in t for t in targets), targets)

    def test_geometric_mean(self):
        self.assertAlmostEqual(driver.geomean([1.0, 4.0]), 2.0)
        self.assertIsNone(driver.geomean([]))


if __name__ == "__main__":
    unittest.main()
