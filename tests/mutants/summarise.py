#!/usr/bin/env python3
"""Prints the table of faulty libraries and the mutation score from the
result files that run_mutant.py wrote."""
import glob
import json
import os
import sys


def main(results_dir, summary_path):
    results = []
    for path in sorted(glob.glob(os.path.join(results_dir, "*", "result.json"))):
        with open(path, encoding="utf-8") as handle:
            results.append(json.load(handle))
    visible = [r for r in results if not r["invisible"]]
    caught = sum(r["as_expected"] for r in visible)
    width = max([len(r["fault"]) for r in results] + [5])
    lines = ["%-*s  %-9s  %s" % (width, "fault", "outcome", "expected failing tests"),
             "-" * (width + 60)]
    for r in results:
        outcome = ("not seen" if r["as_expected"] else "SEEN?") if r["invisible"] else (
            "caught" if r["as_expected"] else "MISSED")
        lines.append("%-*s  %-9s  %s" % (width, r["fault"], outcome, r["expected"]))
    lines.append("")
    lines.append("mutation score: %d / %d faults caught exactly as expected; %d faults the contract cannot see"
                 % (caught, len(results), len(results) - len(visible)))
    text = "\n".join(lines) + "\n"
    with open(summary_path, "w", encoding="utf-8") as handle:
        handle.write(text)
    sys.stdout.write(text)
    return 0 if results and all(r["as_expected"] for r in results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
