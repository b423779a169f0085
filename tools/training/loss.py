"""Target assignment and losses of the one-output, stride-8 detector."""
import numpy as np
import torch
import torch.nn.functional as F

from common import CLASSES, STRIDE, decode_raw


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

