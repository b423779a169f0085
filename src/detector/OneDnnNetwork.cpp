#include "OneDnnNetwork.h"

#include <oneapi/dnnl/dnnl.hpp>
#if DNNL_CPU_RUNTIME == DNNL_RUNTIME_OMP
#include <omp.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <unordered_map>

namespace zor::hmd {

using Shape = std::vector<int64_t>;
// Per output axis, the input offset (in elements) of each index on that axis.
using AxisMaps = std::vector<std::vector<int64_t>>;

namespace {

constexpr size_t kMaxRank = 8;

enum class StepKind { Conv, Unary, Binary, Concat, Gather, Copy, MaxPool, Affine };
enum class UnaryOp { None, Relu, LeakyRelu, Sigmoid, Tanh, Exp };
enum class BinaryOp { Add, Sub, Mul, Div };

// Product of the dimensions [from, to).
int64_t productOf(const Shape& shape, size_t from, size_t to) {
    int64_t product = 1;
    for (size_t d = from; d < to && d < shape.size(); ++d) {
        product *= shape[d];
    }
    return product;
}

int64_t elementCount(const Shape& shape) {
    return productOf(shape, 0, shape.size());
}

Shape rowMajorStrides(const Shape& shape) {
    Shape strides(shape.size(), 1);
    for (size_t d = shape.size(); d-- > 1;) {
        strides[d - 1] = strides[d] * shape[d];
    }
    return strides;
}

std::string shapeText(const Shape& shape) {
    std::string text = "[";
    for (size_t d = 0; d < shape.size(); ++d) {
        if (d) {
            text += ',';
        }
        text += std::to_string(shape[d]);
    }
    return text + "]";
}

struct Unsupported : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Shapes come from the file: refuse those whose sizes would overflow or that
// the kernels cannot index, before anything multiplies or allocates them.
void checkShape(const Shape& shape) {
    constexpr int64_t kMostElements = int64_t{1} << 31;
    if (shape.size() > kMaxRank) {
        throw Unsupported("tensors of more than 8 dimensions");
    }
    int64_t count = 1;
    for (const int64_t dim : shape) {
        if (dim < 0 || dim > kMostElements || (count *= std::max<int64_t>(dim, 1)) > kMostElements) {
            throw Unsupported("tensor shape " + shapeText(shape) + " out of range");
        }
    }
}

}  // namespace

struct PlanValue {
    Shape shape;
    bool constant = false;
    bool integer = false;
    std::vector<float> floats;
    std::vector<int64_t> ints;
};

struct PlanStep {
    StepKind kind = StepKind::Copy;
    std::vector<int> inputs;
    int output = -1;
    // Conv: plain OIHW weights (per group), batch norm folded in.
    std::vector<float> weights;
    Shape weightShape;
    std::vector<float> bias;
    int64_t groups = 1;
    Shape kernel, strides, dilations, padsBegin, padsEnd;
    // Conv's fused activation, or the Unary step's operation.
    UnaryOp unary = UnaryOp::None;
    float alpha = 0.0f;
    BinaryOp binary = BinaryOp::Add;
    std::vector<AxisMaps> maps;       // Gather: one, Binary: one per operand
    int64_t axis = 0;                 // Concat
    std::vector<float> scale, shift;  // Affine, per channel
};

struct OneDnnPlan {
    std::vector<PlanValue> values;
    std::vector<PlanStep> steps;
    int input = -1;
    int output = -1;
};

namespace {

// ---- kernels on plain row-major tensors ----------------------------------

float applyUnary(UnaryOp op, float alpha, float x) {
    switch (op) {
        case UnaryOp::Relu:
            return x > 0.0f ? x : 0.0f;
        case UnaryOp::LeakyRelu:
            return x >= 0.0f ? x : alpha * x;
        case UnaryOp::Sigmoid:
            return 1.0f / (1.0f + std::exp(-x));
        case UnaryOp::Tanh:
            return std::tanh(x);
        case UnaryOp::Exp:
            return std::exp(x);
        case UnaryOp::None:
            break;
    }
    return x;
}

// Visits the output in row-major order; `visit(offsets, inner)` handles one
// run of the last axis, given each operand's offset from its outer axes.
template <size_t Operands, typename Visit>
void forEachRun(const Shape& shape, const std::array<const AxisMaps*, Operands>& maps, Visit visit) {
    const size_t rank = shape.size();
    const int64_t count = elementCount(shape);
    if (count == 0) {
        return;
    }
    if (rank == 0) {
        visit(std::array<int64_t, Operands>{}, int64_t{1});
        return;
    }
    const int64_t inner = shape[rank - 1];
    std::array<int64_t, kMaxRank> index{};
    for (int64_t run = 0; run < count / inner; ++run) {
        std::array<int64_t, Operands> base{};
        for (size_t k = 0; k < Operands; ++k) {
            for (size_t d = 0; d + 1 < rank; ++d) {
                base[k] += (*maps[k])[d][index[d]];
            }
        }
        visit(base, inner);
        for (size_t d = rank - 1; d-- > 0;) {
            if (++index[d] < shape[d]) {
                break;
            }
            index[d] = 0;
        }
    }
}

void gather(const float* in, float* out, const Shape& shape, const AxisMaps& maps) {
    if (shape.empty()) {
        *out = *in;
        return;
    }
    const std::vector<int64_t>& last = maps.back();
    forEachRun<1>(shape, {&maps}, [&](const std::array<int64_t, 1>& base, int64_t inner) {
        const float* src = in + base[0];
        for (int64_t i = 0; i < inner; ++i) {
            *out++ = src[last[i]];
        }
    });
}

template <typename Op>
void binaryLoop(const float* a, const float* b, float* out, const Shape& shape, const AxisMaps& mapA,
                const AxisMaps& mapB, Op op) {
    if (shape.empty()) {
        *out = op(*a, *b);
        return;
    }
    const std::vector<int64_t>& lastA = mapA.back();
    const std::vector<int64_t>& lastB = mapB.back();
    forEachRun<2>(shape, {&mapA, &mapB}, [&](const std::array<int64_t, 2>& base, int64_t inner) {
        const float* x = a + base[0];
        const float* y = b + base[1];
        for (int64_t i = 0; i < inner; ++i) {
            *out++ = op(x[lastA[i]], y[lastB[i]]);
        }
    });
}

void runBinary(const PlanStep& step, const float* a, const float* b, float* out, const Shape& shape) {
    const AxisMaps& mapA = step.maps[0];
    const AxisMaps& mapB = step.maps[1];
    switch (step.binary) {
        case BinaryOp::Add:
            binaryLoop(a, b, out, shape, mapA, mapB, std::plus<>());
            break;
        case BinaryOp::Sub:
            binaryLoop(a, b, out, shape, mapA, mapB, std::minus<>());
            break;
        case BinaryOp::Mul:
            binaryLoop(a, b, out, shape, mapA, mapB, std::multiplies<>());
            break;
        case BinaryOp::Div:
            binaryLoop(a, b, out, shape, mapA, mapB, std::divides<>());
            break;
    }
}

void runMaxPool(const PlanStep& step, const float* in, float* out, const Shape& inShape, const Shape& outShape) {
    const int64_t planes = inShape[0] * inShape[1];
    const int64_t inH = inShape[2], inW = inShape[3], outH = outShape[2], outW = outShape[3];
    for (int64_t plane = 0; plane < planes; ++plane) {
        const float* src = in + plane * inH * inW;
        for (int64_t oy = 0; oy < outH; ++oy) {
            for (int64_t ox = 0; ox < outW; ++ox) {
                float best = -std::numeric_limits<float>::infinity();
                for (int64_t ky = 0; ky < step.kernel[0]; ++ky) {
                    const int64_t iy = oy * step.strides[0] - step.padsBegin[0] + ky * step.dilations[0];
                    if (iy < 0 || iy >= inH) {
                        continue;
                    }
                    for (int64_t kx = 0; kx < step.kernel[1]; ++kx) {
                        const int64_t ix = ox * step.strides[1] - step.padsBegin[1] + kx * step.dilations[1];
                        if (ix >= 0 && ix < inW) {
                            best = std::max(best, src[iy * inW + ix]);
                        }
                    }
                }
                *out++ = best;
            }
        }
    }
}

// Runs every step but the convolution on plain tensors: the contexts at run
// time, and constant folding while compiling.
void runPlainStep(const PlanStep& step, const std::vector<const PlanValue*>& shapes,
                  const std::vector<const float*>& in, float* out, const Shape& outShape) {
    switch (step.kind) {
        case StepKind::Unary: {
            const int64_t count = elementCount(outShape);
            for (int64_t i = 0; i < count; ++i) {
                out[i] = applyUnary(step.unary, step.alpha, in[0][i]);
            }
            break;
        }
        case StepKind::Binary:
            runBinary(step, in[0], in[1], out, outShape);
            break;
        case StepKind::Gather:
            gather(in[0], out, outShape, step.maps[0]);
            break;
        case StepKind::Copy:
            std::copy_n(in[0], elementCount(outShape), out);
            break;
        case StepKind::Concat: {
            const int64_t outer = productOf(outShape, 0, step.axis);
            for (int64_t o = 0; o < outer; ++o) {
                for (size_t k = 0; k < in.size(); ++k) {
                    const Shape& shape = shapes[k]->shape;
                    const int64_t chunk = productOf(shape, step.axis, shape.size());
                    out = std::copy_n(in[k] + o * chunk, chunk, out);
                }
            }
            break;
        }
        case StepKind::MaxPool:
            runMaxPool(step, in[0], out, shapes[0]->shape, outShape);
            break;
        case StepKind::Affine: {
            const int64_t channels = outShape[1];
            const int64_t inner = productOf(outShape, 2, outShape.size());
            const int64_t outer = outShape[0];
            const float* src = in[0];
            for (int64_t n = 0; n < outer; ++n) {
                for (int64_t c = 0; c < channels; ++c) {
                    for (int64_t i = 0; i < inner; ++i) {
                        *out++ = *src++ * step.scale[c] + step.shift[c];
                    }
                }
            }
            break;
        }
        case StepKind::Conv:
            throw std::logic_error("convolutions run on oneDNN");
    }
}

// ---- compiling the graph ---------------------------------------------------

AxisMaps broadcastMaps(const Shape& in, const Shape& out) {
    const Shape strides = rowMajorStrides(in);
    AxisMaps maps(out.size());
    const size_t lead = out.size() - in.size();
    for (size_t d = 0; d < out.size(); ++d) {
        maps[d].resize(out[d], 0);
        if (d >= lead && in[d - lead] != 1) {
            for (int64_t i = 0; i < out[d]; ++i) {
                maps[d][i] = i * strides[d - lead];
            }
        }
    }
    return maps;
}

int64_t normalizedAxis(int64_t axis, size_t rank) {
    const int64_t r = static_cast<int64_t>(rank);
    if (axis < -r || axis >= r) {
        throw Unsupported("axis " + std::to_string(axis) + " out of range");
    }
    return axis < 0 ? axis + r : axis;
}

// Output size and the two paddings of one pooled or convolved axis.
int64_t windowedSize(int64_t in, int64_t kernel, int64_t stride, int64_t dilation, const std::string& autoPad,
                     int64_t& padBegin, int64_t& padEnd, bool ceilMode) {
    const int64_t extent = (kernel - 1) * dilation + 1;
    if (autoPad == "SAME_UPPER" || autoPad == "SAME_LOWER") {
        const int64_t out = (in + stride - 1) / stride;
        const int64_t total = std::max<int64_t>(0, (out - 1) * stride + extent - in);
        padBegin = autoPad == "SAME_UPPER" ? total / 2 : total - total / 2;
        padEnd = total - padBegin;
        return out;
    }
    if (autoPad == "VALID") {
        padBegin = padEnd = 0;
    } else if (!autoPad.empty() && autoPad != "NOTSET") {
        throw Unsupported("auto_pad " + autoPad);
    }
    const int64_t span = in + padBegin + padEnd - extent;
    if (span < 0) {
        throw Unsupported("window larger than its input");
    }
    int64_t out = (ceilMode ? (span + stride - 1) / stride : span / stride) + 1;
    if (ceilMode && (out - 1) * stride >= in + padBegin) {
        --out;  // the last window would start in the padding
    }
    return out;
}

class PlanBuilder {
public:
    PlanBuilder(const OnnxGraph& graph, Shape inputShape) : graph_(graph), inputShape_(std::move(inputShape)) {}

