"""Training crops: scale, placement, flips and what cameras do to colour.

Boxes are (cls, cx, cy, w, h) rows in pixels of the crop."""
import math

import cv2
import numpy as np

from common import PAD_VALUE

# Shares of the photometric steps. Grey and dark frames stand for night and
# infrared cameras, the wide hue turn for hard hats in colours our photos
# rarely show (white and blue ones among them).
GREY_SHARE = 0.2
DARK_SHARE = 0.1
HUE_TURN_SHARE = 0.2
MOTION_BLUR_SHARE = 0.1
FOCUS_BLUR_SHARE = 0.15
# Helmet-coloured blobs pasted away from every head. Most false helmets on
# held-out photos without hard hats are red or yellow things with no head
# under them: bottle caps, flowers, logos, signs. Off in the shipped model: a
# trial run with 0.3 (and grey at 0.3) raised them (docs/training.md).
DISTRACTOR_SHARE = 0.0
# Hard negatives cut from real training photos (mine_negatives.py): the
# things a model took for hard hats, pasted clear of every head.
NEGATIVE_SHARE = 0.3
DISTRACTOR_COLOURS = [(30, 30, 200), (20, 110, 240), (30, 210, 240), (235, 235, 235), (190, 90, 20), (40, 160, 40)]


def clip_labels(lab, w, h, min_visible=0.5):
    """Clip rows to the image, dropping mostly hidden ones."""
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


def resize_with_labels(img, lab, fx, fy):
    h, w = img.shape[:2]
    size = (max(8, int(round(w * fx))), max(8, int(round(h * fy))))
    shrink = size[0] < w
    img = cv2.resize(img, size, interpolation=cv2.INTER_AREA if shrink else cv2.INTER_LINEAR)
    lab = lab.copy()
    lab[:, 1] *= size[0] / w
    lab[:, 3] *= size[0] / w
    lab[:, 2] *= size[1] / h
    lab[:, 4] *= size[1] / h
    return img, lab


def augment_rendered(img, lab, crop, rng, negatives=()):
    """A rendered square image, drawn at the detector's scale already: mild
    scale jitter, then the shared placement and colour steps."""
    if rng.random() < 0.5:
        f = math.exp(rng.uniform(math.log(0.8), math.log(1.25)))
        img, lab = resize_with_labels(img, lab, f, f)
    return place(img, lab, crop, rng, negatives)


def augment_photo(img, lab, crop, rng, scale_range, net_size, negatives=()):
    """A real photo: scaled as the letterbox of the exported input `net_size`
    (w, h) would scale it, times a log-uniform jitter (down to small, distant
    heads) and a mild aspect jitter, then placed."""
    h, w = img.shape[:2]
    jitter = math.exp(rng.uniform(math.log(scale_range[0]), math.log(scale_range[1])))
    f = min(net_size[0] / w, net_size[1] / h) * jitter
    aspect = math.exp(rng.uniform(-0.15, 0.15))
    return place(*resize_with_labels(img, lab, f * aspect, f / aspect), crop, rng, negatives)


def place(img, lab, crop, rng, negatives=()):
    """Random crop window (or padding around a small image), the letterbox's
    grey band, hard negatives, flip, colour and blur."""
    h, w = img.shape[:2]
    out = np.full((crop, crop, 3), PAD_VALUE if rng.random() < 0.5 else rng.randint(0, 255), np.uint8)
    dx = rng.randint(min(0, crop - w), max(0, crop - w))
    dy = rng.randint(min(0, crop - h), max(0, crop - h))
    sx0, sy0 = max(0, -dx), max(0, -dy)
    tx0, ty0 = max(0, dx), max(0, dy)
    cw, ch = min(w - sx0, crop - tx0), min(h - sy0, crop - ty0)
    out[ty0:ty0 + ch, tx0:tx0 + cw] = img[sy0:sy0 + ch, sx0:sx0 + cw]
    lab = lab.copy()
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
    if DISTRACTOR_SHARE and rng.random() < DISTRACTOR_SHARE:  # no draw when off: the shipped run's stream
        paste_distractors(out, lab, rng, (tx0, ty0, tx0 + cw, ty0 + ch))
    if negatives and rng.random() < NEGATIVE_SHARE:  # no draw without a bank: earlier runs' stream
        paste_negatives(out, lab, rng, (tx0, ty0, tx0 + cw, ty0 + ch), negatives)
    if rng.random() < 0.5:
        out = out[:, ::-1]
        lab[:, 1] = crop - lab[:, 1]
    return camera(np.ascontiguousarray(out), rng), lab


