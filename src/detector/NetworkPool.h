// Inference: a pool of networks made from one ONNX model. Neither a
// cv::dnn::Net nor a oneDNN execution context is safe to share between
// threads, so each concurrent caller borrows its own; the pool grows when all
// networks are busy.
#pragma once

#include <opencv2/dnn.hpp>

#include <memory>
#include <mutex>
#include <vector>

namespace zor::hmd {

struct OneDnnPlan;

enum class Engine { OpenCv, OneDnn };

struct ComputeTarget {
    Engine engine = Engine::OpenCv;
    int backend = cv::dnn::DNN_BACKEND_DEFAULT;  // OpenCV's only
    int target = cv::dnn::DNN_TARGET_CPU;        // OpenCV's only
};

// One network ready to run; not for concurrent use.
class Network {
public:
    virtual ~Network() = default;
    virtual cv::Mat forward(const cv::Mat& blob) = 0;

    // Where callers build this network's input, so that its memory is reused.
    cv::Mat& inputBuffer() { return inputBuffer_; }

private:
    cv::Mat inputBuffer_;
};

class NetworkPool {
public:
    // Makes the first network to check the model; throws cv::Exception when it
    // cannot. `plan` is the model compiled for oneDNN, null when oneDNN cannot
    // run it; `threads` caps oneDNN's threads per call.
    NetworkPool(std::vector<uchar> onnxBytes, ComputeTarget initial, std::shared_ptr<const OneDnnPlan> plan,
                int threads);

    // A borrowed network, returned to the pool when the lease ends.
    class Lease {
    public:
        Lease(NetworkPool& pool, std::unique_ptr<Network> net) : pool_(&pool), net_(std::move(net)) {}
        Lease(Lease&&) noexcept = default;
        Lease& operator=(Lease&&) = delete;
        ~Lease();

        cv::Mat forward(const cv::Mat& blob) { return net_->forward(blob); }
        cv::Mat& inputBuffer() { return net_->inputBuffer(); }

    private:
        NetworkPool* pool_;
        std::unique_ptr<Network> net_;
    };

    Lease borrow();

    // Switches to `compute`, networks made later included, keeps `count`
    // networks, and runs `blob` through each one so that none pays for making
    // or the switch on a caller's frame. Must not run while a lease is out.
    void configureAll(ComputeTarget compute, size_t count, const cv::Mat& blob);

    ComputeTarget computeTarget() const;
    bool canRunOneDnn() const { return plan_ != nullptr; }
    int threads() const { return threadCount_; }

private:
    std::unique_ptr<Network> makeNetwork(ComputeTarget compute) const;

    const std::vector<uchar> onnxBytes_;
    const std::shared_ptr<const OneDnnPlan> plan_;
    const int threadCount_;
    mutable std::mutex mutex_;
    ComputeTarget compute_;
    std::vector<std::unique_ptr<Network>> idle_;
};

}  // namespace zor::hmd
