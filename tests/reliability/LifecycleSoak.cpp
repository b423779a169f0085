// Initialize/Destroy cycles in one process: prints how much resident memory
// grew after a warm-up, and fails when it grew by 2 MB or more.
//   lifecycle_soak MODEL_DIR [CYCLES]
#include "ResidentMemory.h"
#include "ZORCustomHMD.h"

#include <iostream>
#include <string>

namespace {

long residentKilobytes() {
    return static_cast<long>(zor::tools::currentResidentMegabytes() * 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: lifecycle_soak MODEL_DIR [CYCLES]\n";
        return 2;
    }
    const std::string modelDirectory = argv[1];
    const int cycles = argc > 2 ? std::stoi(argv[2]) : 1000;
    const int warmUp = 20;
    const cv::Mat frame(360, 640, CV_8UC3, cv::Scalar(90, 120, 150));

    ZORCustomHMD detector;
    long baseline = 0;
    for (int cycle = 0; cycle < warmUp + cycles; ++cycle) {
        if (cycle == warmUp) {
            baseline = residentKilobytes();
        }
        std::string labelMap;
        if (!detector.Initialize(modelDirectory, 0.6f, labelMap)) {
            std::cerr << "Initialize failed in cycle " << cycle << "\n";
            return 1;
        }
        detector.RunInference(frame, "soak");
        detector.Destroy();
    }
    const long growth = residentKilobytes() - baseline;
    std::cout << "[lifecycle] " << cycles << " Initialize/Destroy cycles: resident memory " << baseline << " kB -> "
              << baseline + growth << " kB, growth " << growth << " kB\n";
    return growth < 2048 ? 0 : 1;
}