def paste_distractors(img, lab, rng, region, count=None):
    """Draws one to three shaded ellipses or plates in hard-hat colours inside
    `region` (x0, y0, x1, y1: the photo, not its padding), each clear of every
    labelled box grown by half its size, in place."""
    crop = img.shape[0]
    keep_out = [(x - w, y - h, x + w, y + h) for _, x, y, w, h in lab]
    for _ in range(rng.randint(1, 3) if count is None else count):
        for _attempt in range(10):
            w = rng.uniform(6, 40)
            h = w * rng.uniform(0.5, 1.2)
            r = max(w, h) / 2  # half the extent, turned or not
            x, y = rng.uniform(region[0] + r, region[2] - r), rng.uniform(region[1] + r, region[3] - r)
            if (region[0] + r <= x <= region[2] - r and region[1] + r <= y <= region[3] - r and
                    all(x + r < x0 or x - r > x1 or y + r < y0 or y - r > y1 for x0, y0, x1, y1 in keep_out)):
                break
        else:
            continue
        colour = np.array(rng.choice(DISTRACTOR_COLOURS), np.float32) * rng.uniform(0.6, 1.1)
        mask = np.zeros(img.shape[:2], np.uint8)
        centre, axes = (int(x), int(y)), (max(2, int(w / 2)), max(2, int(h / 2)))
        if rng.random() < 0.7:
            cv2.ellipse(mask, centre, axes, rng.uniform(-30, 30), 0, 360, 255, -1)
        else:
            cv2.rectangle(mask, (centre[0] - axes[0], centre[1] - axes[1]), (centre[0] + axes[0], centre[1] + axes[1]),
                          255, -1)
        # Lit from above, as a shell or a cap is.
        rows = np.arange(crop, dtype=np.float32)[:, None]
        shade = np.clip(1.25 - 0.5 * (rows - (y - h / 2)) / max(h, 1.0), 0.7, 1.25)
        inside = mask > 0
        img[inside] = np.clip(colour[None, :] * np.broadcast_to(shade, mask.shape)[inside][:, None], 0, 255)
        keep_out.append((x - r, y - r, x + r, y + r))


def paste_negatives(img, lab, rng, region, negatives, count=None):
    """Pastes one or two patches of `negatives` ((patch, (x, y, w, h) of the
    thing inside it)) into `region`, clear of every labelled box grown by half
    its size, in place. The thing is drawn 8 to 56 px tall, as heads are; the
    patch's rim fades into the crop so that no straight edge gives it away."""
    keep_out = [(x - w, y - h, x + w, y + h) for _, x, y, w, h in lab]
    for _ in range(rng.randint(1, 2) if count is None else count):
        patch, (_, _, _, core_h) = negatives[rng.randrange(len(negatives))]
        f = math.exp(rng.uniform(math.log(8), math.log(56))) / max(core_h, 1.0)
        ph, pw = max(4, int(round(patch.shape[0] * f))), max(4, int(round(patch.shape[1] * f)))
        if pw >= region[2] - region[0] or ph >= region[3] - region[1]:
            continue
        for _attempt in range(10):
            x0, y0 = rng.randint(region[0], region[2] - pw), rng.randint(region[1], region[3] - ph)
            if all(x0 + pw < kx0 or x0 > kx1 or y0 + ph < ky0 or y0 > ky1 for kx0, ky0, kx1, ky1 in keep_out):
                break
        else:
            continue
        resized = cv2.resize(patch, (pw, ph), interpolation=cv2.INTER_AREA if f < 1 else cv2.INTER_LINEAR)
        rim = max(1.0, 0.2 * min(pw, ph))
        ys, xs = np.arange(ph, dtype=np.float32), np.arange(pw, dtype=np.float32)
        edge = np.minimum(np.minimum(ys, ph - 1 - ys)[:, None], np.minimum(xs, pw - 1 - xs)[None, :])
        alpha = np.clip((edge + 1) / rim, 0, 1)[..., None]
        under = img[y0:y0 + ph, x0:x0 + pw].astype(np.float32)
        img[y0:y0 + ph, x0:x0 + pw] = (alpha * resized + (1 - alpha) * under).astype(np.uint8)
        keep_out.append((x0, y0, x0 + pw, y0 + ph))


def camera(img, rng):
    """Colour, light and blur as different cameras give them."""
    if rng.random() < 0.8:
        hsv = cv2.cvtColor(img, cv2.COLOR_BGR2HSV).astype(np.float32)
        turn = rng.uniform(-90, 90) if rng.random() < HUE_TURN_SHARE else rng.uniform(-4, 4)
        hsv[..., 0] = (hsv[..., 0] + turn) % 180
        hsv[..., 1] *= rng.uniform(0.5, 1.4)
        hsv[..., 2] *= rng.uniform(0.6, 1.4)
        img = cv2.cvtColor(np.clip(hsv, 0, 255).astype(np.uint8), cv2.COLOR_HSV2BGR)
    if rng.random() < DARK_SHARE:  # low light: dark, flat and noisy
        noise = np.random.default_rng(rng.randrange(1 << 30)).normal(0, rng.uniform(2, 8), img.shape)
        img = np.clip(img.astype(np.float32) * rng.uniform(0.2, 0.5) + noise, 0, 255).astype(np.uint8)
    if rng.random() < GREY_SHARE:  # night and infrared cameras
        img = cv2.cvtColor(cv2.cvtColor(img, cv2.COLOR_BGR2GRAY), cv2.COLOR_GRAY2BGR)
    if rng.random() < MOTION_BLUR_SHARE:
        img = motion_blur(img, rng.randint(3, 9), rng.uniform(0, 180))
    elif rng.random() < FOCUS_BLUR_SHARE:  # out-of-focus or compressed footage
        img = cv2.GaussianBlur(img, (0, 0), rng.uniform(0.5, 1.2))
    return np.ascontiguousarray(img)


def motion_blur(img, length, degrees):
    kernel = np.zeros((length, length), np.float32)
    kernel[length // 2, :] = 1.0 / length
    turn = cv2.getRotationMatrix2D(((length - 1) / 2, (length - 1) / 2), degrees, 1.0)
    kernel = cv2.warpAffine(kernel, turn, (length, length))
    return cv2.filter2D(img, -1, kernel / max(kernel.sum(), 1e-6))


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
