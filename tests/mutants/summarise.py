#!/usr/bin/env python3
"""Prints the table of faulty libraries and the mutation score of each
program (contract, certification) from the result files that run_mutant.py
wrote."""
import glob
import json
import os
import sys


def outcome(claims, as_expected):
    if claims:
        return "caught" if as_expected else "MISSED"
    return "not seen" if as_expected else "SEEN?"


def main(results_dir, summary_path):
    results = []
    for path in sorted(glob.glob(os.path.join(results_dir, "*", "result.json"))):
        with open(path, encoding="utf-8") as handle:
            results.append(json.load(handle))
    certified = [r for r in results if r.get("certification_run")]
    width = max([len(r["fault"]) for r in results] + [5])
    lines = ["%-*s  %-8s  %-8s  %s" % (width, "fault", "contract", "certif.", "expected failing tests (contract | certification)"),
             "-" * (width + 80)]
    for r in results:
        certification = outcome(r["certification_claims"], r["certification_as_expected"]) \
            if r.get("certification_run") else "-"
        lines.append("%-*s  %-8s  %-8s  %s | %s" % (width, r["fault"], outcome(not r["invisible"], r["as_expected"]),
                                                   certification, r["expected"],
                                                   r.get("certification_expected", "-")))
    lines.append("")
    claimed = [r for r in results if not r["invisible"]]
    lines.append("contract mutation score: %d / %d faults it claims caught exactly as expected (%d faults it cannot see)"
                 % (sum(r["as_expected"] for r in claimed), len(claimed), len(results) - len(claimed)))
    if certified:
        claimed = [r for r in certified if r["certification_claims"]]
        lines.append("certification mutation score: %d / %d faults it claims caught exactly as expected "
                     "(%d faults it does not look for)"
                     % (sum(r["certification_as_expected"] for r in claimed), len(claimed),
                        len(certified) - len(claimed)))
    text = "\n".join(lines) + "\n"
    with open(summary_path, "w", encoding="utf-8") as handle:
        handle.write(text)
    sys.stdout.write(text)
    ok = all(r["as_expected"] and r.get("certification_as_expected", True) for r in results)
    return 0 if results and ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
