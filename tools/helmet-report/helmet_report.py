"""helmet-report: runs the contract program, the certification program,
helmet-bench, helmet-eval and helmet-detect on one library and writes one
self-contained HTML page. Exit status: 0 page written (whatever the library's
results), 1 the run failed, 2 user error."""

import datetime
import json
import os
import tempfile

import gtest_results
import html_page
import report_sections
from library_identity import loaded_library
from program_runs import run_program
from report_options import CERTIFICATION, CONTRACT, check_inputs, parse_options
from tool_exit import EXIT_DONE, run_tool_main


def read_json(path):
    try:
        with open(path, encoding="utf-8") as report:
            return json.load(report)
    except (OSError, ValueError):
        return None


def read_latencies(path):
    try:
        with open(path, encoding="utf-8") as lines:
            return [float(line) for line in lines if line.strip()]
    except (OSError, ValueError):
        return []


class Report:
    """Runs every program into `work` and collects the page's sections."""

    def __init__(self, options, work):
        self.options, self.work, self.runs, self.failures = options, work, [], []
        self.certified = False  # whether the certification program ran

    def program(self, name):
        return os.path.join(self.options.programs, name)

    def run(self, name, command, cwd=None):
        run = run_program(command, cwd or self.work, self.options.timeout)
        self.runs.append((name, run))
        return run

    def test_program(self, anchor, title, program):
        json_path = os.path.join(self.work, anchor + ".json")
        run = self.run(os.path.basename(program), [program, "--gtest_output=json:" + json_path],
                       cwd=self.options.staged)
        suite = gtest_results.read_outcome(json_path, run.stdout)
        if not suite.passed_all:
            self.failures.append("%s: %s" % (title, suite.problem or "%d failed" % suite.count("failed")))
        elif not run.succeeded:  # e.g. the library crashed the program after its last test
            self.failures.append("%s: no test failed, but %s" % (title, run.outcome()))
        return report_sections.tests_section(anchor, title, suite, run)

    def certification(self):
        title = "Certification program (%s)" % CERTIFICATION
        program = self.options.certification
        if not os.access(program, os.X_OK):
            return report_sections.tests_section("certification", title, None, None,
                                                 "no certification program at %s (--certification)" % program)
        self.certified = True
        return self.test_program("certification", title, program)

    def bench(self):
        json_path, latencies_path = (os.path.join(self.work, name) for name in ("bench.json", "latencies.txt"))
        run = self.run("helmet-bench", [self.program("helmet-bench"), "--model", self.options.model, "--video",
                                        self.options.video, "--frames", self.options.bench_frames, "--json",
                                        json_path, "--latencies", latencies_path])
        bench = read_json(json_path) if run.succeeded else None
        if bench is None:
            self.failures.append("helmet-bench did not finish")
        return bench, report_sections.latency_section(bench, read_latencies(latencies_path), run)

    def evaluation(self):
        options = self.options
        if options.images:
            data = ["--images", options.images]
        elif options.labels:
            data = ["--video", options.video, "--labels", options.labels]
        else:
            return report_sections.accuracy_section(None, None, None, "no labelled data (--labels or --images)")
        data += ["--classes", options.classes] if options.classes else []
        json_path, curves = os.path.join(self.work, "eval.json"), os.path.join(self.work, "curves")
        frames = ["--frames", options.eval_frames] if options.eval_frames else []
        run = self.run("helmet-eval", [self.program("helmet-eval"), "--model", options.model] + data + frames +
                       ["--json", json_path, "--curves", curves])
        evaluation = read_json(json_path) if run.succeeded else None
        if evaluation is None:
            self.failures.append("helmet-eval did not finish")
        return report_sections.accuracy_section(evaluation, curves, run)

    def contact_sheet(self):
        out = os.path.join(self.work, "detect")
        frames = ["--frames", self.options.detect_frames] if self.options.detect_frames else []
        run = self.run("helmet-detect", [self.program("helmet-detect"), "--model", self.options.model, "--out", out]
                       + frames + [self.options.video])
        if not run.succeeded:
            self.failures.append("helmet-detect did not finish")
        return report_sections.contact_sheet_section(os.path.join(out, "contact-sheet.png"), run)

    def page(self):
        options = self.options
        library = loaded_library(self.program(CONTRACT))
        sections = [self.test_program("contract", "Contract program (%s)" % CONTRACT, self.program(CONTRACT)),
                    self.certification()]
        bench, latency = self.bench()
        sections += [latency, self.evaluation(), self.contact_sheet(), report_sections.runs_section(self.runs)]
        paths = [("programs", os.path.abspath(options.programs)), ("model", os.path.abspath(options.model)),
                 ("video", os.path.abspath(options.video))]
        sections.insert(0, report_sections.identity_section(library, bench, paths))
        if self.failures:
            verdict = '<p class="verdict failed">The library fails: %s.</p>' % html_page.text("; ".join(self.failures))
        else:
            verdict = '<p class="verdict passed">The library passed everything that ran.%s</p>' % (
                "" if self.certified else " The certification program did not run.")
        made = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
        header = "<p>%s, made %s.</p>%s" % (html_page.text(library.path or "library unknown"), made, verdict)
        return html_page.page("Helmet detector report", header, sections)


def write_page(path, html):
    temporary = path + ".partial"
    with open(temporary, "w", encoding="utf-8") as page:
        page.write(html)
    os.replace(temporary, path)  # no half-written page under the final name


def main(argv, launcher_dir):
    return run_tool_main("helmet-report", lambda: run(argv, launcher_dir))


def run(argv, launcher_dir):
    options = parse_options(argv, launcher_dir)
    if options is None:  # the usage was asked for
        return EXIT_DONE
    check_inputs(options)
    if options.keep:
        os.makedirs(options.keep, exist_ok=True)
        report = Report(options, options.keep)
        html = report.page()
    else:
        with tempfile.TemporaryDirectory(prefix="helmet-report-") as work:
            report = Report(options, work)
            html = report.page()
    write_page(options.out, html)
    print("helmet-report: wrote %s; %s" % (options.out, "; ".join(report.failures) or "everything passed"))
    return EXIT_DONE
