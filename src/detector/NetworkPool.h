// Inference: a pool of networks made from one ONNX model. A cv::dnn::Net is
// not safe to share between threads, so each concurrent caller borrows its own;
// the pool grows when all networks are busy.
#pragma once

#include <opencv2/dnn.hpp>

#include <memory>
#include <mutex>
#include <vector>

namespace zor::hmd {

struct ComputeTarget {
    int backend = cv::dnn::DNN_BACKEND_DEFAULT;
    int target = cv::dnn::DNN_TARGET_CPU;
};

class NetworkPool {
public:
    // Parses the model once to check it; throws cv::Exception when it cannot.
    explicit NetworkPool(std::vector<uchar> onnxBytes);

    // A borrowed network, returned to the pool when the lease ends.
    class Lease {
    public:
        Lease(NetworkPool& pool, std::unique_ptr<cv::dnn::Net> net) : pool(&pool), net(std::move(net)) {}
        Lease(Lease&&) noexcept = default;
        Lease& operator=(Lease&&) = delete;
        ~Lease();

        cv::Mat forward(const cv::Mat& blob);

    private:
        NetworkPool* pool;
        std::unique_ptr<cv::dnn::Net> net;
    };

    Lease borrow();

    // Switches every network to `compute`, networks made later included, makes
    // sure at least `count` exist, and runs `blob` through each one so that
    // none pays for parsing or the switch on a caller's frame. Must not run
    // while a lease is out.
    void configureAll(ComputeTarget compute, size_t count, const cv::Mat& blob);

    ComputeTarget computeTarget() const;

private:
    std::unique_ptr<cv::dnn::Net> makeNetwork(ComputeTarget compute) const;

    const std::vector<uchar> onnxBytes;
    mutable std::mutex mutex;
    ComputeTarget compute;
    std::vector<std::unique_ptr<cv::dnn::Net>> idle;
};

}  // namespace zor::hmd
