#!/usr/bin/python3
"""Train the helmet/head detector on helmet-render images, export ONNX and
the model manifest, and check the export through OpenCV DNN.

  /usr/bin/python3 tools/training/train.py --data /tmp/hmd-data/train \
      --out models/ZOR_Helmet --video /tmp/hmd-data/HM2.mp4
"""
import argparse
import math
import os
import random
import sys
import time

import cv2
import numpy as np
import torch
import torch.nn.functional as F

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from common import (ARCHS, CLASSES, DEFAULT_ARCH, NET_H, NET_W, PAD_VALUE, STRIDE, Detector,  # noqa: E402
                    Exported, decode_raw, inherit_weights, letterbox, load_detector, match_counts,
                    postprocess)

MODEL_VERSION = "2.0"
MANIFEST = """%YAML:1.0
---
format_version: 1
model_version: "{version}"
onnx_file: "helmet.onnx"
input_width: {w}
input_height: {h}
layout: "yolov5"
classes: [ "helmet", "head" ]
nms_iou: {iou}
pad_value: {pad}
"""


def load_dataset(root):
    """helmet-render dataset (YOLO labels, our class order): images and
    (cls, cx, cy, w, h) rows in pixels."""
    return load_yolo(root, "all", {0: 0, 1: 1})


# hard-hat-workers classes: 0 head, 1 helmet (a head wearing one), 2 person (unused).
REAL_CLASS_MAP = {1: 0, 0: 1}


def is_held_out(name):
    """The fixed held-out fifth of the real train split: photos whose leading
    number is a multiple of 5 (000005_jpg..., 000010_jpg...)."""
    digits = name[:len(name) - len(name.lstrip("0123456789"))]
    return bool(digits) and int(digits) % 5 == 0


def load_yolo(root, part, class_map):
    """A YOLO folder (images/, labels/ with normalised 'class cx cy w h' or
    polygon lines): part "fit" (not held out), "held-out" or "all". Labels
    become pixel rows in our class order; unmapped classes are dropped."""
    names = sorted(f for f in os.listdir(os.path.join(root, "images")) if f.lower().endswith((".jpg", ".png")))
    if part != "all":
        names = [n for n in names if is_held_out(n) == (part == "held-out")]
    images, labels = [], []
    for n in names:
        img = cv2.imread(os.path.join(root, "images", n), cv2.IMREAD_COLOR)
        if img is None:
            raise SystemExit(f"cannot read {n}")
        h, w = img.shape[:2]
        rows = []
        path = os.path.join(root, "labels", os.path.splitext(n)[0] + ".txt")
        if os.path.exists(path):
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
                    rows.append([class_map[int(p[0])], cx * w, cy * h, bw * w, bh * h])
        images.append(img)
        labels.append(np.array(rows, np.float32).reshape(-1, 5))
    return images, labels


def clip_labels(lab, w, h, min_visible=0.5):
    """Clip (cls, cx, cy, bw, bh) rows to the image, dropping mostly hidden ones."""
    if len(lab) == 0:
        return lab
    x0 = lab[:, 1] - lab[:, 3] / 2
    y0 = lab[:, 2] - lab[:, 4] / 2
    x1 = x0 + lab[:, 3]
    y1 = y0 + lab[:, 4]
    cx0, cy0 = np.clip(x0, 0, w), np.clip(y0, 0, h)
    cx1, cy1 = np.clip(x1, 0, w), np.clip(y1, 0, h)
    area = lab[:, 3] * lab[:, 4]
    vis = np.maximum(cx1 - cx0, 0) * np.maximum(cy1 - cy0, 0)
    keep = (vis >= min_visible * area) & (cx1 - cx0 >= 2) & (cy1 - cy0 >= 2)
    out = np.stack([lab[:, 0], (cx0 + cx1) / 2, (cy0 + cy1) / 2, cx1 - cx0, cy1 - cy0], 1)
    return out[keep]


def augment(img, lab, crop, rng):
    """A rendered square image: mild scale jitter (it is drawn at the
    detector's scale already), then the shared placement and colour steps."""
    lab = lab.copy()
    if rng.random() < 0.5:
        f = math.exp(rng.uniform(math.log(0.8), math.log(1.25)))
        size = max(8, int(round(img.shape[1] * f)))
        f = size / img.shape[1]
        img = cv2.resize(img, (size, size), interpolation=cv2.INTER_AREA if f < 1 else cv2.INTER_LINEAR)
        lab[:, 1:] *= f
    return place(img, lab, crop, rng)


