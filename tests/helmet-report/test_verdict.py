"""The verdict and the exit status from recorded certification runs (our
library, and a library that fails on grayscale frames), and the figures'
text: a library's failure is told apart from what the user must fix."""

import unittest

import recorded
from figures import figure, plain_numbers
from gtest_results import read_outcome
from program_runs import ProgramRun
from verdict import Verdict

PASSED = ProgramRun(command=["p"], exit_code=0)


def certification(name):
    return read_outcome(recorded.path(name + "-report.json"), recorded.text(name + "-stdout.txt"))


class Figures(unittest.TestCase):
    def test_numbers_as_people_write_them(self):
        self.assertEqual([figure(0.93), figure(0.1 + 0.2), figure(300.0), figure("0.640081"), figure(2.5e-06)],
                         ["0.93", "0.30000000000000004", "300", "0.640081", "2.5e-06"])
        self.assertEqual([figure(0.8847, 3), figure(4.0, 1, " MB"), figure(None), figure("x"), figure(float("nan"))],
                         ["0.885", "4.0 MB", "-", "-", "n/a"])

    def test_googletest_s_seventeen_digits_shortened_and_nothing_else_changed(self):
        failure = certification("certification-gray").tests[2].messages[1]
        self.assertIn("0.88476629047456545, under the floor 0.69999999999999996", failure)
        self.assertEqual(plain_numbers(failure), failure.replace("0.88476629047456545", "0.8847662904745655")
                         .replace("0.69999999999999996", "0.7"))
        self.assertEqual(plain_numbers("T.cpp:909 AP50 0 v1.2.3 1.23456789012345678x"),
                         "T.cpp:909 AP50 0 v1.2.3 1.23456789012345678x")


class Verdicts(unittest.TestCase):
    def test_every_test_passed_and_ran_is_a_pass(self):
        verdict = Verdict()
        verdict.tests("Certification", certification("certification"), PASSED)
        verdict.program("helmet-bench", PASSED)
        self.assertEqual((verdict.state, verdict.exit_status), ("passed", 0))
        self.assertIn('class="verdict passed"', verdict.html())

    def test_a_failed_test_fails_the_library_and_names_the_test(self):
        verdict = Verdict()
        verdict.tests("Certification", certification("certification-gray"), ProgramRun(["p"], exit_code=1))
        self.assertEqual(verdict.failed, [
            "Certification: 1 failed (CertifiedRobustness.PhotosKeepTheirAp50WhenGrayDarkBlurredCompressedOrShrunk)"])
        self.assertEqual((verdict.state, verdict.exit_status), ("failed", 0))

    def test_skips_and_user_errors_are_incomplete_never_a_pass(self):
        suite = read_outcome(recorded.path("gtest-report.json"), recorded.text("gtest-stdout.txt"))
        suite.tests = [test for test in suite.tests if test.result != "failed"]
        verdict = Verdict()
        verdict.tests("Contract", suite, PASSED)
        self.assertEqual(verdict.incomplete, ["Contract: 1 skipped (HelmetUnitTest.ReadsTheStagedVideo): "
                                              "no staged video here"])
        verdict.program("helmet-bench", ProgramRun(["b"], exit_code=2, stderr="warning\nhelmet-bench: no video v\n"))
        verdict.not_run("helmet-eval", "no labelled data")
        self.assertEqual(verdict.incomplete[1:], ["helmet-bench stopped on a user error: helmet-bench: no video v",
                                                  "helmet-eval not run: no labelled data"])
        self.assertEqual((verdict.state, verdict.exit_status), ("incomplete", 2))
        self.assertIn('<p class="verdict incomplete">', verdict.html())
        # With a failure too, the library fails, and what was not checked still asks for a rerun.
        verdict.program("helmet-detect", ProgramRun(["d"], exit_code=-11, seconds=1.0))
        self.assertEqual((verdict.state, verdict.exit_status), ("failed", 2))
        self.assertIn("helmet-detect did not finish: killed by signal 11", verdict.line("r.html"))
        self.assertIn("Not checked: helmet-eval not run", verdict.html())

    def test_a_run_that_left_no_readable_output_is_no_pass(self):
        verdict = Verdict()
        verdict.program("helmet-bench", PASSED, output_read=False)
        verdict.tests("Contract", read_outcome(recorded.path("missing.json"), ""), ProgramRun(["c"], exit_code=-6))
        self.assertEqual(verdict.failed, [
            "helmet-bench wrote no readable report (exit status 0 after 0.0 s)",
            "Contract: the program wrote no test report (killed by signal 6 after 0.0 s)"])


if __name__ == "__main__":
    unittest.main()
