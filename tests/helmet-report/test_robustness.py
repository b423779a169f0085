"""The robustness section from recorded certification runs: our library's full
run, and a library that fails on grayscale frames (30 photos)."""

import re
import unittest

import recorded
from gtest_results import TestOutcome, read_outcome
from robustness import read_robustness, robustness_section, site_figures


def run(name):
    stdout = recorded.text(name + "-stdout.txt")
    return read_outcome(recorded.path(name + "-report.json"), stdout), stdout


class Conditions(unittest.TestCase):
    def test_ap50_from_the_properties_clean_and_floors_from_the_console(self):
        robustness = read_robustness(*run("certification"))
        self.assertEqual((robustness.result, robustness.photos, robustness.clean), ("passed", 99, 0.855632))
        self.assertEqual([(c.name, c.ap50, c.floor, c.kept_floor, c.failed) for c in robustness.conditions[:2]],
                         [("gray", 0.640081, 0.6, 0.7, False), ("dark", 0.839508, 0.8, 0.93, False)])
        self.assertEqual([c.name for c in robustness.conditions], ["gray", "dark", "motion", "defocus", "jpeg", "half"])
        self.assertAlmostEqual(robustness.conditions[0].kept, 0.74808, places=5)

    def test_a_faulty_library_s_failed_condition_is_marked_in_table_and_chart(self):
        suite, stdout = run("certification-gray")
        robustness = read_robustness(suite, stdout)
        self.assertEqual([c.name for c in robustness.conditions if c.failed], ["gray"])
        html = robustness_section(suite, stdout)
        self.assertEqual(re.findall(r'<rect class="bar failed"[^>]*><title>(\w+):', html), ["gray"])
        self.assertEqual(html.count('<rect class="bar'), 6)
        self.assertEqual(html.count('<line class="floor"'), 6)
        self.assertIn("<td>grayscale</td><td class=\"num\">0.000</td><td class=\"num\">0.6</td>", html)
        self.assertIn("clean mean AP50 0.885", html)

    def test_without_the_robustness_test_or_a_report_nothing_fails(self):
        suite, _ = run("certification")
        suite.tests = [test for test in suite.tests if not test.name.startswith("CertifiedRobustness.Photos")]
        self.assertIsNone(read_robustness(suite, ""))
        self.assertIn("PhotosKeepTheirAp50WhenGrayDarkBlurredCompressedOrShrunk did not run",
                      robustness_section(suite, ""))
        self.assertIn("Not run: no program", robustness_section(None, "", "no program"))


class SiteFigures(unittest.TestCase):
    def test_recorded_figures_and_those_of_tests_yet_to_come(self):
        suite, _ = run("certification")
        suite.tests += [TestOutcome("CertifiedStability.BoxesHoldStillOnVideo", "failed", 1.0, [],
                                    {"dropout_share": "0.125", "jitter_share": "0.031"}),
                        TestOutcome("CertifiedResources.ResidentMemoryStaysFlatOverManyInferenceCalls", "passed",
                                    2.0, [], {"calls": "2000", "memory_growth_mb": "0.5"})]
        rows = {(what, value, result) for what, value, _, result in site_figures(suite)}
        for row in (('"helmet" boxes per image without a hard hat', "0.061", "passed"),
                    ("AP50 of small helmet (under 32x32 px) in the photos", "0.786", "passed"),
                    ("resident memory growth over 200 Initialize/Destroy cycles", "0.004 MB", "passed"),
                    ("share of tracked objects that drop out and return", "0.125", "failed"),
                    ("frame-to-frame box jitter", "0.031", "failed"),
                    ("resident memory growth over 2000 inference calls", "0.500 MB", "passed")):
            self.assertIn(row, rows)
        self.assertEqual(len(rows), 8)


if __name__ == "__main__":
    unittest.main()