def augment_real(img, lab, crop, rng, scale_range):
    """A real photo: scaled as the detector's letterbox would scale it, times
    a log-uniform jitter (down to small, distant heads), then placed."""
    lab = lab.copy()
    h, w = img.shape[:2]
    f = min(NET_W / w, NET_H / h) * math.exp(rng.uniform(math.log(scale_range[0]), math.log(scale_range[1])))
    size = (max(8, int(round(w * f))), max(8, int(round(h * f))))
    img = cv2.resize(img, size, interpolation=cv2.INTER_AREA if f < 1 else cv2.INTER_LINEAR)
    lab[:, 1] *= size[0] / w
    lab[:, 3] *= size[0] / w
    lab[:, 2] *= size[1] / h
    lab[:, 4] *= size[1] / h
    return place(img, lab, crop, rng)


def place(img, lab, crop, rng):
    """Random crop window (or padding around a small image), the letterbox's
    grey band, flip, colour and blur."""
    h, w = img.shape[:2]
    out = np.full((crop, crop, 3), PAD_VALUE if rng.random() < 0.5 else rng.randint(0, 255), np.uint8)
    # Random placement of the image relative to the crop window.
    dx = rng.randint(min(0, crop - w), max(0, crop - w))
    dy = rng.randint(min(0, crop - h), max(0, crop - h))
    sx0, sy0 = max(0, -dx), max(0, -dy)
    tx0, ty0 = max(0, dx), max(0, dy)
    cw, ch = min(w - sx0, crop - tx0), min(h - sy0, crop - ty0)
    out[ty0:ty0 + ch, tx0:tx0 + cw] = img[sy0:sy0 + ch, sx0:sx0 + cw]
    lab[:, 1] += dx
    lab[:, 2] += dy
    if rng.random() < 0.25:  # the letterbox's grey band
        band = 6
        if rng.random() < 0.5:
            out[:band] = PAD_VALUE
            lab = shift_clip(lab, crop, top=band)
        else:
            out[crop - band:] = PAD_VALUE
            lab = shift_clip(lab, crop, bottom=crop - band)
    lab = clip_labels(lab, crop, crop)
    if rng.random() < 0.5:
        out = out[:, ::-1]
        lab[:, 1] = crop - lab[:, 1]
    if rng.random() < 0.8:
        hsv = cv2.cvtColor(np.ascontiguousarray(out), cv2.COLOR_BGR2HSV).astype(np.float32)
        hsv[..., 0] = (hsv[..., 0] + rng.uniform(-4, 4)) % 180
        hsv[..., 1] *= rng.uniform(0.6, 1.4)
        hsv[..., 2] *= rng.uniform(0.6, 1.4)
        out = cv2.cvtColor(np.clip(hsv, 0, 255).astype(np.uint8), cv2.COLOR_HSV2BGR)
    if rng.random() < 0.15:  # out-of-focus or compressed camera footage
        out = cv2.GaussianBlur(np.ascontiguousarray(out), (0, 0), rng.uniform(0.5, 1.2))
    return np.ascontiguousarray(out), lab


def shift_clip(lab, crop, top=0, bottom=None):
    """Clip boxes to rows [top, bottom) as if the rest were padding."""
    if len(lab) == 0:
        return lab
    bottom = crop if bottom is None else bottom
    sub = lab.copy()
    sub[:, 2] -= top
    sub = clip_labels(sub, crop, bottom - top)
    sub[:, 2] += top
    return sub


def build_targets(labels, grid):
    """YOLOv5-style assignment: the centre cell and its two nearest
    neighbours predict each box; a cell shared by two boxes keeps the smaller."""
    b = len(labels)
    obj = np.zeros((b, grid, grid), np.float32)
    box = np.zeros((b, grid, grid, 4), np.float32)
    cls = np.zeros((b, grid, grid), np.int64)
    area = np.full((b, grid, grid), np.inf, np.float32)
    for n, lab in enumerate(labels):
        for c, cx, cy, w, h in lab:
            gx, gy = cx / STRIDE, cy / STRIDE
            i, j = int(gx), int(gy)
            cells = [(i, j), (i - 1 if gx - i < 0.5 else i + 1, j), (i, j - 1 if gy - j < 0.5 else j + 1)]
            for ci, cj in cells:
                if 0 <= ci < grid and 0 <= cj < grid and w * h < area[n, cj, ci]:
                    obj[n, cj, ci] = 1.0
                    box[n, cj, ci] = (cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2)
                    cls[n, cj, ci] = int(c)
                    area[n, cj, ci] = w * h
    return torch.from_numpy(obj), torch.from_numpy(box), torch.from_numpy(cls)


