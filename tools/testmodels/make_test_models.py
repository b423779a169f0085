#!/usr/bin/python3
"""Generate tiny ONNX test models whose output is a fixed, known tensor.

Usage: /usr/bin/python3 tools/testmodels/make_test_models.py [OUTDIR]
Default OUTDIR is tests/detector/models under the repository root.

Each model writes OUTDIR/<name>/model.onnx and OUTDIR/<name>/model.yml.
The graph is  output = TABLE + Reshape(0 * Slice(Flatten(images))[:numel]),
so the result is TABLE for any finite input while still consuming the input
(OpenCV's importer rejects graphs whose output ignores the input). The added
term has exactly TABLE's shape because OpenCV 4.6 fails on a broadcasting Add
of a constant [1,A,B] with a variable [1,1,1] (ReduceMean + Reshape variant).
After writing, every model is loaded with cv2.dnn and checked against TABLE.
"""
import os
import sys

import cv2
import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

# Single source of the expected outputs.
MODELS = {
    # yolov5: output [1, N, 5 + C]; row = (cx, cy, w, h, objectness, scores...)
    "v5_basic": dict(
        layout="yolov5", width=64, height=64, classes=["helmet", "head"],
        nms_iou=0.45, pad_value=114,
        rows=[
            [20, 20, 10, 10, 0.90, 0.90, 0.10],
            [21, 20, 10, 10, 0.80, 0.95, 0.05],
            [20, 20, 10, 10, 0.90, 0.10, 0.80],
            [44, 40, 12, 16, 0.50, 0.50, 0.30],
            [60, 60, 16, 16, 0.95, 0.90, 0.20],
            [0, 0, 0, 0, 0.00, 0.00, 0.00],
        ]),
    # yolov8: output [1, 4 + C, N]; column j = candidate j (cx, cy, w, h, scores...)
    "v8_basic": dict(
        layout="yolov8", width=96, height=64, classes=["helmet", "head"],
        nms_iou=0.45, pad_value=114,
        cols=[
            [30, 30, 12, 12, 0.85, 0.10],
            [31, 30, 12, 12, 0.70, 0.05],
            [70, 20, 20, 10, 0.05, 0.65],
            [48, 32, 8, 8, 0.40, 0.30],
            [0, 0, 0, 0, 0.00, 0.00],
            [0, 0, 0, 0, 0.00, 0.00],
            [0, 0, 0, 0, 0.00, 0.00],
            [0, 0, 0, 0, 0.00, 0.00],
        ]),
}


def expected_output(m):
    if "rows" in m:
        table = np.array(m["rows"], dtype=np.float32)
    else:
        table = np.array(m["cols"], dtype=np.float32).T  # attribute-major
    return table[np.newaxis].copy()  # add batch dimension


def build_onnx(name, m):
    table = expected_output(m)
    h, w = m["height"], m["width"]
    assert table.size <= 3 * h * w, "input too small to slice the output from"
    inits = [
        numpy_helper.from_array(table, "table"),
        numpy_helper.from_array(np.zeros([1], np.float32), "zero"),
        numpy_helper.from_array(np.array([0], np.int64), "starts"),
        numpy_helper.from_array(np.array([table.size], np.int64), "ends"),
        numpy_helper.from_array(np.array([1], np.int64), "axes"),
        numpy_helper.from_array(np.array(table.shape, np.int64), "out_shape"),
    ]
    nodes = [
        helper.make_node("Flatten", ["images"], ["flat"], axis=1),
        helper.make_node("Slice", ["flat", "starts", "ends", "axes"], ["some_pixels"]),
        helper.make_node("Mul", ["some_pixels", "zero"], ["zeros"]),
        helper.make_node("Reshape", ["zeros", "out_shape"], ["zeros_shaped"]),
        helper.make_node("Add", ["zeros_shaped", "table"], ["output"]),
    ]
    graph = helper.make_graph(
        nodes, name, [helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 3, h, w])],
        [helper.make_tensor_value_info("output", TensorProto.FLOAT, list(table.shape))],
        initializer=inits)
    model = helper.make_model(graph, producer_name="make_test_models", producer_version="1",
                              opset_imports=[helper.make_opsetid("", 12)])
    model.ir_version = 7
    onnx.checker.check_model(model)
    return model.SerializeToString()


