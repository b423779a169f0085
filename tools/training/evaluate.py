#!/usr/bin/python3
"""Evaluate the exported detector through OpenCV DNN on held-out 1080p frames
(helmet-render frames) and optionally on the rendered video, with the same
letterbox, decoding and class-aware NMS as the C++ detector.

  /usr/bin/python3 tools/training/evaluate.py --model models/ZOR_Helmet \
      --frames /tmp/hmd-data/eval [--video HM2.mp4 --video-labels HM2-labels.txt]
"""
import argparse
import os
import sys
import time

import cv2
import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from common import CLASSES, letterbox, match_counts, postprocess, read_labels  # noqa: E402


def load_manifest(model_dir):
    fs = cv2.FileStorage(os.path.join(model_dir, "model.yml"), cv2.FILE_STORAGE_READ)
    if not fs.isOpened():
        raise SystemExit(f"no model.yml in {model_dir}")
    m = {
        "onnx": os.path.join(model_dir, fs.getNode("onnx_file").string()),
        "width": int(fs.getNode("input_width").real()),
        "height": int(fs.getNode("input_height").real()),
        "nms_iou": fs.getNode("nms_iou").real(),
        "pad": int(fs.getNode("pad_value").real()),
        "layout": fs.getNode("layout").string(),
    }
    classes = fs.getNode("classes")
    m["classes"] = [classes.at(i).string() for i in range(classes.size())]
    fs.release()
    if m["layout"] != "yolov5" or m["classes"] != CLASSES:
        raise SystemExit(f"unexpected manifest {m}")
    return m


class Runner:
    def __init__(self, manifest, threshold):
        self.m = manifest
        self.threshold = threshold
        self.net = cv2.dnn.readNetFromONNX(manifest["onnx"])
        self.forward_ms = []

    def detect(self, frame):
        blob, s, off = letterbox(frame, self.m["width"], self.m["height"], self.m["pad"])
        self.net.setInput(blob)
        t = time.perf_counter()
        out = self.net.forward()
        self.forward_ms.append((time.perf_counter() - t) * 1000)
        return postprocess(out[0], s, off, self.threshold, self.m["nms_iou"], (frame.shape[1], frame.shape[0]))


def report(name, tp, fp, fn):
    print(f"{name}:")
    for c, cname in enumerate(CLASSES):
        p = tp[c] / max(tp[c] + fp[c], 1)
        r = tp[c] / max(tp[c] + fn[c], 1)
        print(f"  {cname:6s} precision {p:.3f} recall {r:.3f} (tp {tp[c]}, fp {fp[c]}, fn {fn[c]})")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--model", required=True, help="folder with model.yml and the ONNX file")
    ap.add_argument("--frames", default="", help="helmet-render frames folder")
    ap.add_argument("--video", default="")
    ap.add_argument("--video-labels", default="", help="helmet-render video --labels output")
    ap.add_argument("--threshold", type=float, default=0.6)
    ap.add_argument("--iou", type=float, default=0.5, help="IoU for a match")
    ap.add_argument("--threads", type=int, default=0, help="OpenCV threads (0 = OpenCV default)")
    args = ap.parse_args()
    if args.threads > 0:
        cv2.setNumThreads(args.threads)
    runner = Runner(load_manifest(args.model), args.threshold)
    # Warm-up so the first timed forward is not an outlier.
    runner.detect(np.full((1080, 1920, 3), 128, np.uint8))
    runner.forward_ms.clear()
    n = len(CLASSES)

    if args.frames:
        names = sorted(f for f in os.listdir(os.path.join(args.frames, "images")) if f.endswith((".jpg", ".png")))
        tp, fp, fn = np.zeros(n, int), np.zeros(n, int), np.zeros(n, int)
        empty_fp = 0
        for name in names:
            frame = cv2.imread(os.path.join(args.frames, "images", name))
            gts = read_labels(os.path.join(args.frames, "labels", os.path.splitext(name)[0] + ".txt"))
            dets = runner.detect(frame)
            a, b, c = match_counts(dets, gts, n, args.iou)
            tp += a
            fp += b
            fn += c
            if not gts:
                empty_fp += len(dets)
        report(f"{len(names)} frames from {args.frames} at threshold {args.threshold}, IoU >= {args.iou}", tp, fp, fn)
        print(f"  detections on frames without people: {empty_fp}")

    if args.video:
        gt_by_frame = {}
        if args.video_labels:
            with open(args.video_labels) as f:
                for line in f:
                    if line.startswith("#"):
                        continue
                    k, c, cx, cy, w, h = line.split()
                    gt_by_frame.setdefault(int(k), []).append((int(c), float(cx) - float(w) / 2, float(cy) - float(h) / 2,
                                                               float(w), float(h)))
        cap = cv2.VideoCapture(args.video)
        tp, fp, fn = np.zeros(n, int), np.zeros(n, int), np.zeros(n, int)
        k = 0
        per_class = np.zeros(n, int)
        while True:
            ok, frame = cap.read()
            if not ok:
                break
            dets = runner.detect(frame)
            for d in dets:
                per_class[d[0]] += 1
            a, b, c = match_counts(dets, gt_by_frame.get(k, []), n, args.iou)
            tp += a
            fp += b
            fn += c
            k += 1
        print(f"video {args.video}: {k} frames, detections per class {per_class.tolist()}")
        if args.video_labels:
            report("video", tp, fp, fn)

    if runner.forward_ms:
        ms = np.array(runner.forward_ms)
        print(f"forward: mean {ms.mean():.2f} ms, median {np.median(ms):.2f} ms over {len(ms)} frames "
              f"(cv2 threads {cv2.getNumThreads()})")


if __name__ == "__main__":
    main()
