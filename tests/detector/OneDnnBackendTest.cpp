// The oneDNN backend against OpenCV's importer on graphs that use every
// operation it supports, and what it does with graphs it cannot run.
#include "DetectorTestSupport.h"
#include "ModelManifest.h"
#include "OneDnnNetwork.h"
#include "OnnxGraph.h"

#include <opencv2/dnn.hpp>

#include <thread>

using namespace zor::test;
using namespace zor::hmd;

namespace {

std::vector<unsigned char> onnxBytes(const fs::path& path) {
    const std::string text = readFile(path);
    return {text.begin(), text.end()};
}

cv::Mat randomBlob(int height, int width, uint64_t seed) {
    const int size[] = {1, 3, height, width};
    cv::Mat blob(4, size, CV_32F);
    cv::RNG(seed).fill(blob, cv::RNG::UNIFORM, 0.0, 1.0);
    return blob;
}

double largestDifference(const cv::Mat& a, const cv::Mat& b) {
    return cv::norm(a.reshape(1, static_cast<int>(a.total())), b.reshape(1, static_cast<int>(b.total())), cv::NORM_INF);
}

std::shared_ptr<const OneDnnPlan> compile(const fs::path& model, int height, int width, std::string& whyNot) {
    OnnxGraph graph;
    if (!parseOnnx(onnxBytes(model), graph, whyNot)) {
        return nullptr;
    }
    return compileOneDnnPlan(graph, {1, 3, height, width}, whyNot);
}

}  // namespace

// Strided, grouped and dilated convolutions, batch norm and activations fused
// into them, pooling, concatenation, upsampling, broadcasting arithmetic,
// stepped slicing, reshape and transpose, at two input sizes and thread counts.
TEST(OneDnnBackend, EveryOperationMatchesOpenCv) {
    const fs::path model = testModel("ops_mix") / "model.onnx";
    cv::dnn::Net reference = cv::dnn::readNetFromONNX(model.string());
    for (const cv::Size size : {cv::Size(56, 40), cv::Size(96, 64)}) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        std::string whyNot;
        const auto plan = compile(model, size.height, size.width, whyNot);
        ASSERT_TRUE(plan) << whyNot;
        OneDnnNetwork oneThread(plan, 1);
        OneDnnNetwork twoThreads(plan, 2);
        for (uint64_t seed : {1u, 2u}) {
            const cv::Mat blob = randomBlob(size.height, size.width, seed);
            reference.setInput(blob);
            const cv::Mat expected = reference.forward().clone();
            const cv::Mat actual = oneThread.forward(blob);
            ASSERT_EQ(actual.dims, 3);
            ASSERT_EQ(cv::MatSize(actual.size), cv::MatSize(expected.size));
            EXPECT_LT(largestDifference(actual, expected), 1e-4);
            EXPECT_LT(largestDifference(twoThreads.forward(blob), actual), 1e-5);
        }
    }
}

TEST(OneDnnBackend, ShippedModelMatchesOpenCvAndRefusesOtherShapes) {
    ModelManifest manifest;
    std::string whyNot;
    ASSERT_TRUE(readManifest(shippedModel(), manifest, whyNot)) << whyNot;
    const int height = manifest.inputSize.height;
    const int width = manifest.inputSize.width;
    const auto plan = compile(manifest.onnxPath, height, width, whyNot);
    ASSERT_TRUE(plan) << whyNot;
    cv::dnn::Net reference = cv::dnn::readNetFromONNX(manifest.onnxPath.string());
    const cv::Mat blob = randomBlob(height, width, 3);
    reference.setInput(blob);
    EXPECT_LT(largestDifference(OneDnnNetwork(plan, 1).forward(blob), reference.forward()), 1e-4);
    EXPECT_THROW(OneDnnNetwork(plan, 1).forward(randomBlob(height + 64, width + 96, 3)), cv::Exception);
    // Its head adds a grid made for the manifest's size: another size cannot broadcast.
    EXPECT_FALSE(compile(manifest.onnxPath, height + 64, width + 96, whyNot));
    EXPECT_NE(whyNot.find("broadcast"), std::string::npos) << whyNot;
}