def giou(a, b):
    """a, b [N,4] x1y1x2y2."""
    iw = (torch.min(a[:, 2], b[:, 2]) - torch.max(a[:, 0], b[:, 0])).clamp(min=0)
    ih = (torch.min(a[:, 3], b[:, 3]) - torch.max(a[:, 1], b[:, 1])).clamp(min=0)
    inter = iw * ih
    area_a = (a[:, 2] - a[:, 0]) * (a[:, 3] - a[:, 1])
    area_b = (b[:, 2] - b[:, 0]) * (b[:, 3] - b[:, 1])
    union = area_a + area_b - inter + 1e-7
    cw = torch.max(a[:, 2], b[:, 2]) - torch.min(a[:, 0], b[:, 0])
    ch = torch.max(a[:, 3], b[:, 3]) - torch.min(a[:, 1], b[:, 1])
    hull = cw * ch + 1e-7
    return inter / union - (hull - union) / hull


def compute_loss(raw, obj_t, box_t, cls_t):
    xy, wh, _, _ = decode_raw(raw)
    pred = torch.cat([xy - wh / 2, xy + wh / 2], 1).permute(0, 2, 3, 1)  # B,G,G,4
    pos = obj_t > 0
    lobj = F.binary_cross_entropy_with_logits(raw[:, 4], obj_t)
    if pos.any():
        lbox = (1.0 - giou(pred[pos], box_t[pos])).mean()
        logits = raw[:, 5:].permute(0, 2, 3, 1)[pos]
        lcls = F.binary_cross_entropy_with_logits(logits, F.one_hot(cls_t[pos], len(CLASSES)).float())
    else:
        lbox = lcls = raw.sum() * 0.0
    return lbox + 10.0 * lobj + 0.5 * lcls, (lbox.item(), lobj.item(), lcls.item())


def distillation_loss(raw, teacher_raw):
    """Pulls the student towards a trained teacher's outputs on the same
    crops: objectness and class probabilities everywhere, box logits where
    the teacher sees an object."""
    soft = torch.sigmoid(teacher_raw[:, 4:])
    lscores = F.binary_cross_entropy_with_logits(raw[:, 4:], soft)
    weight = soft[:, 0:1]
    lbox = ((raw[:, :4] - teacher_raw[:, :4]).abs() * weight).sum() / weight.sum().clamp(min=1.0)
    return 10.0 * lscores + lbox


def to_tensor(batch):
    x = np.stack(batch)[..., ::-1].transpose(0, 3, 1, 2).astype(np.float32) / 255.0
    return torch.from_numpy(np.ascontiguousarray(x))


def monitor_set(images, labels, size):
    """Letterboxed held-out photos and their boxes in network-input pixels,
    for the per-epoch progress printout only (figures come from helmet-eval)."""
    blobs, boxes = [], []
    for img, lab in zip(images, labels):
        blob, s, (ox, oy) = letterbox(img, size[0], size[1])
        blobs.append(torch.from_numpy(blob[0]))
        boxes.append([(int(c), (cx - w / 2) * s + ox, (cy - h / 2) * s + oy, w * s, h * s) for c, cx, cy, w, h in lab])
    return blobs, boxes


@torch.no_grad()
def validate(model, blobs, boxes, threshold=0.6, iou=0.45):
    model.eval()
    tp = np.zeros(len(CLASSES), int)
    fp = np.zeros(len(CLASSES), int)
    fn = np.zeros(len(CLASSES), int)
    for k in range(0, len(blobs), 32):
        xy, wh, obj, cls = decode_raw(model(torch.stack(blobs[k:k + 32])))
        rows = torch.cat([xy, wh, obj, cls], 1).flatten(2).permute(0, 2, 1).numpy()
        for r, gts in zip(rows, boxes[k:k + 32]):
            a, b, c = match_counts(postprocess(r, 1.0, (0, 0), threshold, iou), gts, len(CLASSES))
            tp += a
            fp += b
            fn += c
    model.train()
    prec = tp / np.maximum(tp + fp, 1)
    rec = tp / np.maximum(tp + fn, 1)
    return prec, rec


