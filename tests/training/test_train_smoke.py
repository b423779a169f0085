"""train.py end to end on a handful of photos: a few optimisation steps, the
checkpoint, the export with its manifest, and the library loading the result.
Also ties train.py's defaults to the shipped model."""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

try:
    import torch
except ImportError:
    print("skipped: python3-torch is not installed")
    sys.exit(77)

import cv2
import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "training"))
import train  # noqa: E402
from average_weights import average  # noqa: E402
from augment import paste_distractors, paste_negatives  # noqa: E402
from common import (ARCHS, DEFAULT_ARCH, Detector, Exported, class_scores, grow_from, init_from_onnx,  # noqa: E402
                    letterbox)
from datasets import is_hard_hat_held_out  # noqa: E402

PROBE = os.environ.get("HMD_LIBRARY_PROBE", "")
MODEL = os.environ.get("HMD_SHIPPED_MODEL_DIR", "")
SAMPLE = os.path.join(HERE, "..", "assets", "hard-hat-sample")


class TrainSmokeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not (os.access(PROBE, os.X_OK) and os.path.isdir(MODEL)):
            raise AssertionError("run through CTest: HMD_LIBRARY_PROBE and HMD_SHIPPED_MODEL_DIR are not set")
        torch.set_num_threads(1)
        cls.tmp = tempfile.mkdtemp(prefix="hmd-train-")
        # Eight photos to train on and two of the held-out fifth for the printout.
        names = sorted(os.listdir(os.path.join(SAMPLE, "images")))
        fit = [n for n in names if not is_hard_hat_held_out(n)][:8]
        held_out = [n for n in names if is_hard_hat_held_out(n)][:2]
        cls.photos = os.path.join(cls.tmp, "photos")
        for sub in ("images", "labels"):
            os.makedirs(os.path.join(cls.photos, sub))
        for n in fit + held_out:
            label = os.path.splitext(n)[0] + ".txt"
            os.symlink(os.path.join(SAMPLE, "images", n), os.path.join(cls.photos, "images", n))
            os.symlink(os.path.join(SAMPLE, "labels", label), os.path.join(cls.photos, "labels", label))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_defaults_are_the_shipped_models(self):
        args = train.parse_args(["--out", self.tmp])
        self.assertIn(DEFAULT_ARCH, ARCHS)
        self.assertEqual(args.arch, DEFAULT_ARCH)
        fs = cv2.FileStorage(os.path.join(MODEL, "model.yml"), cv2.FILE_STORAGE_READ)
        shipped_input = (int(fs.getNode("input_width").real()), int(fs.getNode("input_height").real()))
        self.assertEqual(args.size, shipped_input)
        self.assertAlmostEqual(args.nms_iou, fs.getNode("nms_iou").real())
        fs.release()
        # The default body takes the shipped weights and then computes the
        # shipped network's function.
        frame = cv2.imread(os.path.join(SAMPLE, "images", sorted(os.listdir(os.path.join(SAMPLE, "images")))[0]))
        blob = letterbox(frame, *shipped_input)[0]
        det = init_from_onnx(Detector(args.arch), os.path.join(MODEL, "helmet.onnx"), torch.from_numpy(blob))
        with torch.no_grad():
            ours = Exported(det, *shipped_input).eval()(torch.from_numpy(blob)).numpy()
        net = cv2.dnn.readNetFromONNX(os.path.join(MODEL, "helmet.onnx"))
        net.setInput(blob)
        self.assertLess(float(np.abs(ours - net.forward()).max()), 1e-2)

    def test_photos_are_scaled_as_the_exported_inputs_letterbox_scales_them(self):
        args = train.parse_args(["--real", self.photos, "--out", self.tmp, "--scale-min", "1", "--scale-max", "1"])
        sources = train.Sources(args)
        rng = random.Random(0)

        def side(rows):  # the aspect jitter keeps w * h
            return np.sqrt(rows[:, 3] * rows[:, 4]).sum()

        ratios = []
        for img, lab in zip(*sources.hard_hat):
            letterbox_scale = min(args.size[0] / img.shape[1], args.size[1] / img.shape[0])
            # A crop larger than any scaled photo keeps every box whole.
            crop_lab = train.augment_photo(img, lab, 640, rng, (1.0, 1.0), sources.net_size)[1]
            ratios.append(side(crop_lab) / side(lab) / letterbox_scale)
        self.assertAlmostEqual(float(np.median(ratios)), 1.0, delta=0.02)

    def test_distractors_and_negatives_are_drawn_inside_the_photo_and_clear_of_every_head(self):
        rng = random.Random(0)
        lab = np.array([[0, 60, 60, 20, 20], [1, 110, 70, 16, 18]], np.float32)
        bank = [(np.full((30, 24, 3), 200, np.uint8), (6.0, 8.0, 12.0, 14.0))]
        pasters = [lambda img: paste_distractors(img, lab, rng, (20, 30, 150, 120), count=3),
                   lambda img: paste_negatives(img, lab, rng, (20, 30, 150, 120), bank, count=2)]
        pasted = [0, 0]
        for k in range(100):
            img = np.zeros((160, 160, 3), np.uint8)
            pasters[k % 2](img)
            drawn = img.any(axis=2)
            pasted[k % 2] += drawn.any()
            self.assertFalse(drawn[:30].any() or drawn[121:].any() or drawn[:, :20].any() or drawn[:, 151:].any())
            for _, x, y, w, h in lab:
                self.assertFalse(drawn[int(y - h / 2):int(y + h / 2) + 1, int(x - w / 2):int(x + w / 2) + 1].any())
        self.assertGreater(min(pasted), 10)  # one too large for the room left is skipped

    def test_a_grown_body_computes_the_narrower_ones_function(self):
        torch.manual_seed(1)
        narrow = Detector("h1").eval()
        for m in narrow.modules():  # trained-looking batch norms, not the identity ones
            if isinstance(m, torch.nn.BatchNorm2d):
                m.running_mean.uniform_(-0.2, 0.2)
                m.running_var.uniform_(0.5, 2.0)
        wide = grow_from(Detector("h1w"), narrow.state_dict()).eval()
        deeper = grow_from(Detector("h1r"), wide.state_dict()).eval()  # and a residual block more
        x = torch.rand(2, 3, 64, 96)
        with torch.no_grad():
            self.assertLess(float((wide(x) - narrow(x)).abs().max()), 1e-5)
            self.assertLess(float((deeper(x) - narrow(x)).abs().max()), 1e-5)
            deeper.body[-1].bn.weight.uniform_(0.5, 1.0)  # a trained block, then a second one grown onto it
            deepest = grow_from(Detector("h1r2"), deeper.state_dict()).eval()
            self.assertLess(float((deepest(x) - deeper(x)).abs().max()), 1e-5)
        with self.assertRaises(SystemExit):  # a wider body does not fit into a narrower one
            grow_from(Detector("h1"), wide.state_dict())

    def test_an_average_of_weights_lies_between_them_and_refuses_another_body(self):
        torch.manual_seed(2)
        base, tuned = Detector("h1").state_dict(), Detector("h1").state_dict()
        tuned["pred.weight"] = torch.randn_like(tuned["pred.weight"])
        tuned["body.0.1.num_batches_tracked"] += 7
        mixed = average(base, tuned, 0.25)
        self.assertTrue(torch.allclose(mixed["pred.weight"], 0.75 * base["pred.weight"] + 0.25 * tuned["pred.weight"]))
        self.assertEqual(int(mixed["body.0.1.num_batches_tracked"]), int(tuned["body.0.1.num_batches_tracked"]))
        with self.assertRaises(ValueError):
            average(base, Detector("h1w").state_dict(), 0.5)

    def test_a_head_the_network_cannot_tell_from_a_helmet_is_reported_as_a_head(self):
        # Logits (helmet, head) of an unsure cell (sigmoids 0.88 and 0.73) and of a clear helmet.
        unsure, clear = class_scores(torch.tensor([[[[2.0]], [[1.0]]], [[[4.0]], [[-4.0]]]]))[:, :, 0, 0]
        self.assertLess(float(unsure[0]), float(unsure[1]))
        self.assertGreater(float(clear[0]), 0.96)
        self.assertAlmostEqual(float(unsure[1]), float(torch.sigmoid(torch.tensor(1.0))), places=6)

    def test_a_few_steps_export_a_model_the_library_runs(self):
        checkpoint = os.path.join(self.tmp, "detector.pt")
        out = os.path.join(self.tmp, "model")
        # 8 photos in batches of 2: one epoch is 4 steps.
        args = train.parse_args(["--real", self.photos, "--out", out, "--checkpoint", checkpoint, "--epochs", "1",
                                 "--batch", "2", "--crop", "64", "--val", "2", "--threads", "1"])
        train.prepare(args)
        sources, monitors = train.load_data(args)
        model = train.initial_model(args, monitors)
        initial = {k: v.clone() for k, v in model.state_dict().items()}
        train.export(train.train(args, sources, model, monitors), args.out, args.nms_iou, args.video, args.size)
        state = torch.load(checkpoint + ".state")
        self.assertEqual(state["step"], 4)
        weights = [k for k, v in initial.items() if v.dtype.is_floating_point]
        self.assertTrue(all(torch.isfinite(state["model"][k]).all() for k in weights))
        moved = [k for k in weights if not torch.equal(state["model"][k], initial[k])]
        self.assertIn("pred.weight", moved)
        self.assertIn("body.0.0.weight", moved)
        # The manifest of a default export is the shipped one.
        with open(os.path.join(out, "model.yml")) as ours, open(os.path.join(MODEL, "model.yml")) as shipped:
            self.assertEqual(ours.read(), shipped.read())
        # Threshold 0: every suppression survivor comes back, so an empty
        # answer would mean inference did not run.
        photo = os.path.join(self.photos, "images", sorted(os.listdir(os.path.join(self.photos, "images")))[0])
        done = subprocess.run([PROBE, "detect", out, "0", photo], capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertGreater(len(done.stdout.splitlines()), 0)


if __name__ == "__main__":
    unittest.main()
