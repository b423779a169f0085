"""gtest_results on a report and console output recorded from a GoogleTest
1.12 program with a pass, a failure with two texts, a skip and a second suite."""

import os
import tempfile
import unittest

import recorded
import gtest_results


class RecordedRun(unittest.TestCase):
    def setUp(self):
        self.suite = gtest_results.read_outcome(recorded.path("gtest-report.json"), recorded.text("gtest-stdout.txt"))

    def test_every_test_in_run_order_with_its_result_and_time(self):
        self.assertEqual([(test.name, test.result) for test in self.suite.tests],
                         [("HelmetUnitTest.DetectsOnTheVideo", "passed"),
                          ("HelmetUnitTest.BoxesLieInsideTheFrame", "failed"),
                          ("HelmetUnitTest.ReadsTheStagedVideo", "skipped"),
                          ("Certification.LabelsAreKnown", "passed")])
        self.assertEqual([self.suite.count(result) for result in ("passed", "failed", "skipped")], [2, 1, 1])
        self.assertAlmostEqual(self.suite.tests[0].seconds, 0.122)
        self.assertEqual(self.suite.problem, "")
        self.assertFalse(self.suite.passed_all)

    def test_a_failure_keeps_each_of_its_texts(self):
        self.assertEqual(self.suite.tests[1].messages, [
            "RecordedTest.cpp:7\nExpected: (700) <= (640), actual: 700 vs 640\nbox right edge past the frame",
            "RecordedTest.cpp:8\nValue of: false\n  Actual: false\nExpected: true"])

    def test_the_skip_message_comes_from_the_console_output(self):
        self.assertEqual(self.suite.tests[2].messages, ["no staged video here"])
        without_output = gtest_results.read_outcome(recorded.path("gtest-report.json"), "")
        self.assertEqual(without_output.tests[2].result, "skipped")
        self.assertEqual(without_output.tests[2].messages, [""])


class MissingReport(unittest.TestCase):
    def test_a_program_that_crashed_before_its_report_fails_with_no_tests(self):
        with tempfile.TemporaryDirectory() as folder:
            suite = gtest_results.read_outcome(os.path.join(folder, "contract.json"), "[ RUN      ] A.B\n")
        self.assertEqual((suite.tests, suite.problem), ([], "the program wrote no test report"))
        self.assertFalse(suite.passed_all)

    def test_a_cut_off_report_is_unreadable_not_passed(self):
        with tempfile.TemporaryDirectory() as folder:
            cut = os.path.join(folder, "contract.json")
            with open(cut, "w", encoding="utf-8") as report:
                report.write(recorded.text("gtest-report.json")[:700])
            suite = gtest_results.read_outcome(cut, "")
        self.assertTrue(suite.problem.startswith("the test report cannot be read"), suite.problem)
        self.assertFalse(suite.passed_all)


if __name__ == "__main__":
    unittest.main()
