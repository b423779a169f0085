"""helmet-report's command line and how it ends: the C++ tools' rules
(CommandLine.h, ToolExit.h)."""

import contextlib
import io
import os
import tempfile
import unittest

import recorded  # noqa: F401 (puts helmet-report's modules on the path)
import report_options
from progress import Progress
from report_options import STAGED_MODEL, certification_arguments, parse_options
from tool_exit import RunFailure, UserError, run_tool_main


class CommandLine(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.launcher_dir = folder.name  # a checkout-like launcher folder: --staged has a default

    def parse(self, *argv):
        return parse_options(list(argv), self.launcher_dir)

    def assertUserError(self, argv, message):
        with self.assertRaises(UserError) as raised:
            self.parse(*argv)
        self.assertIn(message, str(raised.exception))

    def test_values_with_equals_or_apart_one_dash_or_two(self):
        options = self.parse("--bench-frames=40", "-timeout", "5", "--staged", "s", "--classes=1:helmet")
        self.assertEqual((options.bench_frames, options.timeout, options.eval_frames), (40, 5, None))
        self.assertEqual(options.staged, os.path.abspath("s"))
        self.assertEqual(options.model, os.path.join(os.path.abspath("s"), STAGED_MODEL))
        self.assertEqual(options.classes, "1:helmet")
        self.assertEqual(options.out, os.path.abspath("helmet-report.html"))

    def test_an_option_given_twice_is_a_user_error(self):
        for argv in (["--out", "a.html", "--out", "b.html"], ["--out=a.html", "-out=a.html"]):
            with self.subTest(argv=argv):
                self.assertUserError(argv, "option --out is given twice")

    def test_unknown_options_abbreviations_and_stray_arguments_are_user_errors(self):
        self.assertUserError(["--colour", "red"], "unknown option '--colour'")
        self.assertUserError(["--bench", "40"], "unknown option '--bench'")
        self.assertUserError(["--help=yes"], "unknown option '--help=yes'")
        self.assertUserError(["--out", "a.html", "extra"], "unexpected argument 'extra'")

    def test_missing_or_bad_values_are_user_errors(self):
        self.assertUserError(["--out"], "option --out needs a value")
        self.assertUserError(["--keep", "--out", "a.html"], "option --keep needs a value")
        self.assertUserError(["--out="], "option --out needs a value")
        for value in ("0", "-3", "ten"):
            self.assertUserError(["--timeout", value], "--timeout must be a positive integer, not '%s'" % value)

    def test_help_prints_every_option_and_reads_nothing_else(self):
        for spelling in ("--help", "-h", "-?"):
            with self.subTest(spelling=spelling):
                printed = io.StringIO()
                with contextlib.redirect_stdout(printed):
                    self.assertIsNone(self.parse("--timeout", "0", spelling))
                for option in report_options.OPTIONS:
                    self.assertIn("--%s %s" % (option.name, option.value), printed.getvalue())

    def test_the_certification_program_gets_the_tools_data_and_the_photo_samples_that_exist(self):
        photos = os.path.join(self.launcher_dir, "photos")
        os.makedirs(photos)
        options = self.parse("--staged", "s", "--labels", "l.txt", "--photos", photos)
        self.assertIsNone(options.site_photos)  # no checkout sample beside this launcher: the program's own default
        self.assertEqual(certification_arguments(options), [
            "--model=" + options.model, "--video=" + options.video, "--video-labels=" + os.path.abspath("l.txt"),
            "--photos=" + photos])

    def test_a_staged_folder_without_the_contract_s_names_is_named(self):
        staged = os.path.join(self.launcher_dir, "staged")
        os.makedirs(os.path.join(staged, STAGED_MODEL))
        self.assertEqual(report_options.staged_problems(staged), [
            "the --staged folder %s has no video under the contract program's name" % staged])
        open(os.path.join(staged, report_options.STAGED_VIDEO), "w").close()
        self.assertEqual(report_options.staged_problems(staged), [])

    def test_installed_the_staged_folder_must_be_given(self):
        open(os.path.join(self.launcher_dir, report_options.CONTRACT), "w").close()
        self.assertUserError([], "give --staged")
        self.assertEqual(self.parse("--staged", "s").programs, self.launcher_dir)

    def test_installed_the_package_labels_go_with_the_package_video_only(self):
        bin_dir = os.path.join(self.launcher_dir, "bin")
        video_dir = os.path.join(self.launcher_dir, "share", "ZORCustomHelmetDetection", "video")
        staged = os.path.join(self.launcher_dir, "staged")
        for folder in (bin_dir, video_dir, staged):
            os.makedirs(folder)
        for name in (os.path.join(bin_dir, report_options.CONTRACT), os.path.join(video_dir, "HM2.avi"),
                     os.path.join(video_dir, "HM2-labels.txt"), os.path.join(staged, "other.mp4")):
            open(name, "w").close()
        os.symlink(os.path.join(video_dir, "HM2.avi"), os.path.join(staged, report_options.STAGED_VIDEO))
        options = parse_options(["--staged", staged], bin_dir)
        self.assertEqual(options.labels, os.path.join(video_dir, "HM2-labels.txt"))
        other = parse_options(["--staged", staged, "--video", os.path.join(staged, "other.mp4")], bin_dir)
        self.assertIsNone(other.labels)


class Ending(unittest.TestCase):
    def end(self, body):
        stderr = io.StringIO()
        with contextlib.redirect_stderr(stderr):
            return run_tool_main("helmet-report", body), stderr.getvalue()

    def test_exit_status_and_one_line_for_each_way_to_stop(self):
        def raising(error):
            def body():
                raise error
            return body
        self.assertEqual(self.end(lambda: 0), (0, ""))
        self.assertEqual(self.end(raising(UserError("no video v.mp4"))), (2, "helmet-report: no video v.mp4\n"))
        self.assertEqual(self.end(raising(RunFailure("cannot start x"))), (1, "helmet-report: cannot start x\n"))
        self.assertEqual(self.end(raising(KeyError("latency_ms"))), (1, "helmet-report: KeyError: 'latency_ms'\n"))


    def test_a_progress_line_per_program_rewritten_only_on_a_terminal(self):
        for terminal in (False, True):
            stream = io.StringIO()
            progress = Progress(2, stream, terminal)
            for name in ("HelmetDetectionTest", "helmet-bench"):
                progress.start(name)
                progress.tick(12.4)
                progress.finish("exit status 0 after 12.5 s")
            lines = stream.getvalue().split("\n")
            if terminal:
                self.assertEqual([line.split("\r")[-1].rstrip() for line in lines], [
                    "helmet-report: [1/2] HelmetDetectionTest: exit status 0 after 12.5 s",
                    "helmet-report: [2/2] helmet-bench: exit status 0 after 12.5 s", ""])
                self.assertIn("\rhelmet-report: [2/2] helmet-bench ... 12 s", lines[1])
            else:
                self.assertEqual(lines, ["helmet-report: [1/2] HelmetDetectionTest ...",
                                         "helmet-report: [2/2] helmet-bench ...", ""])


if __name__ == "__main__":
    unittest.main()
