#include "NetworkPool.h"

#ifdef HMD_WITH_ONEDNN
#include "OneDnnNetwork.h"
#endif

namespace zor::hmd {
namespace {

class OpenCvNetwork : public Network {
public:
    OpenCvNetwork(const std::vector<uchar>& onnxBytes, ComputeTarget compute)
        : net_(cv::dnn::readNetFromONNX(onnxBytes)) {
        if (net_.empty()) {
            CV_Error(cv::Error::StsParseError, "the ONNX model holds no network");
        }
        net_.setPreferableBackend(compute.backend);
        net_.setPreferableTarget(compute.target);
    }

    cv::Mat forward(const cv::Mat& blob) override {
        net_.setInput(blob);
        return net_.forward();
    }

private:
    cv::dnn::Net net_;
};

#ifdef HMD_WITH_ONEDNN
class OneDnnPooledNetwork : public Network {
public:
    OneDnnPooledNetwork(std::shared_ptr<const OneDnnPlan> plan, int threads) : net_(std::move(plan), threads) {}

    cv::Mat forward(const cv::Mat& blob) override { return net_.forward(blob); }

private:
    OneDnnNetwork net_;
};
#endif

}  // namespace

NetworkPool::NetworkPool(std::vector<uchar> bytes, ComputeTarget initial, std::shared_ptr<const OneDnnPlan> plan,
                         int threads)
    : onnxBytes_(std::move(bytes)), plan_(std::move(plan)), threadCount_(threads), compute_(initial) {
    idle_.push_back(makeNetwork(compute_));
}

std::unique_ptr<Network> NetworkPool::makeNetwork(ComputeTarget target) const {
    if (target.engine == Engine::OneDnn) {
#ifdef HMD_WITH_ONEDNN
        if (plan_) {
            return std::make_unique<OneDnnPooledNetwork>(plan_, threadCount_);
        }
#endif
        CV_Error(cv::Error::StsNotImplemented, "oneDNN cannot run this model");
    }
    return std::make_unique<OpenCvNetwork>(onnxBytes_, target);
}

NetworkPool::Lease NetworkPool::borrow() {
    ComputeTarget current;
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto net = std::move(idle_.back());
            idle_.pop_back();
            return Lease(*this, std::move(net));
        }
        current = compute_;
    }
    // Making a network takes a while; other callers need not wait for it.
    return Lease(*this, makeNetwork(current));
}

NetworkPool::Lease::~Lease() {
    if (net_) {
        std::lock_guard lock(pool_->mutex_);
        try {
            pool_->idle_.push_back(std::move(net_));
        } catch (...) {
            // Out of memory: drop this network; the pool makes another on demand.
        }
    }
}

void NetworkPool::configureAll(ComputeTarget target, size_t count, const cv::Mat& blob) {
    std::lock_guard lock(mutex_);
    // Networks are cheap to remake, and a fresh one cannot keep state of the old target.
    idle_.clear();
    compute_ = target;
    while (idle_.size() < count) {
        idle_.push_back(makeNetwork(compute_));
    }
    for (auto& net : idle_) {
        net->forward(blob);
    }
}

ComputeTarget NetworkPool::computeTarget() const {
    std::lock_guard lock(mutex_);
    return compute_;
}

}  // namespace zor::hmd