    std::shared_ptr<OneDnnPlan> build() {
        if (graph_.outputs.size() != 1) {
            throw Unsupported("the graph has " + std::to_string(graph_.outputs.size()) + " outputs, not one");
        }
        for (const OnnxTensor& tensor : graph_.initializers) {
            define(tensor.name, fromTensor(tensor));
        }
        for (const std::string& name : graph_.inputs) {
            if (ids_.count(name) == 0) {
                if (plan_->input >= 0) {
                    throw Unsupported("the graph has more than one input");
                }
                checkShape(inputShape_);
                PlanValue input;
                input.shape = inputShape_;
                plan_->input = define(name, std::move(input));
            }
        }
        if (plan_->input < 0) {
            throw Unsupported("the graph has no input");
        }
        for (const OnnxNode& node : graph_.nodes) {
            try {
                addNode(node);
            } catch (const Unsupported& e) {
                throw Unsupported(node.opType + " node '" + node.name + "': " + e.what());
            }
        }
        const auto found = ids_.find(graph_.outputs[0]);
        if (found == ids_.end()) {
            throw Unsupported("the graph's output is never computed");
        }
        plan_->output = found->second;
        if (plan_->values[plan_->output].integer) {
            throw Unsupported("the graph's output is not a float tensor");
        }
        fuse();
        return std::move(plan_);
    }

private:
    int define(const std::string& name, PlanValue value) {
        plan_->values.push_back(std::move(value));
        const int id = static_cast<int>(plan_->values.size()) - 1;
        ids_[name] = id;
        return id;
    }