def manifest(m):
    classes = ", ".join('"%s"' % c for c in m["classes"])
    return ("%%YAML:1.0\n---\n"
            "format_version: 1\n"
            'onnx_file: "model.onnx"\n'
            "input_width: %d\ninput_height: %d\n"
            'layout: "%s"\n'
            "classes: [ %s ]\n"
            "nms_iou: %g\npad_value: %d\n"
            % (m["width"], m["height"], m["layout"], classes, m["nms_iou"], m["pad_value"]))


def check(name, m, folder):
    """Load both files with OpenCV and compare against the table; return error list."""
    errors = []
    fs = cv2.FileStorage(os.path.join(folder, "model.yml"), cv2.FILE_STORAGE_READ)
    cls = fs.getNode("classes")
    got = {
        "format_version": int(fs.getNode("format_version").real()),
        "onnx_file": fs.getNode("onnx_file").string(),
        "input_width": int(fs.getNode("input_width").real()),
        "input_height": int(fs.getNode("input_height").real()),
        "layout": fs.getNode("layout").string(),
        "classes": [cls.at(i).string() for i in range(cls.size())] if cls.isSeq() else None,
        "nms_iou": fs.getNode("nms_iou").real(),
        "pad_value": int(fs.getNode("pad_value").real()),
    }
    fs.release()
    want = {"format_version": 1, "onnx_file": "model.onnx", "input_width": m["width"],
            "input_height": m["height"], "layout": m["layout"], "classes": m["classes"],
            "nms_iou": m["nms_iou"], "pad_value": m["pad_value"]}
    for k, v in want.items():
        if (abs(got[k] - v) > 1e-9) if isinstance(v, float) else got[k] != v:
            errors.append("manifest %s: got %r want %r" % (k, got[k], v))

    with open(os.path.join(folder, "model.onnx"), "rb") as f:
        net = cv2.dnn.readNetFromONNX(np.frombuffer(f.read(), np.uint8))
    table = expected_output(m)
    rng = np.random.default_rng(12345)
    for trial in range(2):
        img = rng.integers(0, 256, (m["height"], m["width"], 3), dtype=np.uint8)
        net.setInput(cv2.dnn.blobFromImage(img, 1 / 255.0, (m["width"], m["height"]),
                                           swapRB=True))
        out = net.forward("output")
        if out.shape != table.shape:
            errors.append("trial %d: shape %s want %s" % (trial, out.shape, table.shape))
        elif np.max(np.abs(out - table)) > 1e-6:
            errors.append("trial %d: max diff %g" % (trial, np.max(np.abs(out - table))))
    return errors


