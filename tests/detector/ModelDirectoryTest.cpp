// Initialize against broken model directories, and the detector without a model.
#include "DetectorTestSupport.h"

#include <algorithm>
#include <functional>
#include <map>

using namespace zor::test;

namespace {

const std::string validManifest = readFile(testModel("v5_basic") / "model.yml");

std::string manifestWith(const std::string& from, const std::string& to) {
    std::string text = validManifest;
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

std::string repeated(const std::string& part, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += part;
    }
    return text;
}

struct BrokenDirectory {
    const char* name;
    // Writes the broken model into the folder and returns the path to pass.
    std::function<fs::path(const fs::path&)> make;
    // The file that the error line must name.
    const char* namedFile;
};

fs::path validCopy(const fs::path& folder) {
    fs::copy(testModel("v5_basic"), folder);
    return folder;
}

fs::path withManifest(const fs::path& folder, const std::string& manifest) {
    validCopy(folder);
    writeFile(folder / "model.yml", manifest);
    return folder;
}

fs::path withOnnx(const fs::path& folder, const std::string& onnx) {
    validCopy(folder);
    writeFile(folder / "model.onnx", onnx);
    return folder;
}

const std::string validOnnx = readFile(testModel("v5_basic") / "model.onnx");

const BrokenDirectory brokenDirectories[] = {
    {"Missing", [](const fs::path& f) { return f / "absent"; }, "absent"},
    {"PathIsAFile",
     [](const fs::path& f) {
         writeFile(f / "file", "x");
         return f / "file";
     },
     "file"},
    {"NoManifest",
     [](const fs::path& f) {
         fs::copy_file(testModel("v5_basic") / "model.onnx", f / "model.onnx");
         return f;
     },
     "model.yml"},
    {"EmptyManifest", [](const fs::path& f) { return withManifest(f, ""); }, "model.yml"},
    {"ManifestNotYaml", [](const fs::path& f) { return withManifest(f, "%YAML:1.0\n---\n{[:: broken"); }, "model.yml"},
    {"ManifestIsAList", [](const fs::path& f) { return withManifest(f, "%YAML:1.0\n---\n- 1\n- 2\n"); }, "model.yml"},
    {"WidthNotANumber",
     [](const fs::path& f) { return withManifest(f, manifestWith("input_width: 64", "input_width: \"wide\"")); },
     "model.yml"},
    {"ZeroInputSize",
     [](const fs::path& f) { return withManifest(f, manifestWith("input_height: 64", "input_height: 0")); },
     "model.yml"},
    {"HugeInputSize",
     [](const fs::path& f) { return withManifest(f, manifestWith("input_width: 64", "input_width: 100000")); },
     "model.yml"},
    {"UnknownLayout", [](const fs::path& f) { return withManifest(f, manifestWith("\"yolov5\"", "\"yolov9\"")); },
     "model.yml"},
    {"NoClasses", [](const fs::path& f) { return withManifest(f, manifestWith("[ \"helmet\", \"head\" ]", "[ ]")); },
     "model.yml"},
    {"DuplicateClasses", [](const fs::path& f) { return withManifest(f, manifestWith("\"head\" ]", "\"helmet\" ]")); },
     "model.yml"},
    {"EmptyClassName", [](const fs::path& f) { return withManifest(f, manifestWith("\"head\" ]", "\"\" ]")); },
     "model.yml"},
    {"NewerFormat",
     [](const fs::path& f) { return withManifest(f, manifestWith("format_version: 1", "format_version: 2")); },
     "model.yml"},
    {"BadIoU", [](const fs::path& f) { return withManifest(f, manifestWith("nms_iou: 0.45", "nms_iou: 1.5")); },
     "model.yml"},
    {"UnknownNmsMode",
     [](const fs::path& f) {
         return withManifest(f, manifestWith("nms_iou: 0.45", "nms_iou: 0.45\nnms_mode: \"soft\""));
     },
     "model.yml"},
    {"NmsModeNotAText",
     [](const fs::path& f) { return withManifest(f, manifestWith("nms_iou: 0.45", "nms_iou: 0.45\nnms_mode: 1")); },
     "model.yml"},
    {"UnknownBackend",
     [](const fs::path& f) {
         return withManifest(f, manifestWith("nms_iou: 0.45", "nms_iou: 0.45\nbackend: \"cuda\""));
     },
     "model.yml"},
    {"ZeroThreads",
     [](const fs::path& f) { return withManifest(f, manifestWith("nms_iou: 0.45", "nms_iou: 0.45\nthreads: 0")); },
     "model.yml"},
    {"ThreadsNotANumber",
     [](const fs::path& f) {
         return withManifest(f, manifestWith("nms_iou: 0.45", "nms_iou: 0.45\nthreads: \"all\""));
     },
     "model.yml"},
    {"MissingOnnx", [](const fs::path& f) { return withManifest(f, manifestWith("\"model.onnx\"", "\"other.onnx\"")); },
     "other.onnx"},
    {"OnnxIsAFolder",
     [](const fs::path& f) {
         validCopy(f);
         fs::remove(f / "model.onnx");
         fs::create_directory(f / "model.onnx");
         return f;
     },
     "model.onnx"},
    {"EmptyOnnx", [](const fs::path& f) { return withOnnx(f, ""); }, "model.onnx"},
    {"TruncatedOnnx", [](const fs::path& f) { return withOnnx(f, validOnnx.substr(0, validOnnx.size() / 2)); },
     "model.onnx"},
    {"RandomBytesOnnx",
     [](const fs::path& f) {
         std::string junk(4096, '\0');
         cv::RNG rng(7);
         for (char& c : junk)
             c = static_cast<char>(rng.uniform(0, 256));
         return withOnnx(f, junk);
     },
     "model.onnx"},
    {"ClassCountMismatch",
     [](const fs::path& f) { return withManifest(f, manifestWith("\"head\" ]", "\"head\", \"vest\" ]")); },
     "model.onnx"},
    {"ManifestIsAFolder",
     [](const fs::path& f) {
         fs::copy_file(testModel("v5_basic") / "model.onnx", f / "model.onnx");
         fs::create_directory(f / "model.yml");
         return f;
     },
     "model.yml"},
    {"NoFormatVersion", [](const fs::path& f) { return withManifest(f, manifestWith("format_version: 1\n", "")); },
     "model.yml"},
    {"NonAsciiPathWithoutManifest",
     [](const fs::path& f) {
         fs::create_directory(f / "модель-ヘルメット");
         return f / "модель-ヘルメット";
     },
     "модель-ヘルメット"},
    {"PathLongerThanTheSystemAllows", [](const fs::path& f) { return f / std::string(5000, 'x'); }, "xxxxxxxx"},
    // Each would load a working model if the manifest's bounds were not kept.
    {"ManifestNestedTooDeep",
     [](const fs::path& f) {
         return withManifest(f, validManifest + "extra: " + std::string(30000, '[') + std::string(30000, ']') + "\n");
     },
     "model.yml"},
    {"ManifestDashesNestedTooDeep",
     [](const fs::path& f) { return withManifest(f, validManifest + "extra:\n  " + repeated("- ", 30000) + "1\n"); },
     "model.yml"},
    // OpenCV's YAML reader never returns on it (found by fuzz.manifest).
    {"ManifestDirectoryAfterTheDocumentMarker",
     [](const fs::path& f) { return withManifest(f, "%YAML:1.0\n---%:1\n-\n-"); }, "model.yml"},
    {"ManifestTextAfterTheDocumentMarker",
     [](const fs::path& f) { return withManifest(f, "%YAML:1.0\n---rsi\"dth)YAML:1.0\n-: --\nA65"); }, "model.yml"},
    {"ManifestIndentedTextAfterTheDocumentMarker",
     [](const fs::path& f) { return withManifest(f, "%YAML:1.0\n ---rsi\"dth)YAML:1.0\n-: --\xff\nA65"); },
     "model.yml"},
    // OpenCV's reader would read the class "head  # bare".
    {"ManifestCommentAfterUnquotedText",
     [](const fs::path& f) {
         return withManifest(f, manifestWith("\"head\" ]", "\"head\" ]\nnms_mode: per_class  # c"));
     },
     "model.yml"},
    {"ManifestNestedMapping", [](const fs::path& f) { return withManifest(f, validManifest + "extra:\n  inner: 1\n"); },
     "model.yml"},
    {"ManifestPercentAfterAQuoteOpenedMidWord",
     [](const fs::path& f) { return withManifest(f, "%YAML:1.0\n---rsi\"dth%YAML:1.0\n-: --\n65"); }, "model.yml"},
    {"ManifestTooLarge",
     [](const fs::path& f) { return withManifest(f, validManifest + "# " + std::string(70000, 'x') + "\n"); },
     "model.yml"},
    {"ClassNameNotUtf8",
     [](const fs::path& f) {
         return withManifest(f, manifestWith("\"head\" ]",
                                             "\"he\xff\xfe"
                                             "ad\" ]"));
     },
     "model.yml"},
    {"OnnxInTheParentFolder",
     [](const fs::path& f) {
         fs::copy_file(testModel("v5_basic") / "model.onnx", f / "model.onnx");
         fs::create_directory(f / "model");
         writeFile(f / "model" / "model.yml", manifestWith("\"model.onnx\"", "\"../model.onnx\""));
         return f / "model";
     },
     "model.yml"},
    {"OnnxByAbsolutePath",
     [](const fs::path& f) {
         fs::copy_file(testModel("v5_basic") / "model.onnx", f / "model.onnx");
         fs::create_directory(f / "model");
         std::string quoted = (f / "model.onnx").generic_string();
         quoted.insert(quoted.begin(), '"');
         quoted.push_back('"');
         writeFile(f / "model" / "model.yml", manifestWith("\"model.onnx\"", quoted));
         return f / "model";
     },
     "model.yml"},
    {"OnnxLinkOutOfTheFolder",
     [](const fs::path& f) {
         fs::copy_file(testModel("v5_basic") / "model.onnx", f / "elsewhere.onnx");
         fs::create_directory(f / "model");
         writeFile(f / "model" / "model.yml", validManifest);
         fs::create_symlink(f / "elsewhere.onnx", f / "model" / "model.onnx");
         return f / "model";
     },
     "model.yml"},
    {"WrongLayout",
     [](const fs::path& f) {
         fs::copy(testModel("v8_basic"), f);
         writeFile(f / "model.yml", manifestWith("input_width: 64", "input_width: 96"));
         return f;
     },
     "model.onnx"},
};

void PrintTo(const BrokenDirectory& directory, std::ostream* os) {
    *os << directory.name;
}

class BrokenModelDirectory : public testing::TestWithParam<BrokenDirectory> {};

}  // namespace

