"""Readers of the training sources, each mapped to our convention: class 0
`helmet` is a head wearing a hard hat (the box covers head and hat), class 1
`head` is a bare head. Labels come back as (cls, cx, cy, w, h) rows in pixels.

Held-out parts are fixed by name, so every run and every tool agree on them:
* Hard Hat Workers: the train photos whose leading number is a multiple of 5.
* Construction Site Safety: whole source photos (its files are up to five
  augmented copies of one source, sharing the name up to `.rf.`), by a hash of
  the source name: 15% `test` (scored once), 15% `held-out` (choices), 70% `fit`.
"""
import hashlib
import os
import shutil

import cv2
import numpy as np

# hard-hat-workers: 0 head, 1 helmet (a head wearing one), 2 person (unused).
HARD_HAT_CLASSES = {1: 0, 0: 1}
# construction-site-safety: 0 Hardhat (the shell), 2 NO-Hardhat (a bare head's top).
SITE_CLASSES = {0: 0, 2: 1}
RENDERED_CLASSES = {0: 0, 1: 1}
# Construction Site Safety boxes cover the top of the head only: a Hardhat box
# the shell, a NO-Hardhat box the crown down to the eyebrows. Both are grown
# down to the chin, about 2.2 times their height (checked by eye on grids of
# its photos). Measured in box heights, the grown box follows the exporter's
# stretching of each image, which a width-based rule would not.
TOP_TO_HEAD = 2.2


def is_hard_hat_held_out(name):
    """The fixed held-out fifth of the Hard Hat Workers train split."""
    digits = name[:len(name) - len(name.lstrip("0123456789"))]
    return bool(digits) and int(digits) % 5 == 0


def site_source(name):
    """The source photo a Construction Site Safety file was made from."""
    return name.split(".rf.")[0]


def site_part(name):
    """`test`, `held-out` or `fit`, by the source photo's name."""
    bucket = int(hashlib.md5(site_source(name).encode()).hexdigest(), 16) % 20
    return "test" if bucket < 3 else "held-out" if bucket < 6 else "fit"


def image_names(root):
    return sorted(f for f in os.listdir(os.path.join(root, "images")) if f.lower().endswith((".jpg", ".png")))


def read_rows(path, class_map, width, height):
    """YOLO lines (boxes or polygons) of the mapped classes, in pixels."""
    rows = []
    if not os.path.exists(path):
        return rows
    with open(path) as f:
        for line in f:
            p = line.split()
            if len(p) < 5 or int(p[0]) not in class_map:
                continue
            v = np.array([float(x) for x in p[1:]], np.float32)
            if len(v) == 4:
                cx, cy, bw, bh = v
            else:  # polygon: its bounding box
                xs, ys = v[0::2], v[1::2]
                cx, cy = (xs.min() + xs.max()) / 2, (ys.min() + ys.max()) / 2
                bw, bh = xs.max() - xs.min(), ys.max() - ys.min()
            rows.append([class_map[int(p[0])], cx * width, cy * height, bw * width, bh * height])
    return rows


def grow_to_chin(rows, height):
    """Boxes on the top of a head become boxes of the whole head: same top and
    width, TOP_TO_HEAD times as tall, clipped to the image."""
    out = []
    for c, cx, cy, w, h in rows:
        top = cy - h / 2
        bottom = min(float(height), top + TOP_TO_HEAD * h)
        out.append([c, cx, (top + bottom) / 2, w, bottom - top])
    return out


def load_folder(root, names, class_map, head_tops=False):
    images, labels = [], []
    for n in names:
        img = cv2.imread(os.path.join(root, "images", n), cv2.IMREAD_COLOR)
        if img is None:
            raise SystemExit(f"cannot read {n}")
        h, w = img.shape[:2]
        rows = read_rows(os.path.join(root, "labels", os.path.splitext(n)[0] + ".txt"), class_map, w, h)
        if head_tops:
            rows = grow_to_chin(rows, h)
        images.append(img)
        labels.append(np.array(rows, np.float32).reshape(-1, 5))
    return images, labels


def hard_hat_names(root, part):
    """part: `fit`, `held-out` or `all` of the Hard Hat Workers train split."""
    names = image_names(root)
    if part != "all":
        names = [n for n in names if is_hard_hat_held_out(n) == (part == "held-out")]
    return names


def site_names(root, part):
    """part: `fit`, `held-out`, `test` or `all` of Construction Site Safety."""
    return [n for n in image_names(root) if part == "all" or site_part(n) == part]


def load_hard_hat(root, part):
    return load_folder(root, hard_hat_names(root, part), HARD_HAT_CLASSES)


def load_site(root, part):
    return load_folder(root, site_names(root, part), SITE_CLASSES, head_tops=True)


def load_rendered(root):
    return load_folder(root, image_names(root), RENDERED_CLASSES)


def load_negatives(root):
    """The hard-negative patches mine_negatives.py wrote: (patch, (x, y, w, h)
    of the thing inside it) each."""
    bank = []
    with open(os.path.join(root, "index.txt")) as f:
        for line in f:
            p = line.split()
            patch = cv2.imread(os.path.join(root, p[0]), cv2.IMREAD_COLOR)
            if patch is None:
                raise SystemExit(f"cannot read {p[0]} in {root}")
            bank.append((patch, tuple(float(v) for v in p[1:5])))
    return bank


def write_yolo(source_root, folder, names, images, labels):
    """Copies the images and writes their labels (our classes, normalised) as a
    YOLO folder, the form helmet-eval reads."""
    os.makedirs(os.path.join(folder, "images"), exist_ok=True)
    os.makedirs(os.path.join(folder, "labels"), exist_ok=True)
    for n, img, lab in zip(names, images, labels):
        h, w = img.shape[:2]
        shutil.copyfile(os.path.join(source_root, "images", n), os.path.join(folder, "images", n))
        with open(os.path.join(folder, "labels", os.path.splitext(n)[0] + ".txt"), "w") as f:
            for c, cx, cy, bw, bh in lab:
                f.write(f"{int(c)} {cx / w:.6f} {cy / h:.6f} {bw / w:.6f} {bh / h:.6f}\n")
