#!/usr/bin/env python3
"""Runs the contract program linked with one faulty library on the staged
assets and checks that it catches the fault exactly as expected, then the
certification program linked with the same library (when given); writes the
outcome of each as JSON for the summary. With --vendor-build it first builds the
contract program and the tools through the vendor-library option, the way a
user tests a vendor's library, and runs that program."""
import argparse
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "contract"))
from check_certification_run import check_certification, run_certification  # noqa: E402
from check_contract_run import check, run_program  # noqa: E402
from expectations import CERTIFICATION, CERTIFICATION_ARGUMENTS, SCENARIOS, certification  # noqa: E402


def run_step(command):
    """Runs one build step; returns a problem or None."""
    try:
        completed = subprocess.run(command, capture_output=True, text=True)
    except OSError as error:
        return "%s could not be started: %s" % (command[0], error)
    if completed.returncode != 0:
        sys.stdout.write(completed.stdout[-6000:] + completed.stderr[-6000:])
        return "%s failed with status %d" % (" ".join(command[:3]), completed.returncode)
    return None


def vendor_build(args):
    """Returns (program, problems)."""
    steps = [
        ["cmake", "-S", args.source, "-B", args.vendor_build, "-DCMAKE_BUILD_TYPE=Release",
         "-DHMD_VENDOR_LIBRARY=" + args.library, "-DHMD_VENDOR_INCLUDE_DIR=" + args.include]
        + (["-DCMAKE_CXX_COMPILER_LAUNCHER=" + args.launcher] if args.launcher else []),
        # What this check runs; the rest of the vendor build compiles the same
        # sources as this build and is left to the user's own build.
        ["cmake", "--build", args.vendor_build, "-j2", "--target", "HelmetDetectionTest", "helmet-bench"],
    ]
    for step in steps:
        problem = run_step(step)
        if problem:
            return None, ["the vendor build failed: " + problem]
    bench = os.path.join(args.vendor_build, "bin", "helmet-bench")
    if os.path.exists(bench):
        problem = run_step([bench, "--model", os.path.join(args.source, "tests", "detector", "models", "v5_basic"),
                            "--synthetic=64x64", "--frames", "3", "--warmup", "1"])
        if problem:
            return None, ["helmet-bench built against the vendor library: " + problem]
    return os.path.join(args.vendor_build, "bin", "HelmetDetectionTest"), []


def expected_text(scenario):
    if scenario["crash_in"]:
        return "crash in " + scenario["crash_in"]
    if scenario["invisible"]:
        return "invisible: " + scenario["invisible"]
    failing = sorted(n for n, o in scenario["outcomes"].items() if o["result"] == "failed")
    return ", ".join(n.split(".")[1] for n in failing)


def certification_text(expected):
    if expected["crash_in"]:
        return "crash in " + expected["crash_in"]
    return ", ".join(sorted(n.split(".")[1] for n in expected["failing"])) or "nothing"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fault", required=True, choices=sorted(SCENARIOS))
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--program", help="the contract program linked with the faulty library")
    parser.add_argument("--result", help="where to write the outcome for the summary")
    parser.add_argument("--certification", help="the certification program linked with the faulty library")
    parser.add_argument("--vendor-build", help="build folder for the vendor-option build")
    for option in ("--source", "--library", "--include"):
        parser.add_argument(option, help="with --vendor-build")
    parser.add_argument("--launcher", help="with --vendor-build: the compiler launcher of this build (a cache)")
    args = parser.parse_args()
    scenario = SCENARIOS[args.fault]

    if args.vendor_build:
        if not (args.source and args.library and args.include):
            parser.error("--vendor-build needs --source, --library and --include")
        program, problems = vendor_build(args)
    elif args.program:
        program, problems = args.program, []
    else:
        parser.error("give --program or --vendor-build")

    observed = "not run"
    if program and not problems:
        run = run_program(program, args.workdir, timeout=600)
        sys.stdout.write(run.stdout[-4000:])
        problems = check(scenario, run)
        observed = run.error or "exit status %d" % run.returncode

    certification_expected = CERTIFICATION.get(args.fault, certification())
    certification_problems = []
    if args.certification:
        run = run_certification(args.certification, args.workdir, CERTIFICATION_ARGUMENTS, timeout=600)
        sys.stdout.write(run.stdout[-4000:])
        certification_problems = check_certification(certification_expected, run)

    if args.result:
        result = {
            "fault": args.fault,
            "expected": expected_text(scenario),
            "invisible": bool(scenario["invisible"]),
            "as_expected": not problems,
            "observed": observed,
            "problems": problems,
            "certification_run": bool(args.certification),
            "certification_expected": certification_text(certification_expected),
            "certification_claims": bool(certification_expected["failing"] or certification_expected["crash_in"]),
            "certification_as_expected": not certification_problems,
            "certification_problems": certification_problems,
        }
        os.makedirs(os.path.dirname(args.result), exist_ok=True)
        with open(args.result, "w", encoding="utf-8") as handle:
            json.dump(result, handle, indent=1)
    for problem in problems + certification_problems:
        print("MUTANT CHECK FAILED: " + problem)
    return 1 if problems or certification_problems else 0


if __name__ == "__main__":
    sys.exit(main())