    PlanValue fromTensor(const OnnxTensor& tensor) {
        if (tensor.external) {
            throw Unsupported("tensor '" + tensor.name + "' is kept in an external file");
        }
        checkShape(tensor.dims);
        PlanValue value;
        value.shape = tensor.dims;
        value.constant = true;
        const int64_t count = elementCount(tensor.dims);
        switch (static_cast<OnnxType>(tensor.dataType)) {
            case OnnxType::Float:
            case OnnxType::Double:
                value.floats = tensor.floats;
                if (static_cast<int64_t>(value.floats.size()) != count) {
                    throw Unsupported("tensor '" + tensor.name + "' holds " + std::to_string(value.floats.size()) +
                                      " values for shape " + shapeText(tensor.dims));
                }
                break;
            case OnnxType::Int32:
            case OnnxType::Int64:
                value.integer = true;
                value.ints = tensor.ints;
                if (static_cast<int64_t>(value.ints.size()) != count) {
                    throw Unsupported("tensor '" + tensor.name + "' holds " + std::to_string(value.ints.size()) +
                                      " values for shape " + shapeText(tensor.dims));
                }
                break;
            default:
                throw Unsupported("tensor '" + tensor.name + "' has element type " + std::to_string(tensor.dataType));
        }
        return value;
    }

    bool hasInput(const OnnxNode& node, size_t index) const {
        return index < node.inputs.size() && !node.inputs[index].empty();
    }

    int inputId(const OnnxNode& node, size_t index) const {
        if (!hasInput(node, index)) {
            throw Unsupported("input " + std::to_string(index) + " missing");
        }
        const auto found = ids_.find(node.inputs[index]);
        if (found == ids_.end()) {
            throw Unsupported("input '" + node.inputs[index] + "' is not computed before it");
        }
        return found->second;
    }

    const PlanValue& value(int id) const { return plan_->values[id]; }

    int floatInput(const OnnxNode& node, size_t index) const {
        const int id = inputId(node, index);
        if (value(id).integer) {
            throw Unsupported("integer tensors as data");
        }
        if (value(id).shape.size() > kMaxRank) {
            throw Unsupported("tensors of more than 8 dimensions");
        }
        return id;
    }

    std::vector<int64_t> constantInts(const OnnxNode& node, size_t index) const {
        const PlanValue& v = value(inputId(node, index));
        if (!v.constant || !v.integer) {
            throw Unsupported("input " + std::to_string(index) + " must be a constant integer tensor");
        }
        return v.ints;
    }

    std::vector<float> constantFloats(const OnnxNode& node, size_t index) const {
        const PlanValue& v = value(inputId(node, index));
        if (!v.constant || v.integer) {
            throw Unsupported("input " + std::to_string(index) + " must be a constant float tensor");
        }
        return v.floats;
    }

    void singleOutput(const OnnxNode& node) const {
        for (size_t k = 1; k < node.outputs.size(); ++k) {
            if (!node.outputs[k].empty()) {
                throw Unsupported("more than one output");
            }
        }
        if (node.outputs.empty() || node.outputs[0].empty()) {
            throw Unsupported("no output");
        }
    }

    // Strides, dilations and pads of a 2-D convolution or pooling window
    // (step.kernel already set), and the two spatial sizes of its output.
    static void readWindow(const OnnxNode& node, const Shape& in, bool ceilMode, PlanStep& step, Shape& out) {
        step.strides = node.intsOr("strides", {1, 1});
        step.dilations = node.intsOr("dilations", {1, 1});
        const Shape pads = node.intsOr("pads", {0, 0, 0, 0});
        if (step.strides.size() != 2 || step.dilations.size() != 2 || pads.size() != 4) {
            throw Unsupported("strides, dilations or pads of the wrong length");
        }
        step.padsBegin = {pads[0], pads[1]};
        step.padsEnd = {pads[2], pads[3]};
        const std::string autoPad = node.textOr("auto_pad", "NOTSET");
        for (int d = 0; d < 2; ++d) {
            out[2 + d] = windowedSize(in[2 + d], step.kernel[d], step.strides[d], step.dilations[d], autoPad,
                                      step.padsBegin[d], step.padsEnd[d], ceilMode);
        }
    }

    // Adds the step, or runs it now when every input is a constant.
    void emit(const OnnxNode& node, PlanStep step, Shape outShape) {
        singleOutput(node);
        checkShape(outShape);
        PlanValue out;
        out.shape = std::move(outShape);
        const bool foldable = step.kind != StepKind::Conv && std::all_of(step.inputs.begin(), step.inputs.end(),
                                                                         [this](int id) { return value(id).constant; });
        if (foldable) {
            std::vector<const PlanValue*> shapes;
            std::vector<const float*> data;
            for (const int id : step.inputs) {
                shapes.push_back(&value(id));
                data.push_back(value(id).floats.data());
            }
            out.constant = true;
            out.floats.resize(elementCount(out.shape));
            runPlainStep(step, shapes, data, out.floats.data(), out.shape);
            define(node.outputs[0], std::move(out));
            return;
        }
        step.output = define(node.outputs[0], std::move(out));
        plan_->steps.push_back(std::move(step));
    }

    // A reshape: same data, another shape.
    void emitCopy(const OnnxNode& node, int input, Shape outShape) {
        checkShape(outShape);
        if (elementCount(outShape) != elementCount(value(input).shape)) {
            throw Unsupported("cannot reshape " + shapeText(value(input).shape) + " to " + shapeText(outShape));
        }
        if (value(input).constant) {
            singleOutput(node);
            PlanValue out = value(input);
            out.shape = std::move(outShape);
            define(node.outputs[0], std::move(out));
            return;
        }
        PlanStep step;
        step.kind = StepKind::Copy;
        step.inputs = {input};
        emit(node, std::move(step), std::move(outShape));
    }

