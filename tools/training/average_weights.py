#!/usr/bin/python3
"""Averages the weights of two checkpoints of one body, the second fine-tuned
from the first. Their average mostly scores between the two (not on every
figure: measure it), so it can keep much of what the fine-tune gained and
little of what it lost; the share is chosen on held-out parts with
score_sources.py.

  average_weights.py BASE.pt TUNED.pt --share 0.5 --out AVERAGE.pt"""
import argparse
import sys

import torch


def average(base, tuned, share):
    """(1 - share) * base + share * tuned; counters such as BatchNorm's batch
    count are not weights and are taken from the fine-tune."""
    if base.keys() != tuned.keys() or any(base[k].shape != tuned[k].shape for k in base):
        raise ValueError("the checkpoints hold different bodies")
    return {k: torch.lerp(base[k], tuned[k], share) if base[k].is_floating_point() else tuned[k] for k in base}


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("base")
    ap.add_argument("tuned")
    ap.add_argument("--share", type=float, default=0.5, help="the fine-tune's share, 0 to 1")
    ap.add_argument("--out", required=True)
    args = ap.parse_args(argv)
    if not 0.0 <= args.share <= 1.0:
        ap.error("--share must lie in [0, 1]")
    try:
        result = average(torch.load(args.base, map_location="cpu"), torch.load(args.tuned, map_location="cpu"),
                         args.share)
    except (OSError, RuntimeError, ValueError) as e:
        print(f"average_weights: {e}", file=sys.stderr)
        return 1
    torch.save(result, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
