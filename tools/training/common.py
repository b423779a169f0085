"""Pieces shared by the training scripts: network, letterbox, decoding.

The letterbox and post-processing here serve the training printout and the
export checks only; every published figure comes from helmet-eval through
the shipped library."""
import math

import cv2
import numpy as np
import torch
import torch.nn as nn

NET_W, NET_H = 320, 192
STRIDE = 8
SIZE_BASE = 16.0          # box side (input px) when the size logit is 0
PAD_VALUE = 114
CLASSES = ["helmet", "head"]


def cbr(cin, cout, stride=1, dilation=1, k=3, groups=1):
    return nn.Sequential(
        nn.Conv2d(cin, cout, k, stride, padding=dilation * (k // 2), dilation=dilation, groups=groups, bias=False),
        nn.BatchNorm2d(cout),
        nn.ReLU(inplace=True))


# Body layouts: rows (kind, out channels, stride, dilation); kind "c" 3x3
# conv, "p" 1x1 conv, "d" depthwise 3x3 then 1x1 (depthwise-separable), "r"
# a residual 3x3 conv (same channels in and out, stride 1).
# The choices behind them are in docs/training.md.
ARCHS = {
    # Model 3.0's body: two stride-2 convs as a cheap stem, a 32-channel conv
    # at 1/4, a stride-2 conv, four 64-channel convs at 1/8 with dilations
    # 2, 1, 2 and 4 (context for large, close heads) and a 1x1 conv.
    "h1": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 32, 1, 1), ("c", 64, 2, 1), ("c", 64, 1, 2), ("c", 64, 1, 1),
           ("c", 64, 1, 2), ("c", 64, 1, 4), ("p", 64, 1, 1)],
    # Model 4.0's body: h1 with 80 channels at 1/8, more capacity for four
    # kinds of images at 1.4 times the multiply-adds; model 4.0 grew from
    # 3.0's weights (grow_from).
    "h1w": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 32, 1, 1), ("c", 80, 2, 1), ("c", 80, 1, 2), ("c", 80, 1, 1),
            ("c", 80, 1, 2), ("c", 80, 1, 4), ("p", 80, 1, 1)],
    # Model 5.0's body: h1w and one residual conv more at 1/8, 1.18 times
    # h1w's time per frame; model 5.0 grew from 4.0's weights, starting as
    # 4.0's function (the new block passes its input through).
    "h1r": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 32, 1, 1), ("c", 80, 2, 1), ("c", 80, 1, 2), ("c", 80, 1, 1),
            ("c", 80, 1, 2), ("c", 80, 1, 4), ("p", 80, 1, 1), ("r", 80, 1, 1)],
    # The shipped body: h1r and a second residual conv, dilated for wider
    # context, 1.16 times h1r's time per frame; model 6.0 grew from 5.0, and
    # model 7.0 is 6.0 trained on at a larger input (544x320).
    "h1r2": [("c", 16, 2, 1), ("c", 32, 2, 1), ("c", 32, 1, 1), ("c", 80, 2, 1), ("c", 80, 1, 2), ("c", 80, 1, 1),
             ("c", 80, 1, 2), ("c", 80, 1, 4), ("p", 80, 1, 1), ("r", 80, 1, 1), ("r", 80, 1, 2)],
}
DEFAULT_ARCH = "h1r2"


class Residual(nn.Module):
    """ReLU(x + BN(conv(x))). The batch norm's scale starts at zero, so a new
    block passes its (non-negative) input through until training moves it."""

    def __init__(self, channels, dilation):
        super().__init__()
        self.conv = nn.Conv2d(channels, channels, 3, 1, padding=dilation, dilation=dilation, bias=False)
        self.bn = nn.BatchNorm2d(channels)
        nn.init.zeros_(self.bn.weight)
        self.relu = nn.ReLU(inplace=True)

    def forward(self, x):
        return self.relu(x + self.bn(self.conv(x)))