    void addNode(const OnnxNode& node) {
        if (!node.domain.empty() && node.domain != "ai.onnx") {
            throw Unsupported("operator domain '" + node.domain + "'");
        }
        const std::string& op = node.opType;
        if (op == "Constant") {
            addConstant(node);
        } else if (op == "Conv") {
            addConv(node);
        } else if (op == "Relu" || op == "LeakyRelu" || op == "Sigmoid" || op == "Tanh" || op == "Exp") {
            PlanStep step;
            step.kind = StepKind::Unary;
            step.inputs = {floatInput(node, 0)};
            step.unary = op == "Relu"        ? UnaryOp::Relu
                         : op == "LeakyRelu" ? UnaryOp::LeakyRelu
                         : op == "Sigmoid"   ? UnaryOp::Sigmoid
                         : op == "Tanh"      ? UnaryOp::Tanh
                                             : UnaryOp::Exp;
            step.alpha = node.floatOr("alpha", 0.01f);
            Shape shape = value(step.inputs[0]).shape;
            emit(node, std::move(step), std::move(shape));
        } else if (op == "Add" || op == "Sub" || op == "Mul" || op == "Div") {
            addBinary(node);
        } else if (op == "Identity") {
            const int input = floatInput(node, 0);
            emitCopy(node, input, value(input).shape);
        } else if (op == "Reshape") {
            addReshape(node);
        } else if (op == "Flatten") {
            const int input = floatInput(node, 0);
            const Shape& shape = value(input).shape;
            const int64_t axis = normalizedAxis(node.intOr("axis", 1), shape.size() + 1);
            emitCopy(node, input, {productOf(shape, 0, axis), productOf(shape, axis, shape.size())});
        } else if (op == "Squeeze" || op == "Unsqueeze") {
            addSqueeze(node, op == "Unsqueeze");
        } else if (op == "Concat") {
            addConcat(node);
        } else if (op == "Slice") {
            addSlice(node);
        } else if (op == "Transpose") {
            addTranspose(node);
        } else if (op == "MaxPool") {
            addMaxPool(node);
        } else if (op == "Resize" || op == "Upsample") {
            addResize(node);
        } else if (op == "BatchNormalization") {
            addBatchNorm(node);
        } else {
            throw Unsupported("operation not supported");
        }
    }

    void addConstant(const OnnxNode& node) {
        singleOutput(node);
        PlanValue out;
        out.constant = true;
        if (const OnnxAttribute* tensor = node.attribute("value"); tensor && !tensor->tensors.empty()) {
            out = fromTensor(tensor->tensors[0]);
        } else if (const OnnxAttribute* f = node.attribute("value_float")) {
            out.floats = {f->f};
        } else if (const OnnxAttribute* fs = node.attribute("value_floats")) {
            out.floats = fs->floats;
            out.shape = {static_cast<int64_t>(fs->floats.size())};
        } else if (const OnnxAttribute* i = node.attribute("value_int")) {
            out.integer = true;
            out.ints = {i->i};
        } else if (const OnnxAttribute* is = node.attribute("value_ints")) {
            out.integer = true;
            out.ints = is->ints;
            out.shape = {static_cast<int64_t>(is->ints.size())};
        } else {
            throw Unsupported("constant of an unsupported kind");
        }
        define(node.outputs[0], std::move(out));
    }

    void addConv(const OnnxNode& node) {
        PlanStep step;
        step.kind = StepKind::Conv;
        const int input = floatInput(node, 0);
        const Shape& in = value(input).shape;
        const PlanValue& weights = value(inputId(node, 1));
        if (in.size() != 4 || weights.shape.size() != 4) {
            throw Unsupported("only 2-D convolutions are supported");
        }
        if (value(input).constant) {
            throw Unsupported("convolution of a constant");
        }
        step.inputs = {input};
        step.weights = constantFloats(node, 1);
        step.weightShape = weights.shape;
        step.groups = node.intOr("group", 1);
        const int64_t outChannels = weights.shape[0];
        if (step.groups < 1 || outChannels % step.groups != 0 || weights.shape[1] * step.groups != in[1]) {
            throw Unsupported("weights " + shapeText(weights.shape) + " do not fit input " + shapeText(in) + " in " +
                              std::to_string(step.groups) + " groups");
        }
        step.bias = hasInput(node, 2) ? constantFloats(node, 2) : std::vector<float>(outChannels, 0.0f);
        if (static_cast<int64_t>(step.bias.size()) != outChannels) {
            throw Unsupported("bias does not fit the weights");
        }
        step.kernel = {weights.shape[2], weights.shape[3]};
        if (node.intsOr("kernel_shape", step.kernel) != step.kernel) {
            throw Unsupported("kernel_shape differs from the weights");
        }
        Shape out{in[0], outChannels, 0, 0};
        readWindow(node, in, false, step, out);
        emit(node, std::move(step), std::move(out));
    }

    void addBinary(const OnnxNode& node) {
        PlanStep step;
        step.kind = StepKind::Binary;
        const std::string& op = node.opType;
        step.binary = op == "Add"   ? BinaryOp::Add
                      : op == "Sub" ? BinaryOp::Sub
                      : op == "Mul" ? BinaryOp::Mul
                                    : BinaryOp::Div;
        step.inputs = {floatInput(node, 0), floatInput(node, 1)};
        const Shape& a = value(step.inputs[0]).shape;
        const Shape& b = value(step.inputs[1]).shape;
        Shape out(std::max(a.size(), b.size()), 1);
        for (size_t d = 0; d < out.size(); ++d) {
            const int64_t da = d + a.size() >= out.size() ? a[d + a.size() - out.size()] : 1;
            const int64_t db = d + b.size() >= out.size() ? b[d + b.size() - out.size()] : 1;
            if (da != db && da != 1 && db != 1) {
                throw Unsupported("shapes " + shapeText(a) + " and " + shapeText(b) + " do not broadcast");
            }
            out[d] = da == 1 ? db : da;
        }
        step.maps = {broadcastMaps(a, out), broadcastMaps(b, out)};
        emit(node, std::move(step), std::move(out));
    }

