// GoogleTest takes its own options first; the rest are the program's.
#include "CertificationSupport.h"
#include "CommandLine.h"
#include "InstalledData.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    // GoogleTest 1.12 takes only --help as help; -h and -? would run every
    // test. Each form shows GoogleTest's help and then the program's.
    std::string help = "--help";
    bool helpAsked = false;
    for (int i = 1; i < argc; ++i) {
        if (zor::tools::isHelpArgument(argv[i])) {
            argv[i] = help.data();
            helpAsked = true;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    if (helpAsked) {
        std::cout << zor::cert::usage();
        return 0;
    }
    zor::cert::Options options;
    // The installed ground truth of the test video and the photo samples.
    options.videoLabels = zor::tools::installedData(zor::tools::kTestVideoLabels).string();
    options.photos = zor::tools::installedData(zor::tools::kPhotoSample).string();
    options.robustness.sitePhotos = zor::tools::installedData(zor::tools::kSitePhotoSample).string();
    if (const std::string problem = zor::cert::parseOptions(argc, argv, options); !problem.empty()) {
        std::cerr << "HelmetCertificationTest: " << problem << " (see --help)" << std::endl;
        return 2;
    }
    zor::cert::setOptions(std::move(options));
    const int status = RUN_ALL_TESTS();
    // A run that checked nothing must not read as a pass.
    const ::testing::UnitTest& run = *::testing::UnitTest::GetInstance();
    if (status == 0 && run.test_to_run_count() > 0 && run.skipped_test_count() == run.test_to_run_count()) {
        std::cerr << "HelmetCertificationTest: every test skipped (" << run.skipped_test_count()
                  << "): nothing was checked; see the reasons above" << std::endl;
        return 2;
    }
    return status;
}
