"""helmet-report on fake programs that fail in every way a library can make
them fail: the page must still be written (exit 0) and say what failed, with
the programs' own texts escaped; what skipped or stopped on a user error makes
the page incomplete (exit 2, amber); bad options are user errors (exit 2, no
page), a program that cannot start fails the run (exit 1)."""

import base64
import os
import re
import subprocess
import sys
import tempfile
import textwrap
import unittest

REPORT = os.environ.get("HELMET_REPORT", os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "tools",
                                                      "helmet-report", "helmet-report"))
STAGED_MODEL = r"C:\Programs\DemoAssets\ModelsForTELMAR\ZOR_Helmet(GPU)_v1.0"
STAGED_VIDEO = r"C:\Programs\DemoAssets\Videos\Helmet\HM2.mp4"
FAILURE_TEXT = "t.cpp:10: Failure\nValue of: results.empty() <script>alert(1)</script>"
PNG = base64.b64decode("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==")

# Each fake program, as the body of a Python script; `args` holds its arguments.
FAKES = {
    "HelmetDetectionTest": """
        import json
        path = [a for a in args if a.startswith("--gtest_output=json:")][0].split(":", 1)[1]
        tests = [{"name": "Passes", "result": "COMPLETED", "time": "0.001s"},
                 {"name": "Fails", "result": "COMPLETED", "time": "0.002s", "failures": [{"failure": %r}]}]
        json.dump({"testsuites": [{"name": "HelmetUnitTest", "testsuite": tests}]}, open(path, "w"))
        sys.exit(1)
    """ % FAILURE_TEXT,
    "HelmetCertificationTest": "os.kill(os.getpid(), 11)",
    "helmet-bench": """
        sys.stderr.write("helmet-bench: RunInference returned a box outside the frame\\n")
        sys.exit(1)
    """,
    "helmet-eval": """
        open(os.path.join(os.path.dirname(sys.argv[0]), "eval-arguments.txt"), "w").write("\\n".join(args))
        sys.stderr.write("helmet-eval: RunInference threw on frame 3\\n")
        sys.exit(1)
    """,
    "helmet-detect": """
        out = args[args.index("--out") + 1]
        os.makedirs(out, exist_ok=True)
        open(os.path.join(out, "contact-sheet.png"), "wb").write(%r)
        print("helmet-detect: 1 frame, 0 detections")
    """ % PNG,
}


def write_program(folder, name, body, interpreter="/usr/bin/python3"):
    path = os.path.join(folder, name)
    with open(path, "w") as program:
        program.write("#!%s\nimport os, sys\nargs = sys.argv[1:]\n%s\n" % (interpreter, textwrap.dedent(body)))
    os.chmod(path, 0o755)