    void addReshape(const OnnxNode& node) {
        const int input = floatInput(node, 0);
        const Shape& in = value(input).shape;
        Shape out = constantInts(node, 1);
        const bool allowZero = node.intOr("allowzero", 0) != 0;
        Shape probe = out;
        for (int64_t& dim : probe) {
            dim = dim == -1 || dim == 0 ? 1 : dim;
        }
        checkShape(probe);
        int inferred = -1;
        int64_t known = 1;
        for (size_t d = 0; d < out.size(); ++d) {
            if (out[d] == 0 && !allowZero) {
                if (d >= in.size()) {
                    throw Unsupported("shape copies a dimension the input lacks");
                }
                out[d] = in[d];
            }
            if (out[d] == -1) {
                if (inferred >= 0) {
                    throw Unsupported("shape with two -1");
                }
                inferred = static_cast<int>(d);
            } else if (out[d] < 0) {
                throw Unsupported("negative dimension in shape");
            } else {
                known *= out[d];
            }
        }
        if (inferred >= 0) {
            out[inferred] = known ? elementCount(in) / known : 0;
        }
        emitCopy(node, input, std::move(out));
    }

    void addSqueeze(const OnnxNode& node, bool unsqueeze) {
        const int input = floatInput(node, 0);
        const Shape& in = value(input).shape;
        const std::vector<int64_t> axes =
            graph_.opset >= 13 && hasInput(node, 1) ? constantInts(node, 1) : node.intsOr("axes", {});
        Shape out;
        if (unsqueeze) {
            const size_t rank = in.size() + axes.size();
            std::vector<bool> inserted(rank, false);
            for (const int64_t axis : axes) {
                inserted[normalizedAxis(axis, rank)] = true;
            }
            size_t next = 0;
            for (size_t d = 0; d < rank; ++d) {
                out.push_back(inserted[d] ? 1 : in.at(next++));
            }
        } else {
            std::vector<bool> removed(in.size(), axes.empty());
            for (const int64_t axis : axes) {
                removed[normalizedAxis(axis, in.size())] = true;
            }
            for (size_t d = 0; d < in.size(); ++d) {
                if (!removed[d] || in[d] != 1) {
                    out.push_back(in[d]);
                }
            }
        }
        emitCopy(node, input, std::move(out));
    }

    void addConcat(const OnnxNode& node) {
        PlanStep step;
        step.kind = StepKind::Concat;
        for (size_t k = 0; k < node.inputs.size(); ++k) {
            step.inputs.push_back(floatInput(node, k));
        }
        Shape out = value(step.inputs[0]).shape;
        step.axis = normalizedAxis(node.intOr("axis", 0), out.size());
        out[step.axis] = 0;
        for (const int id : step.inputs) {
            const Shape& shape = value(id).shape;
            for (size_t d = 0; d < out.size(); ++d) {
                if (shape.size() != out.size() || (static_cast<int64_t>(d) != step.axis && shape[d] != out[d])) {
                    throw Unsupported("inputs of mismatched shapes");
                }
            }
            out[step.axis] += shape[step.axis];
        }
        emit(node, std::move(step), std::move(out));
    }

    void addSlice(const OnnxNode& node) {
        const int input = floatInput(node, 0);
        const Shape& in = value(input).shape;
        std::vector<int64_t> starts, ends, axes, steps;
        if (graph_.opset >= 10) {
            starts = constantInts(node, 1);
            ends = constantInts(node, 2);
            if (hasInput(node, 3)) {
                axes = constantInts(node, 3);
            }
            if (hasInput(node, 4)) {
                steps = constantInts(node, 4);
            }
        } else {
            starts = node.intsOr("starts", {});
            ends = node.intsOr("ends", {});
            axes = node.intsOr("axes", {});
        }
        if (axes.empty()) {
            for (size_t d = 0; d < starts.size(); ++d) {
                axes.push_back(static_cast<int64_t>(d));
            }
        }
        if (steps.empty()) {
            steps.assign(starts.size(), 1);
        }
        if (ends.size() != starts.size() || axes.size() != starts.size() || steps.size() != starts.size()) {
            throw Unsupported("starts, ends, axes and steps of different lengths");
        }
        // Per axis: first index and step.
        std::vector<std::pair<int64_t, int64_t>> window(in.size(), {0, 1});
        Shape out = in;
        for (size_t k = 0; k < starts.size(); ++k) {
            const int64_t axis = normalizedAxis(axes[k], in.size());
            const int64_t dim = in[axis];
            const int64_t step = steps[k];
            if (step == 0) {
                throw Unsupported("step 0");
            }
            int64_t start = starts[k] < 0 ? starts[k] + dim : starts[k];
            int64_t end = ends[k] < 0 ? ends[k] + dim : ends[k];
            if (step > 0) {
                start = std::clamp<int64_t>(start, 0, dim);
                end = std::clamp<int64_t>(end, 0, dim);
                out[axis] = std::max<int64_t>(0, (end - start + step - 1) / step);
            } else {
                start = std::clamp<int64_t>(start, 0, dim - 1);
                end = std::clamp<int64_t>(end, -1, dim - 1);
                out[axis] = std::max<int64_t>(0, (start - end - step - 1) / -step);
            }
            window[axis] = {start, step};
        }
        const Shape inStrides = rowMajorStrides(in);
        AxisMaps maps(in.size());
        for (size_t d = 0; d < in.size(); ++d) {
            for (int64_t i = 0; i < out[d]; ++i) {
                maps[d].push_back((window[d].first + i * window[d].second) * inStrides[d]);
            }
        }
        emitGather(node, input, std::move(maps), std::move(out));
    }

    void emitGather(const OnnxNode& node, int input, AxisMaps maps, Shape out) {
        PlanStep step;
        step.kind = StepKind::Gather;
        step.inputs = {input};
        step.maps = {std::move(maps)};
        emit(node, std::move(step), std::move(out));
    }

    void addTranspose(const OnnxNode& node) {
        const int input = floatInput(node, 0);
        const Shape& in = value(input).shape;
        std::vector<int64_t> perm(in.size());
        std::iota(perm.rbegin(), perm.rend(), 0);
        perm = node.intsOr("perm", perm);
        std::vector<int64_t> sorted = perm;
        std::sort(sorted.begin(), sorted.end());
        for (size_t d = 0; d < sorted.size(); ++d) {
            if (sorted.size() != in.size() || sorted[d] != static_cast<int64_t>(d)) {
                throw Unsupported("perm is not a permutation of the input's axes");
            }
        }
        const Shape inStrides = rowMajorStrides(in);
        Shape out(in.size());
        AxisMaps maps(in.size());
        for (size_t d = 0; d < in.size(); ++d) {
            out[d] = in[perm[d]];
            for (int64_t i = 0; i < out[d]; ++i) {
                maps[d].push_back(i * inStrides[perm[d]]);
            }
        }
        emitGather(node, input, std::move(maps), std::move(out));
    }

