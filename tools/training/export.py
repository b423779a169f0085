"""ONNX export of a trained detector with its manifest, checked through
OpenCV DNN: OpenCV's output equals torch's, and plain frames of every 5th grey
level give no detection at 0.6."""
import os

import cv2
import numpy as np
import torch

from common import CLASSES, NET_H, NET_W, PAD_VALUE, STRIDE, Exported, letterbox, postprocess

MODEL_VERSION = "7.2"
MANIFEST = """%YAML:1.0
---
# Trained by this project, no downloaded weights, on Hard Hat Workers (public domain),
# Construction Site Safety (Roboflow Universe Projects, CC BY 4.0) and
# rendered scenes; see docs/training.md.
format_version: 1
model_version: "{version}"
onnx_file: "helmet.onnx"
input_width: {w}
input_height: {h}
layout: "yolov5"
classes: [ "helmet", "head" ]
nms_iou: {iou}
pad_value: {pad}
nms_mode: "per_class"
"""


def export(model, out_dir, nms_iou, video, size=(NET_W, NET_H)):
    os.makedirs(out_dir, exist_ok=True)
    onnx_path = os.path.join(out_dir, "helmet.onnx")
    width, height = size
    exp = Exported(model.eval(), width, height).eval()
    dummy = torch.zeros(1, 3, height, width)
    torch.onnx.export(exp, dummy, onnx_path, opset_version=12, input_names=["images"], output_names=["output"],
                      do_constant_folding=True)
    with open(os.path.join(out_dir, "model.yml"), "w") as f:
        f.write(MANIFEST.format(version=MODEL_VERSION, w=width, h=height, iou=nms_iou, pad=PAD_VALUE))
    print(f"exported {onnx_path} ({os.path.getsize(onnx_path)} bytes)")

    net = cv2.dnn.readNetFromONNX(onnx_path)
    grey = np.full((1080, 1920, 3), 128, np.uint8)
    inputs = [np.random.RandomState(0).rand(1, 3, height, width).astype(np.float32), letterbox(grey, width, height)[0]]
    frames = []
    if video:
        cap = cv2.VideoCapture(video)
        for _ in range(300):
            ok, fr = cap.read()
            if not ok:
                break
            frames.append(fr)
        inputs += [letterbox(fr, width, height)[0] for fr in frames[:3]]
    worst = 0.0
    for blob in inputs:
        net.setInput(blob)
        o = net.forward()
        with torch.no_grad():
            t = exp(torch.from_numpy(blob)).numpy()
        if o.shape != (1, (height // STRIDE) * (width // STRIDE), 5 + len(CLASSES)):
            raise SystemExit(f"unexpected OpenCV output shape {o.shape}")
        worst = max(worst, float(np.abs(o - t).max()))
    print(f"OpenCV vs torch max abs diff over {len(inputs)} inputs: {worst:.2e}")
    if worst > 1e-2:
        raise SystemExit("OpenCV DNN output differs from torch")

    def detect(frame):
        blob, s, off = letterbox(frame, width, height)
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