def make_layer(kind, cin, cout, stride, dilation):
    if kind == "c":
        return cbr(cin, cout, stride, dilation)
    if kind == "p":
        return cbr(cin, cout, k=1)
    if kind == "d":
        return nn.Sequential(cbr(cin, cin, stride, dilation, groups=cin), cbr(cin, cout, k=1))
    if kind == "r" and cin == cout and stride == 1:
        return Residual(cout, dilation)
    raise ValueError(kind)


class Detector(nn.Module):
    """Conv-BN-ReLU, stride 8, one prediction per cell:
    (x, y, w, h, objectness, helmet, head) as raw logits."""

    def __init__(self, arch=DEFAULT_ARCH):
        super().__init__()
        self.arch = arch
        layers, cin = [], 3
        for kind, cout, stride, dilation in ARCHS[arch]:
            layers.append(make_layer(kind, cin, cout, stride, dilation))
            cin = cout
        self.body = nn.Sequential(*layers)
        self.pred = nn.Conv2d(cin, 5 + len(CLASSES), 1)

    def forward(self, x):
        return self.pred(self.body(x))


def load_detector(arch, checkpoint):
    """A trained Detector of body `arch` from a train.py checkpoint, in eval mode."""
    det = Detector(arch)
    det.load_state_dict(torch.load(checkpoint))
    return det.eval()


@torch.no_grad()
def grow_from(det, state):
    """Starts `det` from the weights of a body with the same layers and at most
    as many channels, and perhaps residual blocks more: old channels keep their
    weights, new ones start at random and old channels read nothing from them,
    new residual blocks pass their input through, so the grown network
    computes the old function until training moves it."""
    own = det.state_dict()
    added = tuple(f"{name}." for name, m in det.named_modules() if isinstance(m, Residual))
    for name, new in own.items():
        if name not in state and name.startswith(added):
            continue
        old = state[name]
        if old.dim() != new.dim() or any(o > n for o, n in zip(old.shape, new.shape)):
            raise SystemExit(f"{name}: {tuple(old.shape)} does not fit into the {det.arch} body's {tuple(new.shape)}")
        if old.dim() == 4:
            new[:old.shape[0], old.shape[1]:] = 0
        new[tuple(slice(0, n) for n in old.shape)] = old
    det.load_state_dict(own)
    return det


@torch.no_grad()
def init_from_onnx(det, onnx_path, images):
    """Starts `det` from an exported model of the same body: the export folds
    each batch norm into its conv, so every conv takes the folded weights and
    its batch norm is set to the statistics that `images` (NCHW RGB/255) give
    before it, with scale and shift that undo them. The network then computes
    exactly the exported function, and batch statistics in training start
    close to the stored ones."""
    import onnx
    from onnx import numpy_helper

    model = onnx.load(onnx_path)
    weights = {i.name: numpy_helper.to_array(i) for i in model.graph.initializer}
    convs = [(weights[n.input[1]], weights[n.input[2]]) for n in model.graph.node if n.op_type == "Conv"]
    layers = list(det.body) + [det.pred]
    if len(convs) != len(layers):
        raise SystemExit(f"{onnx_path}: {len(convs)} convolutions, the {det.arch} body has {len(layers)}")
    det.eval()
    x = images
    for layer, (w, b) in zip(det.body, convs):
        conv, bn = (layer.conv, layer.bn) if isinstance(layer, Residual) else (layer[0], layer[1])
        if tuple(conv.weight.shape) != w.shape:
            raise SystemExit(f"{onnx_path}: conv of shape {w.shape} where {det.arch} has {tuple(conv.weight.shape)}")
        conv.weight.copy_(torch.from_numpy(w))
        z = conv(x)
        mean, var = z.mean((0, 2, 3)), z.var((0, 2, 3), unbiased=False)
        bn.running_mean.copy_(mean)
        bn.running_var.copy_(var)
        bn.weight.copy_(torch.sqrt(var + bn.eps))
        bn.bias.copy_(mean + torch.from_numpy(b))
        x = layer(x)
    det.pred.weight.copy_(torch.from_numpy(convs[-1][0]))
    det.pred.bias.copy_(torch.from_numpy(convs[-1][1]))
    return det


