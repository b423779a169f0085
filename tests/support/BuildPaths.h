// Where this build put what a test program reads. Each program's values are in
// one source file the build generates (hmd_test_paths), not in compile
// definitions: those would name the checkout's folder, and every file of the
// program would miss the compiler cache in each new clone.
#pragma once

namespace zor::test::paths {

extern const char* const kToolProgram;   // the tool under test
extern const char* const kTestModels;    // the known-output models, tests/detector/models
extern const char* const kShippedModel;  // models/ZOR_Helmet
extern const char* const kStagedVideo;   // the test video the build staged
extern const char* const kSource;        // the project's source folder
extern const char* const kOtherLibrary;  // helmet-bench's second library file; "" when not built

}  // namespace zor::test::paths
