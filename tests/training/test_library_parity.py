"""The training scripts' letterbox and post-processing against the library,
which is the truth: the export's checks and the training printout read frames
through them, so a drift would judge a model on inputs it never gets."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

try:
    import torch  # noqa: F401  (common.py needs it)
except ImportError:
    print("skipped: python3-torch is not installed")
    sys.exit(77)

import cv2
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "training"))
from common import letterbox, postprocess  # noqa: E402

PROBE = os.environ.get("HMD_LIBRARY_PROBE", "")
MODEL = os.environ.get("HMD_SHIPPED_MODEL_DIR", "")
PHOTOS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "assets", "hard-hat-sample", "images")


def probe(*args):
    done = subprocess.run([PROBE, *map(str, args)], capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError(f"library_probe {args[0]} failed: {done.stderr.strip()}")
    return done.stdout


def read_manifest(folder):
    fs = cv2.FileStorage(os.path.join(folder, "model.yml"), cv2.FILE_STORAGE_READ)
    size = (int(fs.getNode("input_width").real()), int(fs.getNode("input_height").real()))
    iou, pad = fs.getNode("nms_iou").real(), int(fs.getNode("pad_value").real())
    fs.release()
    return size, iou, pad


class ParityTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not (os.access(PROBE, os.X_OK) and os.path.isdir(MODEL)):
            raise AssertionError("run through CTest: HMD_LIBRARY_PROBE and HMD_SHIPPED_MODEL_DIR are not set")
        cls.tmp = tempfile.mkdtemp(prefix="hmd-parity-")
        names = sorted(os.listdir(PHOTOS))
        photos = [cv2.imread(os.path.join(PHOTOS, n), cv2.IMREAD_COLOR) for n in names[:40:10]]
        noise = np.random.RandomState(7)
        # Photos at 416x416 (shrunk by 0.69), and frames for the other paths:
        # odd sizes, enlarged, shrunk below half, random pixels for every
        # rounding of the resize.
        frames = photos + [
            cv2.resize(photos[0], (1511, 1103), interpolation=cv2.INTER_CUBIC),
            cv2.resize(photos[1], (213, 171), interpolation=cv2.INTER_AREA),
            noise.randint(0, 256, (397, 613, 3)).astype(np.uint8),
            noise.randint(0, 256, (117, 201, 3)).astype(np.uint8),
            noise.randint(0, 256, (771, 1283, 3)).astype(np.uint8),
        ]
        cls.paths = []
        for i, frame in enumerate(frames):
            cls.paths.append(os.path.join(cls.tmp, f"frame{i}.png"))
            cv2.imwrite(cls.paths[-1], frame)
        cls.frames = [cv2.imread(p, cv2.IMREAD_COLOR) for p in cls.paths]
        cls.size, cls.iou, cls.pad = read_manifest(MODEL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_letterbox_equals_the_library_blob_bit_for_bit(self):
        width, height = self.size
        for path, frame in zip(self.paths, self.frames):
            with self.subTest(frame=frame.shape[:2]):
                out = os.path.join(self.tmp, "blob.f32")
                words = probe("blob", path, width, height, self.pad, out).split()
                shape = tuple(int(v) for v in words[1:5])
                library = np.fromfile(out, np.float32).reshape(shape)
                blob, scale, offset = letterbox(frame, width, height, self.pad)
                self.assertEqual(blob.shape, shape)
                self.assertEqual(blob.dtype, np.float32)
                self.assertEqual((scale, offset), (float(words[6]), (int(words[8]), int(words[9]))))
                differing = int(np.count_nonzero(blob != library))
                self.assertEqual(differing, 0, f"{differing} values differ, largest {np.abs(blob - library).max()}")

    def test_postprocess_gives_the_library_detections(self):
        # The library on OpenCV DNN, as cv2.dnn here: both then read the same
        # network output, and every difference is the post-processing's.
        model = os.path.join(self.tmp, "model")
        shutil.copytree(MODEL, model)
        with open(os.path.join(model, "model.yml"), "a") as f:
            f.write('backend: "opencv"\n')
        threshold = 0.3
        library = [[] for _ in self.frames]
        for line in probe("detect", model, threshold, *self.paths).splitlines():
            i, c, conf, x, y, w, h = line.split()
            library[int(i)].append((int(c), float(np.float32(conf)), int(x), int(y), int(w), int(h)))
        net = cv2.dnn.readNetFromONNX(os.path.join(MODEL, "helmet.onnx"))
        width, height = self.size
        for frame, expected in zip(self.frames, library):
            with self.subTest(frame=frame.shape[:2]):
                blob, scale, offset = letterbox(frame, width, height, self.pad)
                net.setInput(blob)
                ours = postprocess(net.forward()[0], scale, offset, threshold, self.iou,
                                   (frame.shape[1], frame.shape[0]))
                self.assertEqual(ours, expected)
        # Enough boxes, of both classes, that the comparison means something.
        found = [d for dets in library for d in dets]
        self.assertGreaterEqual(len(found), 10)
        self.assertEqual({d[0] for d in found}, {0, 1})


if __name__ == "__main__":
    unittest.main()
