#!/usr/bin/python3
"""Collects hard negatives for training: the places in the training photos
where a model finds a "helmet" with no head there (bottle caps, flowers,
signs, logos), cut out with some of their surroundings.

Only the `fit` parts are read, never the held-out or test ones. Writes one PNG
per negative and `index.txt` with its core box inside the patch (x y w h), the
score and the photo and box it came from, then `sheet.jpg` to check by eye that
no unlabelled heads slipped in."""
import argparse
import os
import sys

import cv2
import numpy as np
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from common import DEFAULT_ARCH, Exported, iou_xywh, letterbox, load_detector, postprocess  # noqa: E402
from datasets import hard_hat_names, load_hard_hat, load_site, read_rows, site_names  # noqa: E402
from train import parse_size  # noqa: E402

SITE_PERSON = 5      # Construction Site Safety's "Person" class
MARGIN = 0.5         # context kept on each side, in box sides
COLOUR_SEEN = 0.3    # --grayscale: a colour detection this sure ...
COLOUR_IOU = 0.2     # ... overlapping a grey find this much drops it


def parse_args(argv=None):
    ap = argparse.ArgumentParser()
    ap.add_argument("--checkpoint", required=True, help="train.py weights to mine with")
    ap.add_argument("--arch", default=DEFAULT_ARCH)
    ap.add_argument("--real", default="", help="Hard Hat Workers train split")
    ap.add_argument("--site", default="", help="Construction Site Safety train folder")
    ap.add_argument("--input", default="544x320")
    ap.add_argument("--threshold", type=float, default=0.3)
    ap.add_argument("--grayscale", action="store_true", help="mine the photos turned grayscale")
    ap.add_argument("--keep", default="", help="write only these negatives (lines `photo x y w h` of index.txt)")
    ap.add_argument("--out", required=True)
    return ap.parse_args(argv)


def clear_of(box, others, grow=0.5):
    """True when `box` (x, y, w, h) does not touch any of `others` grown by
    `grow` of their size on each side."""
    x, y, w, h = box
    for ox, oy, ow, oh in others:
        if (x < ox + ow * (1 + grow) and x + w > ox - ow * grow and
                y < oy + oh * (1 + grow) and y + h > oy - oh * grow):
            return False
    return True


def patch_of(img, box):
    """The box with MARGIN of context, clipped; and the box inside it."""
    x, y, w, h = box
    x0, y0 = max(0, int(x - MARGIN * w)), max(0, int(y - MARGIN * h))
    x1, y1 = min(img.shape[1], int(x + w * (1 + MARGIN))), min(img.shape[0], int(y + h * (1 + MARGIN)))
    return img[y0:y1, x0:x1], (x - x0, y - y0, w, h)


@torch.no_grad()
def detect(network, img, size, threshold):
    blob, s, off = letterbox(img, *size)
    raw = network(torch.from_numpy(blob))[0].numpy()
    return postprocess(raw, s, off, threshold, 0.45, (img.shape[1], img.shape[0]))


def mine(network, names, images, keep_out, size, threshold, grayscale=False):
    found = []
    for name, img, avoid in zip(names, images, keep_out):
        seen_in_colour = []
        if grayscale:
            seen_in_colour = [d[2:] for d in detect(network, img, size, COLOUR_SEEN)]
            img = cv2.cvtColor(cv2.cvtColor(img, cv2.COLOR_BGR2GRAY), cv2.COLOR_GRAY2BGR)
        for c, score, x, y, w, h in detect(network, img, size, threshold):
            box = (x, y, w, h)
            if (c == 0 and w >= 6 and h >= 6 and clear_of(box, avoid) and
                    not any(iou_xywh(box, seen) >= COLOUR_IOU for seen in seen_in_colour)):
                found.append((score, f"{name} {x} {y} {w} {h}") + patch_of(img, box))
    return found


def labelled_boxes(labels):
    return [[(cx - w / 2, cy - h / 2, w, h) for _, cx, cy, w, h in lab] for lab in labels]


def site_people(root, names, images):
    """Every "Person" box of the fit photos: a head may sit in one unlabelled."""
    out = []
    for n, img in zip(names, images):
        rows = read_rows(os.path.join(root, "labels", os.path.splitext(n)[0] + ".txt"), {SITE_PERSON: 0},
                         img.shape[1], img.shape[0])
        out.append([(cx - w / 2, cy - h / 2, w, h) for _, cx, cy, w, h in rows])
    return out


def contact_sheet(found, path, cell=96, columns=16):
    tiles = []
    for score, _, patch, (x, y, w, h) in found:
        tile = cv2.resize(patch, (cell, cell), interpolation=cv2.INTER_AREA)
        sx, sy = cell / patch.shape[1], cell / patch.shape[0]
        cv2.rectangle(tile, (int(x * sx), int(y * sy)), (int((x + w) * sx), int((y + h) * sy)), (0, 255, 0), 1)
        cv2.putText(tile, f"{len(tiles)}", (2, 12), cv2.FONT_HERSHEY_SIMPLEX, 0.4, (255, 255, 255), 1)
        tiles.append(tile)
    while len(tiles) % columns:
        tiles.append(np.zeros((cell, cell, 3), np.uint8))
    rows = [np.hstack(tiles[i:i + columns]) for i in range(0, len(tiles), columns)]
    cv2.imwrite(path, np.vstack(rows))


def main(argv=None):
    args = parse_args(argv)
    size = parse_size(args.input)
    network = Exported(load_detector(args.arch, args.checkpoint), *size).eval()
    found = []
    if args.real:
        names = hard_hat_names(args.real, "fit")
        images, labels = load_hard_hat(args.real, "fit")
        found += mine(network, names, images, labelled_boxes(labels), size, args.threshold, args.grayscale)
        print(f"Hard Hat Workers fit: {len(found)} negatives in {len(images)} photos")
    if args.site:
        names = site_names(args.site, "fit")
        images, labels = load_site(args.site, "fit")
        people = site_people(args.site, names, images)
        before = len(found)
        found += mine(network, names, images, [a + b for a, b in zip(labelled_boxes(labels), people)], size,
                      args.threshold, args.grayscale)
        print(f"Construction Site Safety fit: {len(found) - before} negatives in {len(images)} photos")
    found.sort(key=lambda f: -f[0])
    if args.keep:
        with open(args.keep) as f:
            kept = {line.strip() for line in f if line.strip() and not line.startswith("#")}
        found = [item for item in found if item[1] in kept]
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "index.txt"), "w") as f:
        for i, (score, source, patch, (x, y, w, h)) in enumerate(found):
            cv2.imwrite(os.path.join(args.out, f"{i:04d}.png"), patch)
            f.write(f"{i:04d}.png {x:.1f} {y:.1f} {w:.1f} {h:.1f} {score:.3f} {source}\n")
    contact_sheet(found, os.path.join(args.out, "sheet.jpg"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
