#!/usr/bin/python3
"""Train the helmet/head detector on real photos and rendered scenes, export
ONNX and the model manifest, and check the export through OpenCV DNN.
The command that trained the shipped model is in docs/training.md."""
import argparse
import math
import os
import random
import sys
import time

import cv2
import numpy as np
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from augment import augment_photo, augment_rendered  # noqa: E402
from common import (ARCHS, CLASSES, DEFAULT_ARCH, STRIDE, Detector, decode_raw, grow_from,  # noqa: E402
                    init_from_onnx, letterbox, load_detector, match_counts, postprocess)
from datasets import load_hard_hat, load_negatives, load_rendered, load_site  # noqa: E402
from export import export  # noqa: E402
from loss import build_targets, compute_loss  # noqa: E402


def parse_args(argv=None):
    ap = argparse.ArgumentParser()
    ap.add_argument("--real", default="", help="Hard Hat Workers train split (YOLO folder)")
    ap.add_argument("--real-part", default="fit", choices=["fit", "all"],
                    help="fit: leave out the held-out fifth; all: train on all of it")
    ap.add_argument("--site", default="", help="Construction Site Safety train folder (YOLO, shell boxes)")
    ap.add_argument("--data", default="", help="helmet-render dataset folder")
    ap.add_argument("--negatives", default="", help="hard-negative patches (mine_negatives.py) to paste into crops")
    ap.add_argument("--mix", default="0.4,0.35,0.25",
                    help="shares of Hard Hat Workers, Construction Site Safety and rendered images per batch")
    ap.add_argument("--scale-min", type=float, default=0.3, help="real photos: smallest scale jitter")
    ap.add_argument("--scale-max", type=float, default=1.8, help="real photos: largest scale jitter")
    ap.add_argument("--site-scale", default="0.7,2.2",
                    help="Construction Site Safety: scale jitter range (its photos were shrunk to 352 px)")
    ap.add_argument("--out", required=True, help="model folder (helmet.onnx, model.yml)")
    ap.add_argument("--input", default="544x320", help="network input WxH of the export (the shipped model's)")
    ap.add_argument("--video", default="", help="rendered video for the post-export check")
    ap.add_argument("--epochs", type=int, default=40)
    ap.add_argument("--batch", type=int, default=32)
    ap.add_argument("--crop", type=int, default=224)
    ap.add_argument("--lr", type=float, default=1e-3)
    ap.add_argument("--warm-up", type=int, default=300, help="steps of linear warm-up")
    ap.add_argument("--val", type=int, default=300, help="held-out images per source for the printout")
    ap.add_argument("--max-minutes", type=float, default=100.0, help="training time budget; the schedule fits it")
    ap.add_argument("--seed", type=int, default=0)
    ap.add_argument("--checkpoint", default="/tmp/hmd-data/detector.pt")
    ap.add_argument("--resume", action="store_true", help="continue from --checkpoint's saved state")
    ap.add_argument("--keep-every", type=int, default=10, help="also keep the weights of every Nth epoch")
    ap.add_argument("--export-only", action="store_true", help="export the checkpoint, no training")
    ap.add_argument("--arch", default=DEFAULT_ARCH, choices=sorted(ARCHS), help="body layout from common.ARCHS")
    ap.add_argument("--nms-iou", type=float, default=0.45)
    ap.add_argument("--init-from", default="", help="checkpoint of the same body, or of one with fewer channels, to start from")
    ap.add_argument("--init-onnx", default="", help="exported model of the same body to start from")
    ap.add_argument("--threads", type=int, default=2, help="torch threads")
    args = ap.parse_args(argv)
    args.size = parse_size(args.input)
    args.mix = [float(v) for v in args.mix.split(",")]
    if len(args.mix) != 3 or min(args.mix) < 0 or sum(args.mix) <= 0:
        raise SystemExit("--mix takes three non-negative shares")
    return args


def parse_size(text):
    w, h = (int(v) for v in text.lower().split("x"))
    if w % STRIDE or h % STRIDE:
        raise SystemExit(f"--input {text}: both sides must be multiples of {STRIDE}")
    return w, h


class Sources:
    """The training images of each source, and the mix to draw them in."""

    def __init__(self, args):
        empty = ([], [])
        self.hard_hat = load_hard_hat(args.real, args.real_part) if args.real else empty
        self.site = load_site(args.site, "fit") if args.site else empty
        self.rendered = load_rendered(args.data) if args.data else empty
        self.negatives = load_negatives(args.negatives) if args.negatives else []
        parts = [self.hard_hat, self.site, self.rendered]
        self.shares = [share if part[0] else 0.0 for share, part in zip(args.mix, parts)]
        if sum(self.shares) == 0:
            raise SystemExit("give --real, --site or --data (with a share in --mix)")
        self.net_size = args.size
        self.scale_ranges = ((args.scale_min, args.scale_max), tuple(float(v) for v in args.site_scale.split(",")))

    def sizes(self):
        return len(self.hard_hat[0]), len(self.site[0]), len(self.rendered[0])

    def epoch_images(self):
        """An epoch is one pass over the real photos (or the rendered ones when
        there are none), the other sources mixed in at their shares."""
        real = len(self.hard_hat[0]) + len(self.site[0])
        real_share = self.shares[0] + self.shares[1]
        if real and real_share:
            return real * sum(self.shares) / real_share
        return len(self.rendered[0])

    def sample(self, crop, rng):
        pick = rng.choices(range(3), weights=self.shares)[0]
        images, labels = (self.hard_hat, self.site, self.rendered)[pick]
        i = rng.randrange(len(images))
        if pick == 2:
            return augment_rendered(images[i], labels[i], crop, rng, self.negatives)
        return augment_photo(images[i], labels[i], crop, rng, self.scale_ranges[pick], self.net_size, self.negatives)


