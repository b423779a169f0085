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

    def outcome(self):
        """One line for people: how the program ended."""
        if self.timed_out:
            return "stopped after %.0f s (time limit)" % self.seconds
        if self.exit_code is not None and self.exit_code < 0:
            return "killed by signal %d after %.1f s" % (-self.exit_code, self.seconds)
        return "exit status %d after %.1f s" % (self.exit_code, self.seconds)


def run_program(command, cwd, timeout_s):
    """Runs `command` in `cwd`; its failures are results, only a failed start raises."""
    run = ProgramRun(command=[str(part) for part in command])
    started = time.monotonic()
    try:
        finished = subprocess.run(run.command, cwd=cwd, env=RUN_ENVIRONMENT, capture_output=True,
                                  timeout=timeout_s, stdin=subprocess.DEVNULL)
        run.exit_code = finished.returncode
        run.stdout, run.stderr = _text(finished.stdout), _text(finished.stderr)
    except subprocess.TimeoutExpired as expired:
        run.timed_out = True
        run.stdout, run.stderr = _text(expired.stdout), _text(expired.stderr)
    except OSError as error:
        raise StartFailure("cannot start %s: %s" % (run.command[0], error.strerror)) from error
    run.seconds = time.monotonic() - started
    return run


def _text(data):
    return (data or b"").decode("utf-8", errors="replace")