TEST_P(BrokenModelDirectory, InitializeFailsWithOneLineNamingTheFile) {
    ScratchFolder scratch;
    const fs::path directory = GetParam().make(scratch.path());
    ZORCustomHMD detector;
    std::string labelMap = "untouched";
    testing::internal::CaptureStderr();
    const bool ok = detector.Initialize(directory.string(), 0.6f, labelMap);
    const std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_FALSE(ok);
    const auto ourLine = errors.find("ZORCustomHMD::Initialize: ");
    ASSERT_NE(ourLine, std::string::npos) << errors;
    const std::string line = errors.substr(ourLine, errors.find('\n', ourLine) - ourLine);
    EXPECT_NE(line.find(GetParam().namedFile), std::string::npos) << line;
    EXPECT_EQ(errors.find("ZORCustomHMD::", ourLine + 1), std::string::npos) << errors;
    EXPECT_TRUE(detector.RunInference(cv::Mat(64, 64, CV_8UC3)).empty());
    EXPECT_FALSE(detector.OptimizeModel(true));

    // The detector is still usable with a good model afterwards.
    EXPECT_TRUE(detector.Initialize(testModel("v5_basic").string(), 0.6f, labelMap));
    EXPECT_EQ(detector.RunInference(cv::Mat(64, 64, CV_8UC3)).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Corpus, BrokenModelDirectory, testing::ValuesIn(brokenDirectories),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FailedInitialize, DropsThePreviouslyLoadedModel) {
    ZORCustomHMD detector;
    std::string labelMap;
    ASSERT_TRUE(detector.Initialize(testModel("v5_basic").string(), 0.6f, labelMap));
    ASSERT_FALSE(detector.parameters.textEntries.empty());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(detector.Initialize("/nonexistent/model", 0.6f, labelMap));
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(detector.RunInference(cv::Mat(64, 64, CV_8UC3)).empty());
    EXPECT_TRUE(detector.modelInfo.empty());
    EXPECT_TRUE(detector.parameters.textEntries.empty());
    EXPECT_TRUE(detector.parameters.texts.empty());
}

TEST(FailedInitialize, RejectsThresholdsOutsideZeroToOne) {
    ZORCustomHMD detector;
    std::string labelMap;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(detector.Initialize(testModel("v5_basic").string(), 1.5f, labelMap));
    EXPECT_FALSE(detector.Initialize(testModel("v5_basic").string(), -0.1f, labelMap));
    EXPECT_FALSE(detector.Initialize(testModel("v5_basic").string(), std::nanf(""), labelMap));
    testing::internal::GetCapturedStderr();
}

TEST(DetectorWithoutModel, ReturnsNothingForAnyFrame) {
    ZORCustomHMD detector;
    EXPECT_TRUE(detector.RunInference(cv::Mat()).empty());
    EXPECT_TRUE(detector.RunInference(cv::Mat(5, 5, CV_8UC3, cv::Scalar::all(128))).empty());
    EXPECT_TRUE(detector.RunInference(cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(128)), "test_cam_01").empty());
    EXPECT_TRUE(detector.RunInference(cv::Mat(480, 640, CV_32FC1)).empty());
}