def monitor_set(images, labels, size, count):
    """Letterboxed held-out photos and their boxes in network-input pixels, for
    the per-epoch printout only (published figures come from helmet-eval)."""
    step = max(1, len(images) // max(count, 1))
    blobs, boxes = [], []
    for img, lab in zip(images[::step], labels[::step]):
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
    return tp / np.maximum(tp + fp, 1), tp / np.maximum(tp + fn, 1)


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


def to_tensor(batch):
    x = np.stack(batch)[..., ::-1].transpose(0, 3, 1, 2).astype(np.float32) / 255.0
    return torch.from_numpy(np.ascontiguousarray(x))


def save_state(path, model, ema, opt, step, epoch, elapsed, rng):
    """Everything a resumed run needs; written beside the EMA weights."""
    torch.save({"model": model.state_dict(), "ema": ema.model.state_dict(), "ema_updates": ema.updates,
                "opt": opt.state_dict(), "step": step, "epoch": epoch, "elapsed": elapsed,
                "rng": rng.getstate(), "torch_rng": torch.get_rng_state()}, path + ".state")
    torch.save(ema.model.state_dict(), path)


def initial_model(args, monitors):
    model = Detector(args.arch)
    if args.init_from:
        grow_from(model, torch.load(args.init_from))
        print(f"started from {args.init_from}")
    elif args.init_onnx:
        calibration = torch.stack([b for blobs, _ in monitors.values() for b in blobs[:64]])
        init_from_onnx(model, args.init_onnx, calibration)
        print(f"started from {args.init_onnx} ({len(calibration)} images set its batch-norm statistics)")
    return model.train()


def held_out_monitors(args):
    monitors = {}
    if args.real:
        monitors["hard-hat"] = monitor_set(*load_hard_hat(args.real, "held-out"), args.size, args.val)
    if args.site:
        monitors["site"] = monitor_set(*load_site(args.site, "held-out"), args.size, args.val)
    return monitors


def train(args, sources, model, monitors):
    steps_per_epoch = int(sources.epoch_images() // args.batch)
    total = steps_per_epoch * args.epochs
    opt = torch.optim.AdamW(model.parameters(), lr=args.lr, weight_decay=5e-4)
    warm = min(args.warm_up, total // 10)

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
    running = np.zeros(4)
    for epoch in range(first_epoch, args.epochs):
        out_of_time = False
        for _ in range(steps_per_epoch):
            batch, labs = zip(*[sources.sample(args.crop, rng) for _ in range(args.batch)])
            obj_t, box_t, cls_t = build_targets(labs, grid)
            loss, parts = compute_loss(model(to_tensor(batch)), obj_t, box_t, cls_t)
            lr = lr_at(step, time.time() - t_train)
            for g in opt.param_groups:
                g["lr"] = lr
            opt.zero_grad(set_to_none=True)
            loss.backward()
            torch.nn.utils.clip_grad_norm_(model.parameters(), 10.0)
            opt.step()
            ema.update(model)
            step += 1
            running += np.array([loss.item(), *parts])
            if step % 50 == 0:
                m, running[:] = running / 50, 0
                print(f"ep {epoch} step {step}/{total} loss {m[0]:.4f} box {m[1]:.3f} obj {m[2]:.4f} "
                      f"cls {m[3]:.3f} lr {lr:.2e} {(time.time() - t_train) / 60:.1f} min", flush=True)
            if time.time() - t_train > args.max_minutes * 60:
                print(f"time budget reached after {step} of {total} steps", flush=True)
                out_of_time = True
                break
        for name, (blobs, boxes) in monitors.items():
            p, r = validate(ema.model, blobs, boxes)
            print(f"epoch {epoch} {name} held-out @0.6 precision {p.round(3).tolist()} recall {r.round(3).tolist()} "
                  f"({(time.time() - t_train) / 60:.1f} min)", flush=True)
        save_state(args.checkpoint, model, ema, opt, step, epoch, time.time() - t_train, rng)
        if args.keep_every and (epoch + 1) % args.keep_every == 0:
            torch.save(ema.model.state_dict(), f"{os.path.splitext(args.checkpoint)[0]}-e{epoch + 1}.pt")
        if out_of_time:
            break
    print(f"training took {(time.time() - t_train) / 60:.1f} min")
    return ema.model


def prepare(args):
    """Threads and seeds, so that a run follows from its options."""
    torch.set_num_threads(args.threads)
    cv2.setNumThreads(1)
    random.seed(args.seed)
    np.random.seed(args.seed)
    torch.manual_seed(args.seed)


def load_data(args):
    """The training sources and the held-out monitors of the printout."""
    t0 = time.time()
    sources = Sources(args)
    monitors = held_out_monitors(args)
    print(f"loaded {sources.sizes()} images (hard hat, site, rendered), shares {sources.shares}, "
          f"{[len(b) for b, _ in monitors.values()]} for the printout, in {time.time() - t0:.0f} s", flush=True)
    return sources, monitors


def main(argv=None):
    args = parse_args(argv)
    prepare(args)
    print(f"arch {args.arch}, parameters: {sum(p.numel() for p in Detector(args.arch).parameters())}")
    if args.export_only:
        export(load_detector(args.arch, args.checkpoint), args.out, args.nms_iou, args.video, args.size)
        return
    sources, monitors = load_data(args)
    model = initial_model(args, monitors)
    export(train(args, sources, model, monitors), args.out, args.nms_iou, args.video, args.size)


if __name__ == "__main__":
    main()
