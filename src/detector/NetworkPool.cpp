#include "NetworkPool.h"

namespace zor::hmd {

NetworkPool::NetworkPool(std::vector<uchar> bytes) : onnxBytes(std::move(bytes)) {
    idle.push_back(makeNetwork(compute));
}

std::unique_ptr<cv::dnn::Net> NetworkPool::makeNetwork(ComputeTarget compute) const {
    auto net = std::make_unique<cv::dnn::Net>(cv::dnn::readNetFromONNX(onnxBytes));
    if (net->empty()) {
        CV_Error(cv::Error::StsParseError, "the ONNX model holds no network");
    }
    net->setPreferableBackend(compute.backend);
    net->setPreferableTarget(compute.target);
    return net;
}

NetworkPool::Lease NetworkPool::borrow() {
    ComputeTarget current;
    {
        std::lock_guard lock(mutex);
        if (!idle.empty()) {
            auto net = std::move(idle.back());
            idle.pop_back();
            return Lease(*this, std::move(net));
        }
        current = compute;
    }
    // Parsing takes a while; other callers need not wait for it.
    return Lease(*this, makeNetwork(current));
}

NetworkPool::Lease::~Lease() {
    if (net) {
        std::lock_guard lock(pool->mutex);
        try {
            pool->idle.push_back(std::move(net));
        } catch (...) {
            // Out of memory: drop this network; the pool makes another on demand.
        }
    }
}

cv::Mat NetworkPool::Lease::forward(const cv::Mat& blob) {
    net->setInput(blob);
    return net->forward();
}

void NetworkPool::configureAll(ComputeTarget target, size_t count, const cv::Mat& blob) {
    std::lock_guard lock(mutex);
    compute = target;
    while (idle.size() < count) {
        idle.push_back(makeNetwork(compute));
    }
    for (auto& net : idle) {
        net->setPreferableBackend(compute.backend);
        net->setPreferableTarget(compute.target);
        net->setInput(blob);
        net->forward();
    }
}

ComputeTarget NetworkPool::computeTarget() const {
    std::lock_guard lock(mutex);
    return compute;
}

}  // namespace zor::hmd