TEST(DetectorWithoutModel, DestroyAlwaysSucceedsAndOptimizeRefuses) {
    ZORCustomHMD detector;
    EXPECT_FALSE(detector.OptimizeModel(true));
    EXPECT_FALSE(detector.OptimizeModel(false));
    EXPECT_TRUE(detector.Destroy());
    EXPECT_TRUE(detector.Destroy());
}

TEST(DetectorWithoutModel, ConfigureParametersWritesTheDefaults) {
    ZORCustomHMD detector;
    CustomParams params{};
    params.texts = {"stale"};
    ASSERT_TRUE(detector.ConfigureParameters(params));
    ASSERT_FALSE(params.textEntries.empty());
    EXPECT_EQ(params.textEntries[0].text1, "threshold");
    EXPECT_EQ(params.textEntries[0].text2, "0.5");
    EXPECT_EQ(std::count(params.texts.begin(), params.texts.end(), "stale"), 0);
}

TEST(DetectorWithoutModel, BasePartStartsAtItsDefaults) {
    ZORCustomHMD detector;
    EXPECT_TRUE(detector.modelInfo.empty());
    EXPECT_FLOAT_EQ(detector.threshold, 0.5f);
    EXPECT_FALSE(detector.loadEngineOnCreate);
}

TEST(ModelDirectoryPaths, ValidModelUnderNonAsciiAndSpacedPathLoads) {
    ScratchFolder scratch;
    const fs::path directory = scratch.path() / "Модели (GPU) v1.0" / "ヘルメット";
    fs::create_directories(directory.parent_path());
    fs::copy(testModel("v5_basic"), directory);
    ZORCustomHMD detector;
    std::string labelMap;
    EXPECT_TRUE(detector.Initialize(directory.string(), 0.6f, labelMap));
    EXPECT_EQ(labelMap, "helmet,head");
}

