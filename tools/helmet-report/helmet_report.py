"""helmet-report: runs the contract program, the certification program,
helmet-bench, helmet-eval and helmet-detect on one library and writes one
self-contained HTML page. Exit status: 0 page written and every check ran
(whatever the library's results), 1 the run failed (no page), 2 user error:
before the run (no page), or a page with checks that did not run or skipped."""

import datetime
import json
import os
import sys
import tempfile

import gtest_results
import html_page
import report_sections
from library_identity import loaded_library
from page_file import PageFile
from program_runs import StartFailure, run_program
from progress import Progress
from report_options import (CERTIFICATION, CONTRACT, certification_arguments, check_inputs, check_out, parse_options,
                            staged_problems)
from robustness import robustness_section
from tool_exit import EXIT_DONE, run_tool_main
from verdict import Verdict


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
        self.options, self.work, self.runs = options, work, []
        self.verdict = Verdict()
        certification = os.access(options.certification, os.X_OK)
        evaluation = bool(options.images or options.labels)
        self.progress = Progress(total=3 + certification + evaluation)

    def program(self, name):
        return os.path.join(self.options.programs, name)

    def run(self, name, command, cwd=None):
        self.progress.start(name)
        try:
            run = run_program(command, cwd or self.work, self.options.timeout, self.progress.tick)
        except StartFailure:
            self.progress.finish("cannot start")
            raise
        self.progress.finish(run.outcome())
        self.runs.append((name, run))
        return run

    def test_program(self, anchor, title, program, arguments=()):
        """The section of a GoogleTest program's run, and its outcome and run."""
        json_path = os.path.join(self.work, anchor + ".json")
        run = self.run(os.path.basename(program), [program, "--gtest_output=json:" + json_path] + list(arguments),
                       cwd=self.options.staged)
        suite = gtest_results.read_outcome(json_path, run.stdout)
        self.verdict.tests(title, suite, run)
        return report_sections.tests_section(anchor, title, suite, run), suite, run

    def certification(self):
        """The certification section and its robustness section."""
        title = "Certification program (%s)" % CERTIFICATION
        program = self.options.certification
        if not os.access(program, os.X_OK):
            reason = "no certification program at %s (--certification)" % program
            self.verdict.not_run("Certification program", reason)
            return [report_sections.tests_section("certification", title, None, None, reason),
                    robustness_section(None, "", reason)]
        section, suite, run = self.test_program("certification", title, program,
                                                certification_arguments(self.options))
        reason = "it stopped on a user error" if run.user_error else "it wrote no test report"
        return [section, robustness_section(None if suite.problem else suite, run.stdout, reason)]

    def bench(self):
        json_path, latencies_path = (os.path.join(self.work, name) for name in ("bench.json", "latencies.txt"))
        run = self.run("helmet-bench", [self.program("helmet-bench"), "--model", self.options.model, "--video",
                                        self.options.video, "--frames", self.options.bench_frames, "--json",
                                        json_path, "--latencies", latencies_path])
        bench = read_json(json_path) if run.succeeded else None
        self.verdict.program("helmet-bench", run, bench is not None)
        return bench, report_sections.latency_section(bench, read_latencies(latencies_path), run)

    def evaluation(self):
        options = self.options
        if options.images:
            data = ["--images", options.images]
        elif options.labels:
            data = ["--video", options.video, "--labels", options.labels]
        else:
            reason = "no labelled data (--labels or --images)"
            self.verdict.not_run("helmet-eval", reason)
            return report_sections.accuracy_section(None, None, None, reason)
        data += ["--classes", options.classes] if options.classes else []
        json_path, curves = os.path.join(self.work, "eval.json"), os.path.join(self.work, "curves")
        frames = ["--frames", options.eval_frames] if options.eval_frames else []
        run = self.run("helmet-eval", [self.program("helmet-eval"), "--model", options.model] + data + frames +
                       ["--json", json_path, "--curves", curves])
        evaluation = read_json(json_path) if run.succeeded else None
        self.verdict.program("helmet-eval", run, evaluation is not None)
        return report_sections.accuracy_section(evaluation, curves, run)

    def contact_sheet(self):
        out = os.path.join(self.work, "detect")
        sheet = os.path.join(out, "contact-sheet.png")
        frames = ["--frames", self.options.detect_frames] if self.options.detect_frames else []
        run = self.run("helmet-detect", [self.program("helmet-detect"), "--model", self.options.model, "--out", out]
                       + frames + [self.options.video])
        self.verdict.program("helmet-detect", run, os.path.isfile(sheet))
        return report_sections.contact_sheet_section(sheet, run)

    def page(self):
        options = self.options
        library = loaded_library(self.program(CONTRACT))
        for problem in staged_problems(options.staged):
            self.verdict.incomplete.append(problem)
        sections = [self.test_program("contract", "Contract program (%s)" % CONTRACT, self.program(CONTRACT))[0]]
        sections += self.certification()
        bench, latency = self.bench()
        sections += [latency, self.evaluation(), self.contact_sheet(), report_sections.runs_section(self.runs)]
        paths = [("programs", options.programs), ("model", options.model), ("video", options.video)]
        paths += [(name, path) for name, path in (("labels", options.labels), ("photos", options.photos),
                                                  ("site photos", options.site_photos)) if path]
        sections.insert(0, report_sections.identity_section(library, bench, paths))
        made = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
        header = "<p>%s, made %s.</p>%s" % (html_page.text(library.path or "library unknown"), made,
                                            self.verdict.html())
        return html_page.page("Helmet detector report", header, sections)


def main(argv, launcher_dir):
    return run_tool_main("helmet-report", lambda: run(argv, launcher_dir))


def run(argv, launcher_dir):
    options = parse_options(argv, launcher_dir)
    if options is None:  # the usage was asked for
        return EXIT_DONE
    check_out(options.out)
    with PageFile(options.out) as page_file:  # claimed before anything runs: a page that cannot be written stops here
        check_inputs(options)
        if options.keep:
            os.makedirs(options.keep, exist_ok=True)
            report = Report(options, options.keep)
            html = report.page()
        else:
            with tempfile.TemporaryDirectory(prefix="helmet-report-") as work:
                report = Report(options, work)
                html = report.page()
        page_file.write(html)
    verdict = report.verdict
    print(verdict.line(options.out), file=sys.stderr if verdict.exit_status else sys.stdout)
    return verdict.exit_status
