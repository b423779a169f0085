#!/usr/bin/env python3
"""Runs the contract program once and checks its JSON report, console output
and exit status against the outcome expected in one scenario.

Usage: check_contract_run.py --program EXE --workdir DIR --scenario NAME
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

from expectations import DECLARED_ORDER, SCENARIOS

# CTest's SKIP_RETURN_CODE for a missing working folder.
SKIPPED = 77
# The only failure a "timed" outcome allows.
LATENCY_FAILURE = "Average inference time exceeds 200ms"
# The detector's own report of a failed call: "ZORCustomHMD::Initialize: ...".
OWN_STDERR = re.compile(r"^ZORCustomHMD::[A-Za-z]+: ")


class Run:
    """What one run of the contract program left: exit status (None when it
    could not be started or did not finish), output and the parsed report."""

    def __init__(self, returncode=None, stdout="", stderr="", report=None, error=None):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.report = report
        self.error = error


def _text(data):
    if data is None:
        return ""
    return data.decode("utf-8", "replace") if isinstance(data, bytes) else data


def run_program(program, workdir, timeout, arguments=(), name="the program"):
    """Runs a GoogleTest program once in workdir with its JSON report;
    never raises for the program's faults."""
    folder = tempfile.mkdtemp(prefix="gtest-report-")
    report = os.path.join(folder, "report.json")
    try:
        try:
            completed = subprocess.run(
                [os.path.abspath(program), "--gtest_output=json:" + report] + list(arguments),
                cwd=workdir, capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired as expired:
            return Run(stdout=_text(expired.stdout), stderr=_text(expired.stderr),
                       error="%s did not finish within %g s" % (name, timeout))
        except OSError as error:
            return Run(error="%s could not be started: %s" % (name, error))
        run = Run(completed.returncode, completed.stdout, completed.stderr)
        try:
            with open(report, encoding="utf-8") as handle:
                run.report = json.load(handle)
        except (OSError, ValueError):
            run.report = None
        return run
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def tests_in_order(report):
    for suite in report["testsuites"]:
        for test in suite["testsuite"]:
            failures = [f["failure"] for f in test.get("failures", [])]
            yield suite["name"] + "." + test["name"], test["result"], failures


def skip_messages(stdout):
    """gtest's JSON report omits skip messages; the console shows them."""
    messages = {}
    for block in re.finditer(r"\[ RUN      \] (\S+)\n(.*?)\[  SKIPPED \] \1", stdout, re.S):
        lines = [l for l in block.group(2).splitlines() if l and not l.endswith(": Skipped")]
        messages[block.group(1)] = "\n".join(lines)
    return messages


def check_outcome(name, expected, result, failures, skips):
    kind = expected["result"]
    text = "\n".join(failures)
    if kind == "timed" and (result != "COMPLETED" or any(LATENCY_FAILURE not in f for f in failures)):
        return ["%s should pass or fail only its latency check, got %s:\n%s" % (name, result, text)]
    if kind == "passed" and (result != "COMPLETED" or failures):
        return ["%s should pass, got %s:\n%s" % (name, result, text)]
    if kind == "skipped" and (result != "SKIPPED" or skips.get(name, "").strip() != expected["message"]):
        return ["%s should be skipped with %r, got %s %r" % (name, expected["message"], result, skips.get(name))]
    if kind != "failed":
        return []
    if not failures:
        return ["%s should fail, got %s" % (name, result)]
    problems = ["%s failed without %r in:\n%s" % (name, t, text) for t in expected["texts"] if t not in text]
    if expected["count"] is not None and len(failures) != expected["count"]:
        problems.append("%s failed %d times, expected %d:\n%s" % (name, len(failures), expected["count"], text))
    return problems


def check_crash(scenario, run):
    started = re.findall(r"^\[ RUN      \] (\S+)$", run.stdout, re.M)
    finished = set(re.findall(r"^\[ +(?:OK|FAILED|SKIPPED) +\] (\S+) \(", run.stdout, re.M))
    problems = []
    if run.returncode in (0, 1):
        problems.append("the program exited normally with status %d" % run.returncode)
    if not started or started[-1] != scenario["crash_in"] or started[-1] in finished:
        problems.append("expected the program to die inside %s; last test started: %s"
                        % (scenario["crash_in"], started[-1] if started else None))
    return problems


def foreign_lines(stderr):
    """Standard error lines that are neither the program's nor the detector's
    own one-line reports: warnings of the libraries underneath."""
    return [line for line in stderr.splitlines() if line.strip() and not OWN_STDERR.match(line)]


def check(scenario, run):
    if run.error:
        return [run.error]
    if scenario["crash_in"]:
        return check_crash(scenario, run)
    report = run.report
    if report is None:
        return ["no JSON report was written (exit status %d)\n%s" % (run.returncode, run.stderr[-2000:])]
    problems = []
    ran = list(tests_in_order(report))
    names = [name for name, _, _ in ran]
    if names != [name for name in DECLARED_ORDER if name not in scenario["excluded"]]:
        problems.append("tests ran in this order: %s" % names)
    skips = skip_messages(run.stdout)
    for name, result, failures in ran:
        expected = scenario["outcomes"].get(name, {"result": "passed"})
        problems += check_outcome(name, expected, result, failures, skips)
    slow = any(failures and scenario["outcomes"].get(name, {}).get("result") == "timed" for name, _, failures in ran)
    expected_status = 1 if slow or any(o["result"] == "failed" for o in scenario["outcomes"].values()) else 0
    if run.returncode != expected_status:
        problems.append("exit status %d, expected %d" % (run.returncode, expected_status))
    for pattern in scenario["stdout"]:
        if not re.search(pattern, run.stdout, re.M):
            problems.append("standard output lacks a line matching %r" % pattern)
    if scenario.get("clean_stderr"):
        problems += ["standard error holds a line that is not the program's: %r" % line
                     for line in foreign_lines(run.stderr)]
    if not run.stdout.startswith("Running main() from "):
        problems.append("standard output does not start with the framework's banner")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--scenario", required=True, choices=sorted(SCENARIOS))
    parser.add_argument("--timeout", type=float, default=600)
    args = parser.parse_args()

    if not os.path.isdir(args.workdir):
        print("skipped: no folder %s (stage the assets with the default build first)" % args.workdir)
        return SKIPPED
    scenario = SCENARIOS[args.scenario]
    arguments = ["--gtest_filter=-" + ":".join(scenario["excluded"])] if scenario["excluded"] else []
    run = run_program(args.program, args.workdir, args.timeout, arguments)
    sys.stdout.write(run.stdout)
    sys.stderr.write(run.stderr)
    problems = check(scenario, run)
    for problem in problems:
        print("CONTRACT CHECK FAILED: " + problem)
    if not problems:
        print("contract check passed: scenario %s" % args.scenario)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
