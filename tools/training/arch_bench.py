#!/usr/bin/python3
"""Forward time of candidate bodies in OpenCV DNN before training any:
exports an untrained instance (same wrapper and opset as train.py) and times
cv2.dnn forwards of the 320x192 input.

  /usr/bin/python3 tools/training/arch_bench.py [--runs 200] [--threads 2] [names...]
"""
import argparse
import os
import sys
import tempfile
import time

import cv2
import numpy as np
import torch
import torch.nn as nn

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402
from common import NET_H, NET_W, Detector, Exported  # noqa: E402

# Candidates tried for the faster body (the chosen one lives in common.ARCHS).
CANDIDATES = {
    "a64x2": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 64, 2, 1), ("c", 64, 1, 1), ("c", 64, 1, 2), ("p", 64, 1, 1)],
    "a64x3": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 64, 2, 1), ("c", 64, 1, 2), ("c", 64, 1, 1), ("c", 64, 1, 2),
              ("p", 64, 1, 1)],
    "b48x3": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 48, 2, 1), ("c", 48, 1, 2), ("c", 48, 1, 1), ("c", 48, 1, 2),
              ("p", 48, 1, 1)],
    "b48x4": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 48, 2, 1), ("c", 48, 1, 1), ("c", 48, 1, 2), ("c", 48, 1, 1),
              ("c", 48, 1, 2), ("p", 48, 1, 1)],
    "b56x3": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 56, 2, 1), ("c", 56, 1, 2), ("c", 56, 1, 1), ("c", 56, 1, 2),
              ("p", 56, 1, 1)],
    "s12b48x3": [("c", 12, 2, 1), ("c", 32, 2, 1), ("c", 48, 2, 1), ("c", 48, 1, 2), ("c", 48, 1, 1),
                 ("c", 48, 1, 2), ("p", 48, 1, 1)],
    "c24b48x3": [("c", 16, 2, 1), ("c", 24, 2, 1), ("c", 48, 2, 1), ("c", 48, 1, 2), ("c", 48, 1, 1),
                 ("c", 48, 1, 2), ("p", 48, 1, 1)],
    "b40x4": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 40, 2, 1), ("c", 40, 1, 1), ("c", 40, 1, 2), ("c", 40, 1, 1),
              ("c", 40, 1, 2), ("p", 40, 1, 1)],
    "q24b48x3": [("c", 16, 2, 1), ("c", 24, 2, 1), ("c", 24, 1, 1), ("c", 48, 2, 1), ("c", 48, 1, 2),
                 ("c", 48, 1, 1), ("c", 48, 1, 2), ("p", 48, 1, 1)],
    "a64b48x3": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 64, 2, 1), ("c", 48, 1, 2), ("c", 48, 1, 1),
                 ("c", 48, 1, 2), ("p", 64, 1, 1)],
    "q24b56x3": [("c", 16, 2, 1), ("c", 24, 2, 1), ("c", 24, 1, 1), ("c", 56, 2, 1), ("c", 56, 1, 2),
                 ("c", 56, 1, 1), ("c", 56, 1, 2), ("p", 56, 1, 1)],
    "q32b48x3": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 32, 1, 1), ("c", 48, 2, 1), ("c", 48, 1, 2),
                 ("c", 48, 1, 1), ("c", 48, 1, 2), ("p", 48, 1, 1)],
    "q24b48x4": [("c", 16, 2, 1), ("c", 24, 2, 1), ("c", 24, 1, 1), ("c", 48, 2, 1), ("c", 48, 1, 1),
                 ("c", 48, 1, 2), ("c", 48, 1, 1), ("c", 48, 1, 2), ("p", 48, 1, 1)],
    "stem48": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 48, 2, 1), ("p", 48, 1, 1)],
    "dw64x4": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 64, 2, 1), ("d", 64, 1, 1), ("d", 64, 1, 2), ("d", 64, 1, 1),
               ("d", 64, 1, 2), ("p", 64, 1, 1)],
    "dw96x4": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 96, 2, 1), ("d", 96, 1, 1), ("d", 96, 1, 2), ("d", 96, 1, 1),
               ("d", 96, 1, 2), ("p", 96, 1, 1)],
    "q32dw64x4": [("c", 16, 2, 1), ("c", 32, 2, 1), ("d", 32, 1, 1), ("c", 64, 2, 1), ("d", 64, 1, 1),
                  ("d", 64, 1, 2), ("d", 64, 1, 1), ("d", 64, 1, 2), ("p", 64, 1, 1)],
}


def macs(model):
    total = [0]

    def hook(m, inp, out):
        k = m.kernel_size[0] * m.kernel_size[1] * (m.in_channels // m.groups)
        total[0] += out.numel() * k

    hs = [m.register_forward_hook(hook) for m in model.modules() if isinstance(m, nn.Conv2d)]
    with torch.no_grad():
        model(torch.zeros(1, 3, NET_H, NET_W))
    for h in hs:
        h.remove()
    return total[0]


def time_forward(onnx_path, runs, threads):
    cv2.setNumThreads(threads)
    net = cv2.dnn.readNetFromONNX(onnx_path)
    blob = np.random.RandomState(0).rand(1, 3, NET_H, NET_W).astype(np.float32)
    net.setInput(blob)
    for _ in range(20):
        net.forward()
    ms = []
    for _ in range(runs):
        net.setInput(blob)
        t = time.perf_counter()
        net.forward()
        ms.append((time.perf_counter() - t) * 1000)
    return float(np.mean(ms)), float(np.median(ms))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("names", nargs="*")
    ap.add_argument("--runs", type=int, default=200)
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--rounds", type=int, default=2, help="interleaved rounds; the best mean is kept")
    args = ap.parse_args()
    torch.set_num_threads(1)
    common.ARCHS.update({k: v for k, v in CANDIDATES.items() if k not in common.ARCHS})
    names = args.names or list(common.ARCHS)
    tmp = tempfile.mkdtemp()
    info = {}
    for name in names:
        torch.manual_seed(0)
        det = Detector(name).eval()
        # Distinct BN values: identical untrained ones get deduplicated into
        # Identity nodes that OpenCV 4.6 cannot import.
        for m in det.modules():
            if isinstance(m, nn.BatchNorm2d):
                m.weight.data.uniform_(0.5, 1.5)
                m.bias.data.uniform_(-0.1, 0.1)
                m.running_mean.uniform_(-0.1, 0.1)
                m.running_var.uniform_(0.5, 1.5)
        path = os.path.join(tmp, name + ".onnx")
        torch.onnx.export(Exported(det).eval(), torch.zeros(1, 3, NET_H, NET_W), path, opset_version=12,
                          input_names=["images"], output_names=["output"], do_constant_folding=True)
        info[name] = (macs(det), sum(p.numel() for p in det.parameters()), path, [])
    for _ in range(args.rounds):
        for name in names:
            info[name][3].append(time_forward(info[name][2], args.runs, args.threads))
    print(f"| arch | MMACs | params | forward mean ms | median ms | ({args.threads} threads, {args.runs} runs) |")
    print("| --- | --- | --- | --- | --- |")
    for name in names:
        m, p, _, t = info[name]
        best = min(t)
        print(f"| {name} | {m / 1e6:.0f} | {p} | {best[0]:.2f} | {best[1]:.2f} |", flush=True)


if __name__ == "__main__":
    main()
