#!/usr/bin/python3
"""Scores a model folder on every source with helmet-eval (the shipped library,
through the plugin interface) and prints one markdown row per source and
condition: AP50 per class, AP50 on small objects, precision and recall at the
operating threshold, recall over heads at least 16 px tall, and false helmets
per image on the images that hold no hard hat.

  /usr/bin/python3 tools/training/score_sources.py --model models/ZOR_Helmet \\
      --hard-hat ../shared/datasets/hard-hat-workers --site ../shared/datasets/construction-site-safety \\
      --rendered /tmp/hmd-data/eval --part held-out --work /tmp/hmd-data/score

`--part held-out` scores the parts every choice is made on; `--part test`
the parts scored once, for the published figures."""
import argparse
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from datasets import hard_hat_names, load_site, site_names, write_yolo  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
HARD_HAT_MAP = "1:helmet,0:head"


def site_folder(site_root, part, work):
    """The Construction Site Safety part in our convention, written once."""
    folder = os.path.join(work, f"site-{part}")
    if not os.path.isdir(folder):
        root = os.path.join(site_root, "train")
        write_yolo(root, folder, site_names(root, part), *load_site(root, part))
    return folder


def hard_hat_held_out(hard_hat_root, work):
    """The held-out fifth of the Hard Hat Workers train split, as links."""
    folder = os.path.join(work, "hard-hat-held-out")
    if not os.path.isdir(folder):
        root = os.path.abspath(os.path.join(hard_hat_root, "train"))  # links made here must resolve from there
        for sub in ("images", "labels"):
            os.makedirs(os.path.join(folder, sub))
        for n in hard_hat_names(root, "held-out"):
            stem = os.path.splitext(n)[0]
            os.symlink(os.path.join(root, "images", n), os.path.join(folder, "images", n))
            label = os.path.join(root, "labels", stem + ".txt")
            if os.path.exists(label):
                os.symlink(label, os.path.join(folder, "labels", stem + ".txt"))
    return folder


def runs(args):
    """(row name, helmet-eval arguments) of every source and condition."""
    work = args.work
    out = []
    if args.hard_hat:
        if args.part == "test":
            hh = ["--images", os.path.join(args.hard_hat, "test"), "--classes", HARD_HAT_MAP,
                  "--exclude", os.path.join(args.hard_hat, "test_near_dups_of_train.txt")]
            name = "Hard Hat Workers test split without its near-duplicates"
        else:
            hh = ["--images", hard_hat_held_out(args.hard_hat, work), "--classes", HARD_HAT_MAP]
            name = "Hard Hat Workers held-out fifth of train"
        out += [(name, hh), (name + ", grayscale", hh + ["--grayscale"])]
    if args.site:
        site = ["--images", site_folder(args.site, args.part, work)]
        name = f"Construction Site Safety {args.part} sources"
        out += [(name, site), (name + ", grayscale", site + ["--grayscale"])]
    if args.rendered:
        seeds = {"held-out": ("2001", "1003"), "test": ("2002", "1005")}[args.part]
        far = os.path.join(args.rendered, f"far-{seeds[0]}")
        frames = os.path.join(args.rendered, f"frames-{seeds[1]}")
        if os.path.isdir(far):
            out.append((f"rendered far scenes 1080p (`far --seed {seeds[0]}`)", ["--images", far]))
        if os.path.isdir(frames):
            out.append((f"rendered 1080p frames (`frames --seed {seeds[1]}`)", ["--images", frames]))
    return out


def fmt(value):
    return "-" if value is None else f"{value:.3f}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--model", required=True)
    ap.add_argument("--hard-hat", default="", help="the hard-hat-workers data set folder")
    ap.add_argument("--site", default="", help="the construction-site-safety data set folder")
    ap.add_argument("--rendered", default="", help="folder with far-SEED and frames-SEED renderings")
    ap.add_argument("--part", choices=["held-out", "test"], default="held-out")
    ap.add_argument("--work", default="/tmp/hmd-data/score")
    ap.add_argument("--eval", default=os.path.join(HERE, "..", "..", "build", "bin", "helmet-eval"))
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    print("| data | images | helmet AP50 | head AP50 | helmet / head AP50 small | helmet P / R | head P / R "
          "| head recall, >= 16 px | false helmets per image without hard hats (images) |")
    print("| --- | --- | --- | --- | --- | --- | --- | --- | --- |")
    for k, (name, extra) in enumerate(runs(args)):
        report = os.path.join(args.work, f"{os.path.basename(os.path.normpath(args.model))}-{args.part}-{k}.json")
        subprocess.run([args.eval, "--model", args.model, "--min-height", "16", "--json", report, *extra],
                       check=True, stdout=subprocess.DEVNULL)
        with open(report) as f:
            d = json.load(f)
        c = {x["name"]: x for x in d["classes"]}
        h, b = c["helmet"], c["head"]
        print(f"| {name} | {d['frames']} | {fmt(h['ap50'])} | {fmt(b['ap50'])} "
              f"| {fmt(h['ap50Small'])} / {fmt(b['ap50Small'])} | {fmt(h['precision'])} / {fmt(h['recall'])} "
              f"| {fmt(b['precision'])} / {fmt(b['recall'])} | {fmt(b['recallMinHeight'])} "
              f"| {fmt(d['falseHelmetsPerImageWithoutHelmet'])} ({d['imagesWithoutHelmet']}) |", flush=True)


if __name__ == "__main__":
    main()
