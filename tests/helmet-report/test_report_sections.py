"""The page's sections from helmet-bench's and helmet-eval's recorded JSON
(40 measured calls and 10 scored frames of the test video, our library)."""

import base64
import os
import tempfile
import unittest

import recorded
import report_sections
from helmet_report import read_json, read_latencies
from library_identity import LibraryIdentity
from program_runs import ProgramRun

FINISHED = ProgramRun(command=["tool"], exit_code=0)
PNG = base64.b64decode("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==")


def cell(name, value):
    return '<td>%s</td><td class="num">%s</td>' % (name, value)


class Bench(unittest.TestCase):
    def setUp(self):
        self.bench = read_json(recorded.path("helmet-bench.json"))

    def test_latency_figures_and_every_measured_call(self):
        html = report_sections.latency_section(self.bench, read_latencies(recorded.path("latencies.txt")), FINISHED)
        for name, value in (("latency mean", "44.53 ms"), ("latency p99", "72.37 ms"), ("Initialize", "186.88 ms"),
                            ("warm-up calls (5)", "mean 44.28 ms, max 57.06 ms"),
                            ("throughput", "22.45 frames/s (40 frames)"), ("peak resident memory", "364.9 MB")):
            self.assertIn(cell(name, value), html)
        self.assertIn("1 camera(s) x 40 frames (+5 warm-up), threshold 0.6, backend onednn-cpu", html)
        self.assertEqual(html.count(" calls</title>"), 12)  # the histogram of the 40 calls

    def test_without_warm_up_calls_there_is_no_warm_up_row(self):
        del self.bench["warmup_ms"]
        html = report_sections.latency_section(self.bench, [], FINISHED)
        self.assertNotIn("warm-up calls", html)
        self.assertIn("No latencies were measured.", html)

    def test_identity_shows_the_label_map_and_every_parameter(self):
        html = report_sections.identity_section(LibraryIdentity("/lib/x.so", 7, "ab12"), self.bench, [])
        self.assertIn("<td>label map</td><td>helmet,head</td>", html)
        for name, value in self.bench["parameters"].items():
            self.assertIn("<td>%s</td><td>%s</td>" % (name, value), html)


class Evaluation(unittest.TestCase):
    def test_one_row_per_class_and_the_curves_inline(self):
        evaluation = read_json(recorded.path("helmet-eval.json"))
        with tempfile.TemporaryDirectory() as curves:
            for name in ("pr-helmet.png", "pr-head.png", "notes.txt"):
                with open(os.path.join(curves, name), "wb") as curve:
                    curve.write(PNG)
            html = report_sections.accuracy_section(evaluation, curves, FINISHED)
        self.assertIn("<td>helmet</td>" + "".join('<td class="num">%s</td>' % value for value in (
            40, 40, 40, "1.000", "0.691", "1.000", "1.000", "1.000")), html)
        self.assertIn("<td>head</td><td class=\"num\">20</td><td class=\"num\">27</td>", html)
        self.assertIn("10 frames; detect threshold 0.05, operating threshold 0.6, IoU 0.5", html)
        self.assertIn("mean AP50 1.000, mean AP50:95 0.623", html)
        self.assertEqual([html.count('alt="%s"' % name) for name in ("pr-head", "pr-helmet", "notes")], [1, 1, 0])


class Readers(unittest.TestCase):
    def test_unreadable_outputs_read_as_nothing(self):
        with tempfile.TemporaryDirectory() as folder:
            cut = os.path.join(folder, "cut")
            with open(cut, "w", encoding="utf-8") as output:
                output.write(recorded.text("helmet-bench.json")[:300])
            self.assertIsNone(read_json(cut))
            self.assertIsNone(read_json(os.path.join(folder, "missing.json")))
            self.assertEqual(read_latencies(os.path.join(folder, "missing.txt")), [])
        self.assertEqual(len(read_latencies(recorded.path("latencies.txt"))), 40)


if __name__ == "__main__":
    unittest.main()
