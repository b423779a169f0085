#!/usr/bin/env python3
"""Runs the certification program once and checks that exactly the expected
tests failed (or that it died inside the expected test) and every other test
passed."""
import re

from check_contract_run import run_program


def run_certification(program, workdir, arguments, timeout):
    """Runs the program once in workdir; never raises for the program's faults."""
    return run_program(program, workdir, timeout, arguments, name="the certification program")


def check_certification(expected, run):
    """expected: {"failing": [Suite.Test, ...], "crash_in": Suite.Test or None}."""
    if run.error:
        return [run.error]
    if expected.get("crash_in"):
        started = re.findall(r"^\[ RUN      \] (\S+)$", run.stdout, re.M)
        finished = set(re.findall(r"^\[ +(?:OK|FAILED|SKIPPED) +\] (\S+) \(", run.stdout, re.M))
        if run.returncode in (0, 1) or not started or started[-1] != expected["crash_in"] \
                or started[-1] in finished:
            return ["certification: expected the program to die inside %s; exit status %s, last test started %s"
                    % (expected["crash_in"], run.returncode, started[-1] if started else None)]
        return []
    if run.report is None:
        return ["certification: no JSON report was written (exit status %s)\n%s"
                % (run.returncode, run.stderr[-2000:])]
    problems = []
    failing = set()
    for suite in run.report["testsuites"]:
        for test in suite["testsuite"]:
            name = suite["name"] + "." + test["name"]
            if test.get("failures"):
                failing.add(name)
            elif test["result"] != "COMPLETED":
                problems.append("certification: %s did not run (%s)" % (name, test["result"]))
    wanted = set(expected.get("failing", []))
    for name in sorted(wanted - failing):
        problems.append("certification: %s should fail and did not" % name)
    for name in sorted(failing - wanted):
        problems.append("certification: %s failed unexpectedly" % name)
    status = 1 if wanted else 0
    if run.returncode != status:
        problems.append("certification: exit status %s, expected %d" % (run.returncode, status))
    return problems


def main():
    """Runs the program on a library that must pass every test, as CTest does
    for ours: once, so that its tests share the decoded video and photos."""
    import argparse
    import sys
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--workdir", required=True)
    args = parser.parse_args()
    run = run_certification(args.program, args.workdir, [], timeout=900)
    sys.stdout.write(run.stdout[-6000:])
    problems = check_certification({"failing": [], "crash_in": None}, run)
    for problem in problems:
        print("CERTIFICATION CHECK FAILED: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    raise SystemExit(main())