TEST(OneDnnBackend, NamesWhatItCannotRunOrRead) {
    std::string whyNot;
    EXPECT_FALSE(compile(testModel("unsupported_op") / "model.onnx", 64, 64, whyNot));
    EXPECT_NE(whyNot.find("Abs node 'abs_node'"), std::string::npos) << whyNot;

    OnnxGraph graph;
    std::vector<unsigned char> bytes = onnxBytes(shippedModel() / "helmet.onnx");
    bytes.resize(bytes.size() / 2);
    EXPECT_FALSE(parseOnnx(bytes, graph, whyNot));
    EXPECT_FALSE(parseOnnx({0xff, 0xff, 0xff}, graph, whyNot));
    EXPECT_FALSE(parseOnnx({}, graph, whyNot));
}

// `auto` falls back to OpenCV with one line saying why; `onednn` refuses.
TEST(OneDnnBackend, ManifestChoosesTheBackend) {
    ScratchFolder scratch;
    const std::string manifest = readFile(testModel("unsupported_op") / "model.yml");
    fs::copy_file(testModel("unsupported_op") / "model.onnx", scratch.path() / "model.onnx");
    auto backendOf = [](ZORCustomHMD& detector) {
        CustomParams params;
        detector.ConfigureParameters(params);
        for (const auto& entry : params.textEntries) {
            if (entry.text1 == "backend") {
                return entry.text2;
            }
        }
        return std::string();
    };
    std::string labels;
    {
        writeFile(scratch.path() / "model.yml", manifest);
        ZORCustomHMD detector;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(detector.Initialize(scratch.path().string(), 0.6f, labels));
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_NE(said.find("runs on OpenCV DNN"), std::string::npos) << said;
        EXPECT_EQ(backendOf(detector), "opencv-cpu");
        EXPECT_EQ(detector.RunInference(cv::Mat(64, 64, CV_8UC3, cv::Scalar::all(9))).size(), 3u);
    }
    {
        writeFile(scratch.path() / "model.yml", manifest + "backend: onednn\n");
        ZORCustomHMD detector;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(detector.Initialize(scratch.path().string(), 0.6f, labels));
        EXPECT_NE(testing::internal::GetCapturedStderr().find("Abs"), std::string::npos);
    }
    {
        writeFile(scratch.path() / "model.yml", readFile(testModel("v5_basic") / "model.yml") + "threads: 2\n");
        fs::copy_file(testModel("v5_basic") / "model.onnx", scratch.path() / "model.onnx",
                      fs::copy_options::overwrite_existing);
        ZORCustomHMD detector;
        ASSERT_TRUE(detector.Initialize(scratch.path().string(), 0.6f, labels));
        EXPECT_EQ(backendOf(detector), "onednn-cpu");
        EXPECT_TRUE(detector.OptimizeModel(true));
        EXPECT_EQ(backendOf(detector), "onednn-cpu");
    }
}

// Contexts made and run at once from one shared plan (one per thread, as the
// network pool hands them out) give each thread the serial results.
TEST(OneDnnBackend, ConcurrentContextsGiveTheSerialResults) {
    std::string whyNot;
    const auto plan = compile(testModel("ops_mix") / "model.onnx", 40, 56, whyNot);
    ASSERT_TRUE(plan) << whyNot;
    std::vector<cv::Mat> blobs, serial;
    OneDnnNetwork reference(plan, 1);
    for (uint64_t seed = 0; seed < 6; ++seed) {
        blobs.push_back(randomBlob(40, 56, seed));
        serial.push_back(reference.forward(blobs.back()));
    }
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&, t] {
            OneDnnNetwork own(plan, 1);
            for (int round = 0; round < 10; ++round) {
                for (size_t b = 0; b < blobs.size(); ++b) {
                    mismatches[t] += largestDifference(own.forward(blobs[b]), serial[b]) == 0.0 ? 0 : 1;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (size_t t = 0; t < mismatches.size(); ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    }
}