class FakeLibrary(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        root = self.folder.name
        self.programs, self.staged = os.path.join(root, "bin"), os.path.join(root, "staged")
        os.makedirs(self.programs)
        os.makedirs(os.path.join(self.staged, STAGED_MODEL))
        open(os.path.join(self.staged, STAGED_VIDEO), "w").close()
        self.labels = os.path.join(root, "labels.txt")
        open(self.labels, "w").close()
        for name, body in FAKES.items():
            write_program(self.programs, name, body)
        self.page = os.path.join(root, "report.html")

    def tearDown(self):
        self.folder.cleanup()

    def report(self, *extra):
        """`extra`: option-value pairs, replacing the defaults' (an option given twice is a user error)."""
        given = {"--programs": self.programs, "--staged": self.staged, "--labels": self.labels, "--out": self.page}
        given.update(zip(extra[::2], extra[1::2]))
        arguments = [part for option in given.items() for part in option]
        return subprocess.run([sys.executable, REPORT] + arguments, capture_output=True, text=True, timeout=120)

    def read_page(self):
        with open(self.page, encoding="utf-8") as page:
            return page.read()

    def test_a_failing_library_still_gets_its_page_saying_what_failed(self):
        run = self.report()
        self.assertEqual(run.returncode, 0, run.stderr)
        page = self.read_page()
        self.assertRegex(page, '<p class="verdict failed">The library fails.</p><ul class="verdict failed">'
                         '<li class="failed">Contract program [(]HelmetDetectionTest[)]: 1 failed '
                         '[(]HelmetUnitTest.Fails[)]</li><li class="failed">Certification program '
                         '[(]HelmetCertificationTest[)]: the program wrote no test report [(]killed by signal 11 '
                         '[^<]*</li><li class="failed">helmet-bench did not finish: exit status 1 [^<]*</li>'
                         '<li class="failed">helmet-eval did not finish: [^<]*</li></ul>')
        self.assertIn("1 passed, 1 failed, 0 skipped (exit status 1", page)
        self.assertIn("HelmetUnitTest.Fails</td><td><span class=\"failed\">failed", page)
        self.assertIn("Value of: results.empty() &lt;script&gt;alert(1)&lt;/script&gt;", page)
        self.assertNotIn("<script>alert", page)
        self.assertIn("killed by signal 11", page)
        self.assertIn("RunInference returned a box outside the frame", page)
        self.assertIn("RunInference threw on frame 3", page)
        self.assertIn("ldd finds no libZORCustomHelmetDetection", page)
        self.assertIn('src="data:image/png;base64,%s"' % base64.b64encode(PNG).decode(), page)
        self.assertIn("helmet-detect: 1 frame, 0 detections", page)
        self.assertRegex(run.stdout, r"\Ahelmet-report: wrote [^\n]*: the library fails: Contract program [^\n]*\n\Z")
        # One plain progress line per program when standard error is no terminal.
        self.assertEqual(re.findall(r"helmet-report: \[(\d)/5\] ([\w-]+) \.\.\.\n", run.stderr),
                         [("1", "HelmetDetectionTest"), ("2", "HelmetCertificationTest"), ("3", "helmet-bench"),
                          ("4", "helmet-eval"), ("5", "helmet-detect")])
        self.assertNotIn("\r", run.stderr)

    def test_skips_user_errors_and_programs_not_run_make_the_page_incomplete(self):
        write_program(self.programs, "HelmetDetectionTest", """
            import json
            path = [a for a in args if a.startswith("--gtest_output=json:")][0].split(":", 1)[1]
            tests = [{"name": "Passes", "result": "COMPLETED", "time": "0.001s"},
                     {"name": "IsSkipped", "result": "SKIPPED", "time": "0s"}]
            json.dump({"testsuites": [{"name": "HelmetUnitTest", "testsuite": tests}]}, open(path, "w"))
            print("[ RUN      ] HelmetUnitTest.IsSkipped\\nt.cpp:20: Skipped\\nno video here\\n\\n"
                  "[  SKIPPED ] HelmetUnitTest.IsSkipped (0 ms)")
        """)
        write_program(self.programs, "HelmetCertificationTest", """
            open(os.path.join(os.path.dirname(sys.argv[0]), "certification-arguments.txt"), "w").write("\\n".join(args))
            sys.stderr.write("HelmetCertificationTest: --photos folder not found: p (see --help)\\n")
            sys.exit(2)
        """)
        for tool in ("helmet-bench", "helmet-eval"):
            write_program(self.programs, tool, """
                sys.stderr.write("%s: cannot load the model in M\\n")
                sys.exit(2)
            """ % tool)
        photos = os.path.join(self.folder.name, "photos")
        os.makedirs(photos)
        run = self.report("--photos", photos)
        self.assertEqual(run.returncode, 2, run.stderr)
        page = self.read_page()
        self.assertIn('<p class="verdict incomplete">Incomplete: no test failed, but not everything was checked', page)
        for item in ("Contract program (HelmetDetectionTest): 1 skipped (HelmetUnitTest.IsSkipped): no video here",
                     "Certification program (HelmetCertificationTest) stopped on a user error: "
                     "HelmetCertificationTest: --photos folder not found: p (see --help)",
                     "helmet-bench stopped on a user error: helmet-bench: cannot load the model in M"):
            self.assertIn('<li class="skipped">%s</li>' % item, page)
        self.assertRegex(run.stderr, r"\nhelmet-report: wrote %s, but it is incomplete: Contract program [^\n]*; "
                         r"helmet-eval stopped on a user error: [^\n]*\n\Z" % re.escape(self.page))
        with open(os.path.join(self.programs, "certification-arguments.txt")) as arguments:
            given = arguments.read().splitlines()
        self.assertEqual([argument.split("=")[0] for argument in given[1:]],
                         ["--model", "--video", "--video-labels", "--photos", "--site-photos"])
        self.assertIn("--photos=" + photos, given)

    def test_a_missing_certification_program_is_shown_as_not_run(self):
        os.remove(os.path.join(self.programs, "HelmetCertificationTest"))
        self.assertEqual(self.report().returncode, 2)
        self.assertIn("Not run: no certification program at %s" % os.path.join(self.programs,
                                                                              "HelmetCertificationTest"),
                      self.read_page())

    def test_without_labelled_data_accuracy_is_not_run(self):
        run = subprocess.run([sys.executable, REPORT, "--programs", self.programs, "--staged", self.staged, "--out",
                              self.page], capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 2, run.stderr)
        self.assertIn("Not run: no labelled data (--labels or --images)", self.read_page())
        self.assertIn("helmet-eval not run: no labelled data", self.read_page())

    def test_a_program_that_crashes_after_passing_every_test_fails_the_library(self):
        write_program(self.programs, "HelmetCertificationTest", """
            import json
            path = [a for a in args if a.startswith("--gtest_output=json:")][0].split(":", 1)[1]
            tests = [{"name": "BoxesLieInsideTheFrame", "result": "COMPLETED", "time": "0.5s"}]
            json.dump({"testsuites": [{"name": "Certification", "testsuite": tests}]}, open(path, "w"))
            sys.stdout.flush()
            os.kill(os.getpid(), 11)
        """)
        self.assertEqual(self.report().returncode, 0)
        page = self.read_page()
        self.assertIn("Certification program (HelmetCertificationTest): no test failed, but killed by signal 11", page)
        self.assertIn('<p class="failed">1 passed, 0 failed, 0 skipped (killed by signal 11', page)

    def test_a_program_past_the_time_limit_is_stopped_and_reported(self):
        write_program(self.programs, "helmet-detect", "import time; time.sleep(60)")
        run = self.report("--timeout", "1")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("helmet-detect did not finish: stopped after 1 s (time limit).", self.read_page())

    def test_labelled_images_and_a_class_map_go_to_helmet_eval(self):
        images = os.path.join(self.folder.name, "photos")
        os.makedirs(images)
        self.assertEqual(self.report("--images", images, "--classes", "1:helmet,0:head").returncode, 0)
        with open(os.path.join(self.programs, "eval-arguments.txt")) as arguments:
            given = arguments.read().splitlines()
        self.assertIn("--images\n%s\n" % images, "\n".join(given) + "\n")
        self.assertIn("--classes\n1:helmet,0:head\n", "\n".join(given) + "\n")
        self.assertNotIn("--labels", given)

    def test_bad_options_are_user_errors_and_write_no_page(self):
        for extra, message in ((["--programs", os.path.join(self.programs, "none")], "no program HelmetDetectionTest"),
                               (["--bench-frames", "0"], "must be a positive integer"),
                               (["--labels", self.labels + ".missing"], "no --labels file"),
                               (["--out", os.path.join(self.page, "x", "r.html")], "for --out"),
                               (["--out", self.programs], "is a folder"),
                               (["--out", "/sys/r.html", "--programs", self.page], "cannot write --out /sys/r.html")):
            with self.subTest(extra=extra):
                run = self.report(*extra)
                self.assertEqual(run.returncode, 2, run.stderr)
                self.assertRegex(run.stderr, r"\Ahelmet-report: [^\n]*%s[^\n]*\n\Z" % re.escape(message))
                self.assertFalse(os.path.exists(self.page))

    def test_help_and_a_repeated_option_end_like_the_cpp_tools(self):
        run = subprocess.run([sys.executable, REPORT, "-?"], capture_output=True, text=True, timeout=60)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        self.assertIn("Usage: helmet-report [options]", run.stdout)
        run = subprocess.run([sys.executable, REPORT, "--out", self.page, "--out", self.page], capture_output=True,
                             text=True, timeout=60)
        self.assertEqual((run.returncode, run.stderr), (2, "helmet-report: option --out is given twice\n"))

    def test_a_program_that_cannot_start_fails_the_run(self):
        write_program(self.programs, "helmet-bench", "", interpreter="/nonexistent/interpreter")
        run = self.report()
        self.assertEqual(run.returncode, 1)
        self.assertRegex(run.stderr, r"\nhelmet-report: cannot start [^\n]*\n\Z")
        self.assertFalse([name for name in os.listdir(self.folder.name) if name.endswith(".partial")])
        self.assertFalse(os.path.exists(self.page))


if __name__ == "__main__":
    unittest.main()