class Ema:
    def __init__(self, model):
        self.model = Detector(model.arch)
        self.model.load_state_dict(model.state_dict())
        self.model.eval()
        self.updates = 0

    @torch.no_grad()
    def update(self, model):
        self.updates += 1
        d = 0.998 * (1 - math.exp(-self.updates / 300.0))
        msd = model.state_dict()
        for k, v in self.model.state_dict().items():
            if v.dtype.is_floating_point:
                v.mul_(d).add_(msd[k].detach(), alpha=1 - d)
            else:
                v.copy_(msd[k])


def export(model, out_dir, nms_iou, video, size=(NET_W, NET_H)):
    os.makedirs(out_dir, exist_ok=True)
    onnx_path = os.path.join(out_dir, "helmet.onnx")
    NET_W, NET_H = size  # noqa: N806 (the input of this export)
    exp = Exported(model.eval(), NET_W, NET_H).eval()
    dummy = torch.zeros(1, 3, NET_H, NET_W)
    torch.onnx.export(exp, dummy, onnx_path, opset_version=12, input_names=["images"], output_names=["output"],
                      do_constant_folding=True)
    with open(os.path.join(out_dir, "model.yml"), "w") as f:
        f.write(MANIFEST.format(version=MODEL_VERSION, w=NET_W, h=NET_H, iou=nms_iou, pad=PAD_VALUE))
    print(f"exported {onnx_path} ({os.path.getsize(onnx_path)} bytes)")

    net = cv2.dnn.readNetFromONNX(onnx_path)
    grey = np.full((1080, 1920, 3), 128, np.uint8)
    inputs = [np.random.RandomState(0).rand(1, 3, NET_H, NET_W).astype(np.float32), letterbox(grey, NET_W, NET_H)[0]]
    frames = []
    if video:
        cap = cv2.VideoCapture(video)
        for _ in range(300):
            ok, fr = cap.read()
            if not ok:
                break
            frames.append(fr)
        inputs += [letterbox(fr, NET_W, NET_H)[0] for fr in frames[:3]]
    worst = 0.0
    for blob in inputs:
        net.setInput(blob)
        o = net.forward()
        with torch.no_grad():
            t = exp(torch.from_numpy(blob)).numpy()
        if o.shape != (1, (NET_H // STRIDE) * (NET_W // STRIDE), 5 + len(CLASSES)):
            raise SystemExit(f"unexpected OpenCV output shape {o.shape}")
        worst = max(worst, float(np.abs(o - t).max()))
    print(f"OpenCV vs torch max abs diff over {len(inputs)} inputs: {worst:.2e}")
    if worst > 1e-2:
        raise SystemExit("OpenCV DNN output differs from torch")

    def detect(frame):
        blob, s, off = letterbox(frame, NET_W, NET_H)
        net.setInput(blob)
        return postprocess(net.forward()[0], s, off, 0.6, nms_iou, (frame.shape[1], frame.shape[0]))

    for level in range(0, 256, 5):
        if detect(np.full((1080, 1920, 3), level, np.uint8)):
            raise SystemExit(f"detections on a plain grey {level} frame")
    print("plain grey frames 0..255 (every 5th level): no detection at 0.6")
    if frames:
        counts = [len(detect(fr)) for fr in frames]
        with_det = sum(1 for c in counts if c > 0)
        print(f"video: {with_det}/{len(frames)} frames with detections, first 10 frames: {counts[:10]}")
        if with_det == 0:
            raise SystemExit("no detections on the rendered video")


def parse_size(text):
    w, h = (int(v) for v in text.lower().split("x"))
    if w % STRIDE or h % STRIDE:
        raise SystemExit(f"--input {text}: both sides must be multiples of {STRIDE}")
    return w, h


def save_state(path, model, ema, opt, step, epoch, elapsed, rng):
    """Everything a resumed run needs; written beside the EMA weights."""
    torch.save({"model": model.state_dict(), "ema": ema.model.state_dict(), "ema_updates": ema.updates,
                "opt": opt.state_dict(), "step": step, "epoch": epoch, "elapsed": elapsed,
                "rng": rng.getstate(), "torch_rng": torch.get_rng_state()}, path + ".state")
    torch.save(ema.model.state_dict(), path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--data", default="", help="helmet-render dataset folder")
    ap.add_argument("--real", default="", help="YOLO folder of real photos (hard-hat-workers train split)")
    ap.add_argument("--real-part", default="fit", choices=["fit", "all"],
                    help="fit: leave out the held-out fifth (leading number a multiple of 5); all: train on all")
    ap.add_argument("--render-share", type=float, default=0.3, help="share of rendered images in each batch")
    ap.add_argument("--scale-min", type=float, default=0.45, help="real photos: smallest scale jitter")
    ap.add_argument("--scale-max", type=float, default=1.7, help="real photos: largest scale jitter")
    ap.add_argument("--out", required=True, help="model folder (helmet.onnx, model.yml)")
    ap.add_argument("--input", default=f"{NET_W}x{NET_H}", help="network input WxH of the export")
    ap.add_argument("--video", default="", help="rendered video for the post-export check")
    ap.add_argument("--epochs", type=int, default=4)
    ap.add_argument("--batch", type=int, default=32)
    ap.add_argument("--crop", type=int, default=160)
    ap.add_argument("--lr", type=float, default=3e-3)
    ap.add_argument("--val", type=int, default=400, help="held-out images for the per-epoch printout")
    ap.add_argument("--max-minutes", type=float, default=17.0, help="training time budget; the schedule fits into it")
    ap.add_argument("--seed", type=int, default=0)
    ap.add_argument("--checkpoint", default="/tmp/hmd-data/detector.pt")
    ap.add_argument("--resume", action="store_true", help="continue from --checkpoint's saved state")
    ap.add_argument("--keep-every", type=int, default=0, help="also keep the weights of every Nth epoch")
    ap.add_argument("--export-only", action="store_true", help="export the checkpoint, no training")
    ap.add_argument("--arch", default=DEFAULT_ARCH, choices=sorted(ARCHS), help="body layout from common.ARCHS")
    ap.add_argument("--nms-iou", type=float, default=0.45)
    ap.add_argument("--init-from", default="", help="trained checkpoint to start from (fine-tuning)")
    ap.add_argument("--init-arch", default=DEFAULT_ARCH, choices=sorted(ARCHS), help="body layout of --init-from")
    ap.add_argument("--threads", type=int, default=2, help="torch threads")
    ap.add_argument("--teacher", default="", help="trained checkpoint to distil from")
    ap.add_argument("--teacher-arch", default=DEFAULT_ARCH, choices=sorted(ARCHS), help="body layout of --teacher")
    args = ap.parse_args()
    size = parse_size(args.input)

    torch.set_num_threads(args.threads)
    cv2.setNumThreads(1)
    random.seed(args.seed)
    np.random.seed(args.seed)
    torch.manual_seed(args.seed)

    model = Detector(args.arch)
    print(f"arch {args.arch}, parameters: {sum(p.numel() for p in model.parameters())}")
    if args.export_only:
        export(load_detector(args.arch, args.checkpoint), args.out, args.nms_iou, args.video, size)
        return
    if not args.data and not args.real:
        raise SystemExit("give --data, --real or both")
    if args.init_from:
        n = inherit_weights(model, load_detector(args.init_arch, args.init_from))
        print(f"started from {args.init_from} ({args.init_arch}): {n} of {len(model.body)} body layers inherited")

    teacher = load_detector(args.teacher_arch, args.teacher) if args.teacher else None
    if teacher is not None:
        print(f"distilling from {args.teacher} ({args.teacher_arch})")

    t0 = time.time()
    rendered, rendered_labels, real, real_labels = [], [], [], []
    val_blobs, val_boxes = [], []
    if args.data:
        rendered, rendered_labels = load_dataset(args.data)
        if not args.real:  # rendered only: the last images are the held-out ones
            val_blobs = [torch.from_numpy(i[..., ::-1].transpose(2, 0, 1).astype(np.float32) / 255.0)
                         for i in rendered[-args.val:]]
            val_boxes = [[(int(c), cx - w / 2, cy - h / 2, w, h) for c, cx, cy, w, h in lab]
                         for lab in rendered_labels[-args.val:]]
            rendered, rendered_labels = rendered[:-args.val], rendered_labels[:-args.val]
    if args.real:
        real, real_labels = load_yolo(args.real, args.real_part, REAL_CLASS_MAP)
        held, held_labels = load_yolo(args.real, "held-out", REAL_CLASS_MAP)
        step_held = max(1, len(held) // args.val)
        val_blobs, val_boxes = monitor_set(held[::step_held], held_labels[::step_held], size)
        del held, held_labels
    print(f"loaded {len(rendered)} rendered and {len(real)} real images ({args.real_part}), "
          f"{len(val_blobs)} for the printout, in {time.time() - t0:.0f} s", flush=True)

    # An epoch is one pass over the real photos (or the rendered ones when
    # there are none) with rendered images mixed in at --render-share.
    share = args.render_share if real and rendered else (1.0 if rendered else 0.0)
    per_epoch = len(real) / (1.0 - share) if real else len(rendered)
    steps_per_epoch = int(per_epoch // args.batch)
    total = steps_per_epoch * args.epochs
    opt = torch.optim.AdamW(model.parameters(), lr=args.lr, weight_decay=5e-4)
    warm = min(300, total // 10)

    def lr_at(step, elapsed):
        # Cosine over whichever runs out first, the steps or the time budget,
        # so a slow or busy machine still ends with a fully decayed rate.
        progress = max(step / total, elapsed / (args.max_minutes * 60))
        if step < warm:
            return args.lr * (step + 1) / warm
        return args.lr * (0.02 + 0.98 * 0.5 * (1 + math.cos(math.pi * min(1.0, progress))))
    ema = Ema(model)
    rng = random.Random(args.seed)
    step, first_epoch, elapsed_before = 0, 0, 0.0
    if args.resume:
        state = torch.load(args.checkpoint + ".state")
        model.load_state_dict(state["model"])
        ema.model.load_state_dict(state["ema"])
        ema.updates = state["ema_updates"]
        opt.load_state_dict(state["opt"])
        step, first_epoch, elapsed_before = state["step"], state["epoch"] + 1, state["elapsed"]
        rng.setstate(state["rng"])
        torch.set_rng_state(state["torch_rng"])
        print(f"resumed at epoch {first_epoch}, step {step}, after {elapsed_before / 60:.1f} min", flush=True)
    grid = args.crop // STRIDE
    t_train = time.time() - elapsed_before
    stop = False
    run = np.zeros(4)

    def sample():
        if rendered and (not real or rng.random() < share):
            i = rng.randrange(len(rendered))
            return augment(rendered[i], rendered_labels[i], args.crop, rng)
        i = rng.randrange(len(real))
        return augment_real(real[i], real_labels[i], args.crop, rng, (args.scale_min, args.scale_max))

    for epoch in range(first_epoch, args.epochs):
        for b in range(steps_per_epoch):
            batch, labs = zip(*[sample() for _ in range(args.batch)])
            x = to_tensor(batch)
            obj_t, box_t, cls_t = build_targets(labs, grid)
            raw = model(x)
            loss, parts = compute_loss(raw, obj_t, box_t, cls_t)
            if teacher is not None:
                with torch.no_grad():
                    teacher_raw = teacher(x)
                loss = loss + distillation_loss(raw, teacher_raw)
            lr = lr_at(step, time.time() - t_train)
            for g in opt.param_groups:
                g["lr"] = lr
            opt.zero_grad(set_to_none=True)
            loss.backward()
            torch.nn.utils.clip_grad_norm_(model.parameters(), 10.0)
            opt.step()
            ema.update(model)
            step += 1
            run += np.array([loss.item(), *parts])
            if step % 50 == 0:
                m = run / 50
                run[:] = 0
                el = time.time() - t_train
                print(f"ep {epoch} step {step}/{total} loss {m[0]:.4f} box {m[1]:.3f} obj {m[2]:.4f} cls {m[3]:.3f} "
                      f"lr {lr:.2e} {el / 60:.1f} min", flush=True)
            if time.time() - t_train > args.max_minutes * 60:
                print(f"time budget reached after {step} of {total} steps", flush=True)
                stop = True
                break
        p, r = validate(ema.model, val_blobs, val_boxes)
        print(f"epoch {epoch} val@0.6 precision {p.round(3).tolist()} recall {r.round(3).tolist()} "
              f"({(time.time() - t_train) / 60:.1f} min)", flush=True)
        save_state(args.checkpoint, model, ema, opt, step, epoch, time.time() - t_train, rng)
        if args.keep_every and (epoch + 1) % args.keep_every == 0:
            torch.save(ema.model.state_dict(), f"{os.path.splitext(args.checkpoint)[0]}-e{epoch + 1}.pt")
        if stop:
            break
    print(f"training took {(time.time() - t_train) / 60:.1f} min")
    export(ema.model, args.out, args.nms_iou, args.video, size)


if __name__ == "__main__":
    main()
