// The network on oneDNN: the ONNX graph compiled once into a plan (shapes
// resolved for the model's input size, constants folded, batch norms and
// activations fused into the convolutions), and execution contexts made from
// it. Convolutions run as oneDNN primitives in the layouts oneDNN prefers; the
// small tensor operations around them (the detection head, pooling,
// upsampling, concatenation) run on plain row-major tensors.
#pragma once

#include "OnnxGraph.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zor::hmd {

struct OneDnnPlan;

// Null with the reason in `whyNot` when the graph holds an operation, or a use
// of one, that the backend does not support. `inputShape` is the NCHW shape of
// the blobs the networks will be given.
std::shared_ptr<const OneDnnPlan> compileOneDnnPlan(const OnnxGraph& graph, const std::vector<int64_t>& inputShape,
                                                    std::string& whyNot);

// One execution context: primitives, weights and buffers of its own, so that
// contexts run concurrently; one context must not. `threads` caps the threads
// oneDNN uses for one call.
class OneDnnNetwork {
public:
    OneDnnNetwork(std::shared_ptr<const OneDnnPlan> plan, int threads);
    ~OneDnnNetwork();
    OneDnnNetwork(const OneDnnNetwork&) = delete;
    OneDnnNetwork& operator=(const OneDnnNetwork&) = delete;

    // The graph's output for an NCHW float blob of the plan's input shape, in a
    // matrix of its own; throws cv::Exception for a blob of another shape.
    cv::Mat forward(const cv::Mat& blob);

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

}  // namespace zor::hmd
