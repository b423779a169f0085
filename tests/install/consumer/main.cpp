// Loads the installed model through the installed library and runs one frame:
// prints the label map and the number of detections; exits 1 on failure.
#include <ZORCustomHMD.h>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: helmet-consumer MODEL_DIR\n";
        return 2;
    }
    ZORCustomHMD detector;
    std::string labelMap;
    if (!detector.Initialize(argv[1], 0.5f, labelMap)) {
        return 1;
    }
    const cv::Mat frame(480, 640, CV_8UC3, cv::Scalar(128, 128, 128));
    const auto objects = detector.RunInference(frame, "consumer");
    std::cout << "labels=" << labelMap << " detections=" << objects.size() << '\n';
    return detector.Destroy() ? 0 : 1;
}
