"""run_memcheck.py: valgrind's verdict passes through, except where valgrind
cannot run the program at all on this processor, which skips with the reason."""
import os
import stat
import subprocess
import sys
import tempfile
import unittest

RUNNER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "run_memcheck.py")

# What valgrind 3.19 prints where libhwy's initialiser uses an instruction it
# does not know (seen on an AMD EPYC machine), before the program's main.
SIGILL_BEFORE_MAIN = """vex amd64->IR: unhandled instruction bytes: 0x62 0xF2 0x7D 0x48
==1== Process terminating with default action of signal 4 (SIGILL)
==1==    at 0x4B3F2A0: hwy::SupportedTargets() (in /usr/lib/x86_64-linux-gnu/libhwy.so.1.0.3)
"""


class RunMemcheck(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.reason = os.path.join(self.folder.name, "skipped.txt")

    def tearDown(self):
        self.folder.cleanup()

    def fake_valgrind(self, stdout, stderr, status):
        path = os.path.join(self.folder.name, "valgrind")
        with open(path, "w", encoding="utf-8") as handle:
            handle.write("#!/bin/sh\nprintf '%s' \"$OUT\"\nprintf '%s' \"$ERR\" >&2\nexit " + str(status) + "\n")
        os.chmod(path, os.stat(path).st_mode | stat.S_IEXEC)
        environment = dict(os.environ, OUT=stdout, ERR=stderr)
        return subprocess.run([sys.executable, RUNNER, self.reason, path, "--quiet", "--", "program"],
                              capture_output=True, text=True, env=environment)

    def test_sigill_before_main_skips_with_the_reason(self):
        run = self.fake_valgrind("", SIGILL_BEFORE_MAIN, 132)
        self.assertEqual(run.returncode, 77)
        with open(self.reason, encoding="utf-8") as handle:
            reason = handle.read()
        self.assertIn("libhwy.so", reason)
        self.assertIn("0x62 0xF2", reason)

    def test_verdicts_of_a_program_that_ran_pass_through(self):
        self.assertEqual(self.fake_valgrind("Running main() from x\n[==========] 9 tests\n", "", 0).returncode, 0)
        # A memory error found after main started is a failure, even beside a SIGILL.
        started = self.fake_valgrind("Running main() from x\n", SIGILL_BEFORE_MAIN, 1)
        self.assertEqual(started.returncode, 1)
        self.assertFalse(os.path.exists(self.reason))


if __name__ == "__main__":
    unittest.main()
