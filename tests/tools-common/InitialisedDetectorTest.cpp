#include "InitialisedDetector.h"
#include "ScratchFolder.h"
#include "ToolExit.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

namespace {

// Counts the calls; Initialize says why it refuses on std::cerr, as libraries do.
class FakeDetector final : public IZORCustomClass {
public:
    bool accept = true;
    int initializeCalls = 0;
    int destroyCalls = 0;

    bool Initialize(const std::string&, float, std::string& labelMap) override {
        ++initializeCalls;
        if (!accept) {
            std::cerr << "no model.yml\n";
            return false;
        }
        labelMap = "helmet,head";
        return true;
    }
    bool OptimizeModel(bool) override { return true; }
    std::vector<CustomObject> RunInference(const cv::Mat&, const std::string&) override { return {}; }
    std::vector<CustomObject> RunInference(const cv::Mat&) override { return {}; }
    bool ConfigureParameters(CustomParams&) override { return true; }
    bool Destroy() override {
        ++destroyCalls;
        return true;
    }
};

TEST(InitialisedDetector, InitializesAndDestroysOnTheWayOut) {
    const zor::test::ScratchFolder model;
    FakeDetector fake;
    {
        const zor::tools::InitialisedDetector detector(fake, model.path().string(), 0.5f);
        EXPECT_EQ(detector.labelMap(), "helmet,head");
        EXPECT_EQ(fake.destroyCalls, 0);
    }
    EXPECT_EQ(fake.destroyCalls, 1);
}

TEST(InitialisedDetector, RefusalsAreUserErrorsWithTheLibrarysReason) {
    const zor::test::ScratchFolder model;
    FakeDetector fake;
    const std::string missing = (model.path() / "absent").string();
    try {
        zor::tools::InitialisedDetector detector(fake, missing, 0.5f);
        FAIL() << "no exception";
    } catch (const zor::tools::UserError& error) {
        EXPECT_EQ(std::string(error.what()), "model folder not found: " + missing);
    }
    EXPECT_EQ(fake.initializeCalls, 0);

    fake.accept = false;
    try {
        zor::tools::InitialisedDetector detector(fake, model.path().string(), 0.5f);
        FAIL() << "no exception";
    } catch (const zor::tools::UserError& error) {
        EXPECT_EQ(std::string(error.what()), "cannot load the model in " + model.path().string() + " (no model.yml)");
    }
    EXPECT_EQ(fake.destroyCalls, 0);  // nothing to destroy after a refused Initialize
}

}  // namespace