def class_scores(class_logits):
    """(p_helmet, p_head) of the exported rows. The two classes are learnt as
    independent sigmoids; a helmet is reported with the chance that it is a
    helmet and not a bare head, so where the network cannot tell the two apart
    (grayscale heads, mostly) the bare head, the violation, wins."""
    p_helmet, p_head = torch.sigmoid(class_logits[:, 0:1]), torch.sigmoid(class_logits[:, 1:2])
    return torch.cat([p_helmet * (1.0 - p_head), p_head], 1)


def decode_raw(raw):
    """raw [B,7,gh,gw] logits -> (xy, wh in input px, obj, cls) tensors."""
    b, _, gh, gw = raw.shape
    gy, gx = torch.meshgrid(torch.arange(gh, dtype=raw.dtype), torch.arange(gw, dtype=raw.dtype), indexing="ij")
    grid = torch.stack([gx, gy], 0).unsqueeze(0)
    xy = (torch.sigmoid(raw[:, 0:2]) * 2.0 - 0.5 + grid) * STRIDE
    wh = torch.exp(raw[:, 2:4].clamp(max=6.0)) * SIZE_BASE
    return xy, wh, torch.sigmoid(raw[:, 4:5]), class_scores(raw[:, 5:])


class Exported(nn.Module):
    """Static-shape graph for OpenCV DNN: output [1, N, 7] rows
    (cx, cy, w, h, obj, p_helmet, p_head) in network-input pixels, the class
    scores as class_scores gives them."""

    def __init__(self, det, width=NET_W, height=NET_H):
        super().__init__()
        self.det = det
        gh, gw = height // STRIDE, width // STRIDE
        gy, gx = torch.meshgrid(torch.arange(gh, dtype=torch.float32), torch.arange(gw, dtype=torch.float32), indexing="ij")
        # Full-shape constant: OpenCV 4.6 mishandles some broadcasting adds.
        self.register_buffer("offset", ((torch.stack([gx, gy], 0) - 0.5) * STRIDE).unsqueeze(0))

    def forward(self, x):
        raw = self.det(x)
        xy = torch.sigmoid(raw[:, 0:2]) * (2.0 * STRIDE) + self.offset
        wh = torch.exp(raw[:, 2:4]) * SIZE_BASE
        out = torch.cat([xy, wh, torch.sigmoid(raw[:, 4:5]), class_scores(raw[:, 5:])], 1)
        n = out.shape[2] * out.shape[3]
        return out.reshape(1, 5 + len(CLASSES), n).permute(0, 2, 1)


def letterbox(frame, width=NET_W, height=NET_H, pad=PAD_VALUE):
    """Returns (NCHW float32 RGB/255 blob, scale, (offset_x, offset_y)), the
    library's blob bit for bit (tests/training checks it): below s = 0.5
    INTER_LINEAR to twice the target size, then an INTER_AREA halving;
    INTER_AREA for 0.5 <= s < 1; INTER_LINEAR for s >= 1."""
    fh, fw = frame.shape[:2]
    s = min(width / fw, height / fh)
    nw = min(max(lround(fw * s), 1), width)
    nh = min(max(lround(fh * s), 1), height)
    if s < 0.5:
        doubled = cv2.resize(frame, (2 * nw, 2 * nh), interpolation=cv2.INTER_LINEAR)
        resized = cv2.resize(doubled, (nw, nh), interpolation=cv2.INTER_AREA)
    else:
        resized = cv2.resize(frame, (nw, nh), interpolation=cv2.INTER_AREA if s < 1 else cv2.INTER_LINEAR)
    ox, oy = (width - nw) // 2, (height - nh) // 2
    canvas = np.full((height, width, 3), pad, np.uint8)
    canvas[oy:oy + nh, ox:ox + nw] = resized
    # blobFromImage multiplies by 1/255 as the library does; dividing by 255
    # differs in the last bit of most values.
    blob = cv2.dnn.blobFromImage(canvas, 1.0 / 255.0, swapRB=True, crop=False, ddepth=cv2.CV_32F)
    return blob, s, (ox, oy)


