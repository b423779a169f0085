#!/usr/bin/env python3
"""Builds the contract program against one faulty library, the way a user
builds it against a vendor's library, runs it on the staged assets and checks
that it catches the fault exactly as expected. Writes the outcome as JSON for
the summary."""
import argparse
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "contract"))
from check_contract_run import check, run_program  # noqa: E402
from expectations import SCENARIOS  # noqa: E402


def build_contract_program(source, build, library, include):
    configure = ["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                 "-DHMD_VENDOR_LIBRARY=" + library, "-DHMD_VENDOR_INCLUDE_DIR=" + include]
    for command in (configure, ["cmake", "--build", build, "--target", "HelmetDetectionTest"]):
        completed = subprocess.run(command, capture_output=True, text=True)
        if completed.returncode != 0:
            sys.stdout.write(completed.stdout + completed.stderr)
            return None
    return os.path.join(build, "bin", "HelmetDetectionTest")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--fault", "--source", "--library", "--include", "--build", "--workdir", "--result"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    scenario = SCENARIOS[args.fault]

    program = build_contract_program(args.source, args.build, args.library, args.include)
    if program is None:
        problems = ["the contract program did not build against the faulty library"]
        observed = "build failed"
    else:
        completed, report = run_program(program, args.workdir, timeout=600)
        sys.stdout.write(completed.stdout[-4000:])
        problems = check(scenario, completed, report)
        failing = sorted(n for n, o in scenario["outcomes"].items() if o["result"] == "failed")
        observed = "exit status %d" % completed.returncode

    expected = ("crash in " + scenario["crash_in"] if scenario["crash_in"]
                else "invisible: " + scenario["invisible"] if scenario["invisible"]
                else ", ".join(n.split(".")[1] for n in failing))
    result = {
        "fault": args.fault,
        "expected": expected,
        "invisible": bool(scenario["invisible"]),
        "as_expected": not problems,
        "observed": observed,
        "problems": problems,
    }
    with open(args.result, "w", encoding="utf-8") as handle:
        json.dump(result, handle, indent=1)
    for problem in problems:
        print("MUTANT CHECK FAILED: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
