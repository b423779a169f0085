#include "NetworkPool.h"

#ifdef HMD_WITH_ONEDNN
#include "OneDnnNetwork.h"
#endif

namespace zor::hmd {
namespace {

class OpenCvNetwork : public Network {
public:
    OpenCvNetwork(const std::vector<uchar>& onnxBytes, ComputeTarget compute)
        : net(cv::dnn::readNetFromONNX(onnxBytes)) {
        if (net.empty()) {
            CV_Error(cv::Error::StsParseError, "the ONNX model holds no network");
        }
        net.setPreferableBackend(compute.backend);
        net.setPreferableTarget(compute.target);
    }

    cv::Mat forward(const cv::Mat& blob) override {
        net.setInput(blob);
        return net.forward();
    }

private:
    cv::dnn::Net net;
};

#ifdef HMD_WITH_ONEDNN
class OneDnnPooledNetwork : public Network {
public:
    OneDnnPooledNetwork(std::shared_ptr<const OneDnnPlan> plan, int threads) : net(std::move(plan), threads) {}

    cv::Mat forward(const cv::Mat& blob) override { return net.forward(blob); }

private:
    OneDnnNetwork net;
};
#endif

}  // namespace

NetworkPool::NetworkPool(std::vector<uchar> bytes, ComputeTarget initial, std::shared_ptr<const OneDnnPlan> plan,
                         int threads)
    : onnxBytes(std::move(bytes)), plan(std::move(plan)), threadCount(threads), compute(initial) {
    idle.push_back(makeNetwork(compute));
}

std::unique_ptr<Network> NetworkPool::makeNetwork(ComputeTarget target) const {
    if (target.engine == Engine::OneDnn) {
#ifdef HMD_WITH_ONEDNN
        if (plan) {
            return std::make_unique<OneDnnPooledNetwork>(plan, threadCount);
        }
#endif
        CV_Error(cv::Error::StsNotImplemented, "oneDNN cannot run this model");
    }
    return std::make_unique<OpenCvNetwork>(onnxBytes, target);
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
    // Making a network takes a while; other callers need not wait for it.
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

void NetworkPool::configureAll(ComputeTarget target, size_t count, const cv::Mat& blob) {
    std::lock_guard lock(mutex);
    // Networks are cheap to remake, and a fresh one cannot keep state of the old target.
    idle.clear();
    compute = target;
    while (idle.size() < count) {
        idle.push_back(makeNetwork(compute));
    }
    for (auto& net : idle) {
        net->forward(blob);
    }
}

ComputeTarget NetworkPool::computeTarget() const {
    std::lock_guard lock(mutex);
    return compute;
}

}  // namespace zor::hmd