    void addMaxPool(const OnnxNode& node) {
        PlanStep step;
        step.kind = StepKind::MaxPool;
        step.inputs = {floatInput(node, 0)};
        const Shape& in = value(step.inputs[0]).shape;
        step.kernel = node.intsOr("kernel_shape", {});
        if (in.size() != 4 || step.kernel.size() != 2) {
            throw Unsupported("only 2-D pooling is supported");
        }
        if (node.intOr("storage_order", 0) != 0) {
            throw Unsupported("storage_order 1");
        }
        Shape out = in;
        readWindow(node, in, node.intOr("ceil_mode", 0) != 0, step, out);
        emit(node, std::move(step), std::move(out));
    }

    // Nearest-neighbour resizing only, as the upsampling layers of our detectors use.
    void addResize(const OnnxNode& node) {
        const int input = floatInput(node, 0);
        const Shape& in = value(input).shape;
        const bool upsample = node.opType == "Upsample";
        const std::string mode = node.textOr("mode", "nearest");
        if (mode != "nearest") {
            throw Unsupported("mode " + mode);
        }
        // Opset 10's Resize and Upsample place samples as 'asymmetric' and 'floor' do.
        const bool modern = !upsample && graph_.opset >= 11;
        const std::string transform =
            modern ? node.textOr("coordinate_transformation_mode", "half_pixel") : std::string("asymmetric");
        const std::string rounding = modern ? node.textOr("nearest_mode", "round_prefer_floor") : std::string("floor");
        std::vector<float> scales;
        Shape out;
        if (upsample && graph_.opset < 9) {
            scales = node.attribute("scales") ? node.attribute("scales")->floats : std::vector<float>{};
        } else if (!modern) {
            scales = constantFloats(node, 1);
        } else if (hasInput(node, 3)) {
            out = constantInts(node, 3);
        } else {
            scales = constantFloats(node, 2);
        }
        if (out.empty()) {
            if (scales.size() != in.size()) {
                throw Unsupported("scales do not match the input's rank");
            }
            for (size_t d = 0; d < in.size(); ++d) {
                const double size = std::floor(in[d] * static_cast<double>(scales[d]));
                if (!(size >= 1.0 && size <= 1e9)) {
                    throw Unsupported("scale " + std::to_string(scales[d]) + " out of range");
                }
                out.push_back(static_cast<int64_t>(size));
            }
        } else if (out.size() != in.size()) {
            throw Unsupported("sizes do not match the input's rank");
        }
        checkShape(out);
        if (std::find(in.begin(), in.end(), 0) != in.end()) {
            throw Unsupported("resizing an empty tensor");
        }
        const Shape inStrides = rowMajorStrides(in);
        AxisMaps maps(in.size());
        for (size_t d = 0; d < in.size(); ++d) {
            const double scale = scales.empty() ? static_cast<double>(out[d]) / in[d] : scales[d];
            for (int64_t i = 0; i < out[d]; ++i) {
                double x;
                if (transform == "asymmetric") {
                    x = i / scale;
                } else if (transform == "half_pixel") {
                    x = (i + 0.5) / scale - 0.5;
                } else if (transform == "pytorch_half_pixel") {
                    x = out[d] > 1 ? (i + 0.5) / scale - 0.5 : 0.0;
                } else if (transform == "align_corners") {
                    x = out[d] > 1 ? i * static_cast<double>(in[d] - 1) / (out[d] - 1) : 0.0;
                } else if (transform == "tf_half_pixel_for_nn") {
                    x = (i + 0.5) / scale;
                } else {
                    throw Unsupported("coordinate_transformation_mode " + transform);
                }
                int64_t source;
                if (rounding == "floor") {
                    source = static_cast<int64_t>(std::floor(x));
                } else if (rounding == "ceil") {
                    source = static_cast<int64_t>(std::ceil(x));
                } else if (rounding == "round_prefer_floor") {
                    source = x == std::floor(x) + 0.5 ? static_cast<int64_t>(std::floor(x))
                                                      : static_cast<int64_t>(std::round(x));
                } else if (rounding == "round_prefer_ceil") {
                    source = static_cast<int64_t>(std::round(x));
                } else {
                    throw Unsupported("nearest_mode " + rounding);
                }
                maps[d].push_back(std::clamp<int64_t>(source, 0, in[d] - 1) * inStrides[d]);
            }
        }
        emitGather(node, input, std::move(maps), std::move(out));
    }

    void addBatchNorm(const OnnxNode& node) {
        PlanStep step;
        step.kind = StepKind::Affine;
        step.inputs = {floatInput(node, 0)};
        const Shape& in = value(step.inputs[0]).shape;
        const std::vector<float> gamma = constantFloats(node, 1);
        const std::vector<float> beta = constantFloats(node, 2);
        const std::vector<float> mean = constantFloats(node, 3);
        const std::vector<float> variance = constantFloats(node, 4);
        const float epsilon = node.floatOr("epsilon", 1e-5f);
        const size_t channels = in.size() >= 2 ? static_cast<size_t>(in[1]) : 0;
        if (gamma.size() != channels || beta.size() != channels || mean.size() != channels ||
            variance.size() != channels) {
            throw Unsupported("statistics do not match the channels");
        }
        for (size_t c = 0; c < channels; ++c) {
            step.scale.push_back(gamma[c] / std::sqrt(variance[c] + epsilon));
            step.shift.push_back(beta[c] - mean[c] * step.scale.back());
        }
        Shape shape = in;
        emit(node, std::move(step), std::move(shape));
    }

    // The one step that reads `valueId`, or -1 when there are more, or the
    // value is the graph's output.
    int soleConsumer(int valueId) const {
        if (valueId == plan_->output) {
            return -1;
        }
        int consumer = -1;
        for (size_t s = 0; s < plan_->steps.size(); ++s) {
            for (const int input : plan_->steps[s].inputs) {
                if (input == valueId) {
                    if (consumer >= 0) {
                        return -1;
                    }
                    consumer = static_cast<int>(s);
                }
            }
        }
        return consumer;
    }