def lround(v):
    """std::lround: half away from zero, without the error of floor(v + 0.5)
    just below a half."""
    a = abs(v)
    whole = math.floor(a)
    r = whole + (1 if a - whole >= 0.5 else 0)
    return int(r if v >= 0 else -r)


def postprocess(rows, scale, offset, threshold, nms_iou, frame_size=None):
    """rows [N, 7] (cx, cy, w, h, obj, class scores) in input pixels -> list of
    (cls, score, x, y, w, h), highest score first, as the library's
    decodeOutput, suppressOverlaps and Letterbox::toFrame give them (tests/training
    checks it): float32 scores, suppression per class in input pixels, boxes
    mapped to whole frame pixels and clipped to `frame_size` when given."""
    rows = np.asarray(rows, np.float32)
    cls = np.argmax(rows[:, 5:], axis=1)
    score = np.clip(rows[:, 4] * rows[np.arange(len(rows)), 5 + cls], 0.0, 1.0)
    cx, cy, w, h = rows[:, 0], rows[:, 1], rows[:, 2], rows[:, 3]
    with np.errstate(invalid="ignore"):
        usable = (score >= threshold) & (w > 0) & (h > 0) & np.isfinite(rows[:, :4]).all(axis=1)
    left, top = cx - w / 2, cy - h / 2
    kept = []
    for c in range(rows.shape[1] - 5):
        idx = np.where(usable & (cls == c))[0]
        if len(idx) == 0:
            continue
        boxes = [[float(left[i]), float(top[i]), float(w[i]), float(h[i])] for i in idx]
        survivors = cv2.dnn.NMSBoxes(boxes, score[idx].tolist(), 0.0, nms_iou)
        kept += [idx[k] for k in np.array(survivors, int).reshape(-1)]
    kept.sort(key=lambda i: -score[i])  # stable, as the library's
    out = []
    for i in kept:
        x0, y0 = frame_point(left[i], top[i], scale, offset, frame_size)
        x1, y1 = frame_point(float(left[i]) + float(w[i]), float(top[i]) + float(h[i]), scale, offset, frame_size)
        if x1 > x0 and y1 > y0:
            out.append((int(cls[i]), float(score[i]), x0, y0, x1 - x0, y1 - y0))
    return out


def frame_point(x, y, scale, offset, frame_size):
    """An input-pixel point on the frame: whole pixels, clipped to it."""
    fx, fy = lround((float(x) - offset[0]) / scale), lround((float(y) - offset[1]) / scale)
    if frame_size is None:
        return fx, fy
    return min(max(fx, 0), frame_size[0]), min(max(fy, 0), frame_size[1])


def iou_xywh(a, b):
    ax1, ay1, bx1, by1 = a[0] + a[2], a[1] + a[3], b[0] + b[2], b[1] + b[3]
    iw = max(0.0, min(ax1, bx1) - max(a[0], b[0]))
    ih = max(0.0, min(ay1, by1) - max(a[1], b[1]))
    inter = iw * ih
    union = a[2] * a[3] + b[2] * b[3] - inter
    return inter / union if union > 0 else 0.0


def match_counts(dets, gts, n_classes, iou_thr=0.5):
    """Greedy per-class matching by score. dets (cls, score, x, y, w, h),
    gts (cls, x, y, w, h). Returns arrays tp, fp, fn per class."""
    tp = np.zeros(n_classes, int)
    fp = np.zeros(n_classes, int)
    fn = np.zeros(n_classes, int)
    for c in range(n_classes):
        d = sorted([x for x in dets if x[0] == c], key=lambda x: -x[1])
        g = [x[1:] for x in gts if x[0] == c]
        used = [False] * len(g)
        for det in d:
            best, bi = 0.0, -1
            for j, gt in enumerate(g):
                if not used[j]:
                    v = iou_xywh(det[2:], gt)
                    if v > best:
                        best, bi = v, j
            if best >= iou_thr:
                used[bi] = True
                tp[c] += 1
            else:
                fp[c] += 1
        fn[c] += used.count(False)
    return tp, fp, fn