// The YAML a person writes by hand: a block list, comments, single quotes,
// Windows line ends.
TEST(ManifestOptions, HandWrittenYamlFormsLoad) {
    ScratchFolder scratch;
    std::string text = manifestWith("classes: [ \"helmet\", \"head\" ]",
                                    "# classes in index order\nclasses:\n  - 'helmet'\n  - \"head\"  # quoted\n");
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
        text.insert(at, "\r");
    }
    withManifest(scratch.path(), text);
    ZORCustomHMD detector;
    std::string labelMap;
    EXPECT_TRUE(detector.Initialize(scratch.path().string(), 0.6f, labelMap));
    EXPECT_EQ(labelMap, "helmet,head");
}

TEST(ManifestOptions, ClassAgnosticSuppressionKeepsOneBoxPerObjectAndIsReported) {
    ScratchFolder scratch;
    withManifest(scratch.path(), manifestWith("nms_iou: 0.45",
                                              "nms_iou: 0.45\nnms_mode: \"class_agnostic\"\n"
                                              "model_version: \"7.2\""));
    ZORCustomHMD detector;
    std::string labelMap;
    ASSERT_TRUE(detector.Initialize(scratch.path().string(), 0.6f, labelMap));
    // v5_basic has a helmet and a head box on one spot: per class both stay (3 in all).
    EXPECT_EQ(detector.RunInference(cv::Mat(64, 64, CV_8UC3)).size(), 2u);

    CustomParams params{};
    ASSERT_TRUE(detector.ConfigureParameters(params));
    std::map<std::string, std::string> values;
    for (const auto& entry : params.textEntries) {
        values[entry.text1] = entry.text2;
    }
    EXPECT_EQ(values["nms_mode"], "class_agnostic");
    EXPECT_EQ(values["model_version"], "7.2");
}

TEST(ManifestOptions, WithoutNmsModeSuppressionIsPerClass) {
    ZORCustomHMD detector;
    std::string labelMap;
    ASSERT_TRUE(detector.Initialize(testModel("v5_basic").string(), 0.6f, labelMap));
    CustomParams params{};
    ASSERT_TRUE(detector.ConfigureParameters(params));
    const auto entry = std::find_if(params.textEntries.begin(), params.textEntries.end(),
                                    [](const auto& e) { return e.text1 == "nms_mode"; });
    ASSERT_NE(entry, params.textEntries.end());
    EXPECT_EQ(entry->text2, "per_class");
}
