"""Running the programs the report is made of, and what each run left behind."""

import os
import subprocess
import time
from dataclasses import dataclass

from tool_exit import RunFailure

# GStreamer cannot open the staged video's file name and would warn before
# OpenCV's own reader opens it (the contract program's own run does the same).
RUN_ENVIRONMENT = dict(os.environ, OPENCV_VIDEOIO_PRIORITY_GSTREAMER="0")


class StartFailure(RunFailure):
    """A program could not be started at all: the report cannot be made."""


@dataclass
class ProgramRun:
    command: list
    exit_code: int = None  # None: killed at the time limit
    seconds: float = 0.0
    stdout: str = ""
    stderr: str = ""
    timed_out: bool = False

    @property
    def succeeded(self):
        return self.exit_code == 0

    @property
    def user_error(self):
        """The program's own verdict: something the user can fix (the tools' exit status 2)."""
        return self.exit_code == 2 and not self.timed_out

    def reason(self):
        """The program's last line of error output (its one-line reason), else how it ended."""
        lines = [line.strip() for line in self.stderr.splitlines() if line.strip()]
        return lines[-1] if lines else self.outcome()

    def outcome(self):
        """One line for people: how the program ended."""
        if self.timed_out:
            return "stopped after %.0f s (time limit)" % self.seconds
        if self.exit_code is not None and self.exit_code < 0:
            return "killed by signal %d after %.1f s" % (-self.exit_code, self.seconds)
        return "exit status %d after %.1f s" % (self.exit_code, self.seconds)


def run_program(command, cwd, timeout_s, tick=None):
    """Runs `command` in `cwd`; its failures are results, only a failed start
    raises. `tick(seconds)` is called about once a second while it runs."""
    run = ProgramRun(command=[str(part) for part in command])
    started = time.monotonic()
    try:
        process = subprocess.Popen(run.command, cwd=cwd, env=RUN_ENVIRONMENT, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    except OSError as error:
        raise StartFailure("cannot start %s: %s" % (run.command[0], error.strerror)) from error
    with process:
        while True:
            left = timeout_s - (time.monotonic() - started)
            try:
                stdout, stderr = process.communicate(timeout=max(0.0, min(1.0, left)))
                run.exit_code = process.returncode
                break
            except subprocess.TimeoutExpired:
                if left <= 1.0:
                    process.kill()
                    stdout, stderr = process.communicate()
                    run.timed_out = True
                    break
                if tick:
                    tick(time.monotonic() - started)
    run.stdout, run.stderr = _text(stdout), _text(stderr)
    run.seconds = time.monotonic() - started
    return run


def _text(data):
    return (data or b"").decode("utf-8", errors="replace")