    // Folds batch norms into the convolutions before them, then lets each
    // convolution apply the activation that follows it.
    void fuse() {
        std::vector<PlanStep>& steps = plan_->steps;
        for (size_t s = 0; s < steps.size(); ++s) {
            if (steps[s].kind != StepKind::Conv) {
                continue;
            }
            for (;;) {
                const int next = soleConsumer(steps[s].output);
                if (next < 0) {
                    break;
                }
                PlanStep& conv = steps[s];
                const PlanStep& follower = steps[next];
                if (follower.kind == StepKind::Affine && conv.unary == UnaryOp::None) {
                    const int64_t perChannel = elementCount(conv.weightShape) / conv.weightShape[0];
                    for (int64_t o = 0; o < conv.weightShape[0]; ++o) {
                        for (int64_t i = 0; i < perChannel; ++i) {
                            conv.weights[o * perChannel + i] *= follower.scale[o];
                        }
                        conv.bias[o] = conv.bias[o] * follower.scale[o] + follower.shift[o];
                    }
                } else if (follower.kind == StepKind::Unary && conv.unary == UnaryOp::None) {
                    conv.unary = follower.unary;
                    conv.alpha = follower.alpha;
                } else {
                    break;
                }
                conv.output = follower.output;
                steps.erase(steps.begin() + next);
                if (next < static_cast<int>(s)) {
                    --s;
                }
            }
        }
    }

    const OnnxGraph& graph_;
    const Shape inputShape_;
    std::shared_ptr<OneDnnPlan> plan_ = std::make_shared<OneDnnPlan>();
    std::unordered_map<std::string, int> ids_;
};

// ---- execution -------------------------------------------------------------

// Caps oneDNN's OpenMP threads for the calling thread only, and restores the
// caller's setting afterwards: OpenMP keeps the setting per thread.
class ThreadCap {
public:
    explicit ThreadCap([[maybe_unused]] int threads) {
#if DNNL_CPU_RUNTIME == DNNL_RUNTIME_OMP
        previous_ = omp_get_max_threads();
        omp_set_num_threads(threads);
#endif
    }
    ~ThreadCap() {
#if DNNL_CPU_RUNTIME == DNNL_RUNTIME_OMP
        omp_set_num_threads(previous_);
#endif
    }
    ThreadCap(const ThreadCap&) = delete;
    ThreadCap& operator=(const ThreadCap&) = delete;

private:
    [[maybe_unused]] int previous_ = 1;
};

dnnl::memory::desc plainDesc(const Shape& shape) {
    const Shape dims = shape.empty() ? Shape{1} : shape;
    const Shape strides = rowMajorStrides(dims);
    return dnnl::memory::desc(dnnl::memory::dims(dims.begin(), dims.end()), dnnl::memory::data_type::f32,
                              dnnl::memory::dims(strides.begin(), strides.end()));
}

dnnl::algorithm eltwiseFor(UnaryOp op) {
    switch (op) {
        case UnaryOp::Relu:
        case UnaryOp::LeakyRelu:
            return dnnl::algorithm::eltwise_relu;
        case UnaryOp::Sigmoid:
            return dnnl::algorithm::eltwise_logistic;
        case UnaryOp::Tanh:
            return dnnl::algorithm::eltwise_tanh;
        case UnaryOp::Exp:
            return dnnl::algorithm::eltwise_exp;
        case UnaryOp::None:
            break;
    }
    throw std::logic_error("no activation");
}

}  // namespace

struct OneDnnNetwork::Context {
    // Where one plan value lives in this context.
    struct Slot {
        const float* constant = nullptr;  // in the plan
        std::vector<float> own;           // plain data written by a step of this context
        float* plain = nullptr;           // the plain row-major data, once someone needs it
        dnnl::memory native;              // a convolution's output, in its layout
        dnnl::memory plainMemory;         // `plain` as oneDNN sees it
        dnnl::memory converted;           // reordered for a convolution's input
    };

    Context(std::shared_ptr<const OneDnnPlan> sharedPlan, int threadCount)
        : plan(std::move(sharedPlan)), threads(threadCount), engine(dnnl::engine::kind::cpu, 0), stream(engine) {
        const ThreadCap cap(threads);
        slots.resize(plan->values.size());
        for (size_t id = 0; id < slots.size(); ++id) {
            if (plan->values[id].constant) {
                slots[id].constant = plan->values[id].floats.data();
            }
        }
        for (const PlanStep& step : plan->steps) {
            if (step.kind == StepKind::Conv) {
                addConv(step);
            } else {
                addPlain(step);
            }
        }
        outputData = plainOf(plan->output);
        scratchpad.resize(scratchpadBytes);
        for (dnnl::memory& user : scratchpadUsers) {
            user.set_data_handle(scratchpad.data());
        }
    }

    const float* data(const Slot& slot) const { return slot.constant ? slot.constant : slot.plain; }

    void addReorder(const dnnl::memory& from, const dnnl::memory& to) {
        run.push_back([this, primitive = dnnl::reorder(from, to), source = from, target = to]() mutable {
            primitive.execute(stream, source, target);
        });
    }

    // The value's plain data; a value a convolution left in its own layout is
    // reordered once, right after it is computed.
    const float* plainOf(int id) {
        Slot& slot = slots[id];
        if (const float* existing = data(slot); existing || id == plan->input) {
            return existing;
        }
        const dnnl::memory::desc wanted = plainDesc(plan->values[id].shape);
        if (slot.native.get_desc() == wanted) {
            slot.plain = static_cast<float*>(slot.native.get_data_handle());
            slot.plainMemory = slot.native;
        } else {
            slot.own.resize(elementCount(plan->values[id].shape));
            slot.plain = slot.own.data();
            slot.plainMemory = dnnl::memory(wanted, engine, slot.plain);
            addReorder(slot.native, slot.plainMemory);
        }
        return slot.plain;
    }

    dnnl::memory sourceFor(int id, const dnnl::memory::desc& wanted) {
        Slot& slot = slots[id];
        dnnl::memory from = slot.native;
        if (!from) {
            if (!slot.plainMemory) {
                slot.plainMemory =
                    dnnl::memory(plainDesc(plan->values[id].shape), engine, const_cast<float*>(plainOf(id)));
            }
            from = slot.plainMemory;
        }
        if (from.get_desc() == wanted) {
            return from;
        }
        if (!slot.converted || slot.converted.get_desc() != wanted) {
            slot.converted = dnnl::memory(wanted, engine);
            addReorder(from, slot.converted);
        }
        return slot.converted;
    }

