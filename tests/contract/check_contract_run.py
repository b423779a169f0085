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


def run_program(program, workdir, timeout):
    """Returns the completed process and the parsed JSON report, or None."""
    folder = tempfile.mkdtemp(prefix="contract-report-")
    report = os.path.join(folder, "report.json")
    try:
        completed = subprocess.run(
            [os.path.abspath(program), "--gtest_output=json:" + report],
            cwd=workdir, capture_output=True, text=True, timeout=timeout)
        with open(report, encoding="utf-8") as handle:
            data = json.load(handle)
    except (OSError, ValueError):
        data = None
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return completed, data


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


def check_crash(scenario, completed):
    started = re.findall(r"^\[ RUN      \] (\S+)$", completed.stdout, re.M)
    finished = set(re.findall(r"^\[ +(?:OK|FAILED|SKIPPED) +\] (\S+) \(", completed.stdout, re.M))
    problems = []
    if completed.returncode in (0, 1):
        problems.append("the program exited normally with status %d" % completed.returncode)
    if not started or started[-1] != scenario["crash_in"] or started[-1] in finished:
        problems.append("expected the program to die inside %s; last test started: %s"
                        % (scenario["crash_in"], started[-1] if started else None))
    return problems


def check(scenario, completed, report):
    if scenario["crash_in"]:
        return check_crash(scenario, completed)
    if report is None:
        return ["no JSON report was written (exit status %d)\n%s" % (completed.returncode, completed.stderr[-2000:])]
    problems = []
    ran = list(tests_in_order(report))
    names = [name for name, _, _ in ran]
    if names != DECLARED_ORDER:
        problems.append("tests ran in this order: %s" % names)
    skips = skip_messages(completed.stdout)
    for name, result, failures in ran:
        expected = scenario["outcomes"].get(name, {"result": "passed"})
        problems += check_outcome(name, expected, result, failures, skips)
    expected_status = 1 if any(o["result"] == "failed" for o in scenario["outcomes"].values()) else 0
    if completed.returncode != expected_status:
        problems.append("exit status %d, expected %d" % (completed.returncode, expected_status))
    for pattern in scenario["stdout"]:
        if not re.search(pattern, completed.stdout, re.M):
            problems.append("standard output lacks a line matching %r" % pattern)
    if not completed.stdout.startswith("Running main() from "):
        problems.append("standard output does not start with the framework's banner")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--scenario", required=True, choices=sorted(SCENARIOS))
    parser.add_argument("--timeout", type=float, default=600)
    args = parser.parse_args()

    completed, report = run_program(args.program, args.workdir, args.timeout)
    sys.stdout.write(completed.stdout)
    problems = check(SCENARIOS[args.scenario], completed, report)
    for problem in problems:
        print("CONTRACT CHECK FAILED: " + problem)
    if not problems:
        print("contract check passed: scenario %s" % args.scenario)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