def build_ops_mix():
    """A small network over every operation the oneDNN backend supports, for
    comparing it with OpenCV's importer (not a detector: no manifest)."""
    rng = np.random.default_rng(7)

    def weights(name, *shape, scale=0.3):
        return numpy_helper.from_array((rng.standard_normal(shape) * scale).astype(np.float32), name)

    h, w = 40, 56
    inits = [
        weights("w1", 8, 3, 3, 3), weights("b1", 8),
        numpy_helper.from_array((rng.random(8) + 0.5).astype(np.float32), "bn_scale"),
        weights("bn_bias", 8), weights("bn_mean", 8),
        numpy_helper.from_array((rng.random(8) + 0.5).astype(np.float32), "bn_var"),
        weights("w2", 8, 2, 3, 3), weights("b2", 8),
        weights("w3", 8, 16, 1, 1), weights("b3", 8),
        weights("w4", 8, 3, 3, 3),
        numpy_helper.from_array(np.array([], np.float32), "roi"),
        numpy_helper.from_array(np.array([1, 1, 2, 2], np.float32), "scales"),
        weights("channel_scale", 8, 1, 1),
        numpy_helper.from_array(np.array([1], np.int64), "s_start"),
        numpy_helper.from_array(np.array([7], np.int64), "s_end"),
        numpy_helper.from_array(np.array([1], np.int64), "s_axis"),
        numpy_helper.from_array(np.array([2], np.int64), "s_step"),
        numpy_helper.from_array(np.array([1, 3, -1], np.int64), "shape"),
        numpy_helper.from_array(np.array([4.0], np.float32), "four"),
    ]
    nodes = [
        helper.make_node("Conv", ["images", "w1", "b1"], ["c1"], kernel_shape=[3, 3], strides=[2, 2],
                         pads=[1, 1, 1, 1]),
        helper.make_node("BatchNormalization", ["c1", "bn_scale", "bn_bias", "bn_mean", "bn_var"], ["n1"]),
        helper.make_node("LeakyRelu", ["n1"], ["a1"], alpha=0.1),
        helper.make_node("Conv", ["a1", "w2", "b2"], ["c2"], kernel_shape=[3, 3], group=4, dilations=[2, 2],
                         pads=[2, 2, 2, 2]),
        helper.make_node("Relu", ["c2"], ["a2"]),
        helper.make_node("MaxPool", ["a2"], ["p2"], kernel_shape=[3, 3], pads=[1, 1, 1, 1]),
        helper.make_node("Concat", ["a2", "p2"], ["cat"], axis=1),
        helper.make_node("Conv", ["cat", "w3", "b3"], ["c3"], kernel_shape=[1, 1]),
        helper.make_node("Sigmoid", ["c3"], ["a3"]),
        helper.make_node("Resize", ["a3", "roi", "scales"], ["up"], mode="nearest",
                         coordinate_transformation_mode="asymmetric", nearest_mode="floor"),
        helper.make_node("Conv", ["images", "w4"], ["c4"], kernel_shape=[3, 3], pads=[1, 1, 1, 1]),
        helper.make_node("Add", ["up", "c4"], ["sum"]),
        helper.make_node("Mul", ["sum", "channel_scale"], ["scaled"]),
        helper.make_node("Slice", ["scaled", "s_start", "s_end", "s_axis", "s_step"], ["picked"]),
        helper.make_node("Div", ["picked", "four"], ["quarter"]),
        helper.make_node("Exp", ["quarter"], ["grown"]),
        helper.make_node("Sub", ["grown", "quarter"], ["diff"]),
        helper.make_node("Reshape", ["diff", "shape"], ["flat"]),
        helper.make_node("Transpose", ["flat"], ["output"], perm=[0, 2, 1]),
    ]
    graph = helper.make_graph(
        nodes, "ops_mix", [helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 3, h, w])],
        [helper.make_tensor_value_info("output", TensorProto.FLOAT, [1, h * w, 3])], initializer=inits)
    model = helper.make_model(graph, producer_name="make_test_models", producer_version="1",
                              opset_imports=[helper.make_opsetid("", 12)])
    model.ir_version = 7
    onnx.checker.check_model(model)
    return model.SerializeToString(), (h, w)


def build_unsupported():
    """v5_basic with an operation the oneDNN backend does not know (OpenCV does)."""
    model = onnx.load_from_string(build_onnx("v5_basic", MODELS["v5_basic"]))
    for node in model.graph.node:
        if node.op_type == "Mul":
            node.input[0] = "abs_pixels"
    model.graph.node.insert(2, helper.make_node("Abs", ["some_pixels"], ["abs_pixels"], name="abs_node"))
    onnx.checker.check_model(model)
    return model.SerializeToString()


def write_graph_models(outdir):
    errors = []
    folder = os.path.join(outdir, "ops_mix")
    os.makedirs(folder, exist_ok=True)
    data, (h, w) = build_ops_mix()
    with open(os.path.join(folder, "model.onnx"), "wb") as f:
        f.write(data)
    net = cv2.dnn.readNetFromONNX(np.frombuffer(data, np.uint8))
    net.setInput(np.random.default_rng(1).random((1, 3, h, w), dtype=np.float32))
    if net.forward().shape != (1, h * w, 3):
        errors.append("ops_mix: OpenCV gives shape %s" % (net.forward().shape,))
    folder = os.path.join(outdir, "unsupported_op")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "model.onnx"), "wb") as f:
        f.write(build_unsupported())
    with open(os.path.join(folder, "model.yml"), "w") as f:
        f.write(manifest(MODELS["v5_basic"]))
    errors += ["unsupported_op: " + e for e in check("v5_basic", MODELS["v5_basic"], folder)]
    return errors


def main():
    repo = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(repo, "tests", "detector", "models")
    failed = False
    for name, m in MODELS.items():
        folder = os.path.join(outdir, name)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "model.onnx"), "wb") as f:
            f.write(build_onnx(name, m))
        with open(os.path.join(folder, "model.yml"), "w") as f:
            f.write(manifest(m))
        errors = check(name, m, folder)
        for e in errors:
            print("FAIL %s: %s" % (name, e))
        if not errors:
            print("ok %s" % name)
        failed = failed or bool(errors)
    errors = write_graph_models(outdir)
    for e in errors:
        print("FAIL %s" % e)
    if not errors:
        print("ok ops_mix, unsupported_op")
    return 1 if failed or errors else 0


if __name__ == "__main__":
    sys.exit(main())