    void addConv(const PlanStep& step) {
        using dnnl::memory;
        const Shape& inShape = plan->values[step.inputs[0]].shape;
        const Shape& outShape = plan->values[step.output].shape;
        const memory::dims src(inShape.begin(), inShape.end());
        const memory::dims dst(outShape.begin(), outShape.end());
        const int64_t outChannels = step.weightShape[0];
        memory::dims weights(step.weightShape.begin(), step.weightShape.end());
        memory::format_tag plainWeights = memory::format_tag::oihw;
        if (step.groups > 1) {
            weights = {step.groups, outChannels / step.groups, step.weightShape[1], step.weightShape[2],
                       step.weightShape[3]};
            plainWeights = memory::format_tag::goihw;
        }
        const auto any = memory::format_tag::any;
        const auto f32 = memory::data_type::f32;
        const dnnl::convolution_forward::desc description(
            dnnl::prop_kind::forward_inference, dnnl::algorithm::convolution_direct, memory::desc(src, f32, any),
            memory::desc(weights, f32, any), memory::desc({outChannels}, f32, memory::format_tag::x),
            memory::desc(dst, f32, any), {step.strides[0], step.strides[1]},
            {step.dilations[0] - 1, step.dilations[1] - 1}, {step.padsBegin[0], step.padsBegin[1]},
            {step.padsEnd[0], step.padsEnd[1]});
        dnnl::primitive_attr attributes;
        attributes.set_scratchpad_mode(dnnl::scratchpad_mode::user);
        if (step.unary != UnaryOp::None) {
            dnnl::post_ops ops;
            ops.append_eltwise(1.0f, eltwiseFor(step.unary), step.unary == UnaryOp::LeakyRelu ? step.alpha : 0.0f,
                               0.0f);
            attributes.set_post_ops(ops);
        }
        const dnnl::convolution_forward::primitive_desc pd(description, attributes, engine);

        const memory source = sourceFor(step.inputs[0], pd.src_desc());
        // Weights go into oneDNN's preferred layout once, here.
        memory packedWeights(pd.weights_desc(), engine);
        memory given(memory::desc(weights, f32, plainWeights), engine, const_cast<float*>(step.weights.data()));
        dnnl::reorder(given, packedWeights).execute(stream, given, packedWeights);
        memory bias(pd.bias_desc(), engine);
        std::copy(step.bias.begin(), step.bias.end(), static_cast<float*>(bias.get_data_handle()));
        stream.wait();

        Slot& out = slots[step.output];
        out.native = memory(pd.dst_desc(), engine);
        const memory::desc scratchDesc = pd.scratchpad_desc();
        memory scratch(scratchDesc, engine, nullptr);
        scratchpadBytes = std::max(scratchpadBytes, scratchDesc.get_size());
        scratchpadUsers.push_back(scratch);
        std::unordered_map<int, memory> arguments{{DNNL_ARG_SRC, source},
                                                  {DNNL_ARG_WEIGHTS, packedWeights},
                                                  {DNNL_ARG_BIAS, bias},
                                                  {DNNL_ARG_DST, out.native},
                                                  {DNNL_ARG_SCRATCHPAD, scratch}};
        run.push_back(
            [this, primitive = dnnl::convolution_forward(pd), arguments] { primitive.execute(stream, arguments); });
    }

    void addPlain(const PlanStep& step) {
        std::vector<const PlanValue*> inputs;
        std::vector<const Slot*> sources;
        for (const int id : step.inputs) {
            plainOf(id);
            inputs.push_back(&plan->values[id]);
            sources.push_back(&slots[id]);
        }
        Slot& out = slots[step.output];
        const Shape& outShape = plan->values[step.output].shape;
        out.own.resize(elementCount(outShape));
        out.plain = out.own.data();
        run.push_back([this, &step, inputs, sources, &out, &outShape, data = std::vector<const float*>()]() mutable {
            data.resize(sources.size());
            for (size_t k = 0; k < sources.size(); ++k) {
                data[k] = this->data(*sources[k]);
            }
            runPlainStep(step, inputs, data, out.plain, outShape);
        });
    }

    cv::Mat forward(const cv::Mat& blob) {
        const PlanValue& input = plan->values[plan->input];
        const Shape& shape = input.shape;
        bool fits = blob.type() == CV_32F && blob.isContinuous() && blob.dims == static_cast<int>(shape.size());
        for (int d = 0; fits && d < blob.dims; ++d) {
            fits = blob.size[d] == shape[d];
        }
        if (!fits) {
            CV_Error(cv::Error::StsBadArg, "the blob does not have the network's input shape " + shapeText(shape));
        }
        Slot& in = slots[plan->input];
        in.plain = const_cast<float*>(blob.ptr<float>());
        if (in.plainMemory) {
            in.plainMemory.set_data_handle(in.plain);
        }
        {
            const ThreadCap cap(threads);
            for (const auto& step : run) {
                step();
            }
            stream.wait();
        }
        const Shape& outShape = plan->values[plan->output].shape;
        std::vector<int> sizes(outShape.begin(), outShape.end());
        if (sizes.empty()) {
            sizes = {1};
        }
        cv::Mat output(static_cast<int>(sizes.size()), sizes.data(), CV_32F);
        const float* result = plan->output == plan->input ? in.plain : outputData;
        std::copy_n(result, elementCount(outShape), output.ptr<float>());
        return output;
    }

    const std::shared_ptr<const OneDnnPlan> plan;
    const int threads;
    dnnl::engine engine;
    dnnl::stream stream;
    std::vector<Slot> slots;
    std::vector<std::function<void()>> run;
    const float* outputData = nullptr;
    size_t scratchpadBytes = 0;
    std::vector<dnnl::memory> scratchpadUsers;
    std::vector<unsigned char> scratchpad;
};

std::shared_ptr<const OneDnnPlan> compileOneDnnPlan(const OnnxGraph& graph, const std::vector<int64_t>& inputShape,
                                                    std::string& whyNot) {
    try {
        return PlanBuilder(graph, inputShape).build();
    } catch (const Unsupported& e) {
        whyNot = e.what();
    }
    return nullptr;
}

OneDnnNetwork::OneDnnNetwork(std::shared_ptr<const OneDnnPlan> plan, int threads) {
    try {
        context_ = std::make_unique<Context>(std::move(plan), std::max(1, threads));
    } catch (const dnnl::error& e) {
        CV_Error(cv::Error::StsError, std::string("oneDNN: ") + e.what());
    }
}

OneDnnNetwork::~OneDnnNetwork() = default;

cv::Mat OneDnnNetwork::forward(const cv::Mat& blob) {
    try {
        return context_->forward(blob);
    } catch (const dnnl::error& e) {
        CV_Error(cv::Error::StsError, std::string("oneDNN: ") + e.what());
    }
}

}  // namespace zor::hmd
