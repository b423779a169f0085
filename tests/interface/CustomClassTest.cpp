// The base class's own members: defaults, SetParameters and the field-by-field
// copy and move operations.
#include "AllocationFailure.h"
#include "IZORCustomClass.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

namespace {

// The smallest concrete model: the operations are irrelevant here.
class PlainModel : public IZORCustomClass {
public:
    bool Initialize(const std::string&, float, std::string&) override { return false; }
    bool OptimizeModel(bool) override { return false; }
    std::vector<CustomObject> RunInference(const cv::Mat&, const std::string&) override { return {}; }
    std::vector<CustomObject> RunInference(const cv::Mat&) override { return {}; }
    bool ConfigureParameters(CustomParams&) override { return true; }
    bool Destroy() override { return true; }
};

auto fields(const ParamFlagsEntry& e) {
    return std::tie(e.flag1, e.flag2, e.flag3, e.value1, e.value2, e.text1, e.text2);
}
auto fields(const ParamTextEntry& e) {
    return std::tie(e.text1, e.text2, e.value1, e.value2, e.value3, e.text3, e.textList, e.text4, e.text5);
}
auto fields(const ParamListEntry& e) {
    return std::tie(e.text1, e.valueList, e.text2, e.text3, e.value1);
}

template <typename T>
bool sameEntries(const std::vector<T>& a, const std::vector<T>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const T& x, const T& y) { return fields(x) == fields(y); });
}

bool sameParams(const CustomParams& a, const CustomParams& b) {
    return sameEntries(a.flagEntries, b.flagEntries) && a.texts == b.texts &&
           sameEntries(a.textEntries, b.textEntries) && sameEntries(a.listEntries, b.listEntries);
}

bool allEmpty(const CustomParams& p) {
    return p.flagEntries.empty() && p.texts.empty() && p.textEntries.empty() && p.listEntries.empty();
}

// Long texts so that every copy allocates.
CustomParams makeParams(const std::string& tag, int count) {
    CustomParams params;
    for (int i = 0; i < count; ++i) {
        const std::string text = tag + " entry " + std::to_string(i) + " with a text too long for the small buffer";
        params.flagEntries.push_back({1, 0, 1, i, -i, text, text + " b"});
        params.texts.push_back(text);
        params.textEntries.push_back({text, text, i, i + 1, i + 2, text, {text, text}, text, text});
        params.listEntries.push_back({text, {0.5 * i, 1.5}, text, text, i});
    }
    return params;
}

PlainModel makeModel(const std::string& tag) {
    PlainModel model;
    model.modelInfo = tag + " model information that does not fit a small string";
    model.threshold = 0.75f;
    model.loadEngineOnCreate = true;
    model.SetParameters(makeParams(tag, 3));
    return model;
}

}  // namespace

TEST(CustomClassDefaults, StartEmptyWithHalfThreshold) {
    PlainModel model;
    EXPECT_TRUE(model.modelInfo.empty());
    EXPECT_FLOAT_EQ(model.threshold, 0.5f);
    EXPECT_TRUE(allEmpty(model.parameters));
    EXPECT_FALSE(model.loadEngineOnCreate);
}

TEST(CustomClassDefaults, SetLoadEngineOnCreateStoresOnlyTheFlag) {
    PlainModel model = makeModel("a");
    const CustomParams before = model.parameters;
    model.SetLoadEngineOnCreate(false);
    EXPECT_FALSE(model.loadEngineOnCreate);
    model.SetLoadEngineOnCreate(true);
    EXPECT_TRUE(model.loadEngineOnCreate);
    EXPECT_TRUE(sameParams(model.parameters, before));
    EXPECT_FLOAT_EQ(model.threshold, 0.75f);
}

TEST(SetParameters, ReplacesAllFourListsWithCopies) {
    PlainModel model = makeModel("old");
    const std::string info = model.modelInfo;
    CustomParams source = makeParams("new", 2);
    EXPECT_TRUE(model.SetParameters(source));
    EXPECT_TRUE(sameParams(model.parameters, source));
    source.texts[0] = "changed afterwards";
    EXPECT_NE(model.parameters.texts[0], source.texts[0]);
    EXPECT_EQ(model.modelInfo, info);
    EXPECT_FLOAT_EQ(model.threshold, 0.75f);
    EXPECT_TRUE(model.loadEngineOnCreate);
}

TEST(SetParameters, EmptyRecordEmptiesEveryList) {
    PlainModel model = makeModel("old");
    EXPECT_TRUE(model.SetParameters(CustomParams{}));
    EXPECT_TRUE(allEmpty(model.parameters));
}

TEST(SetParameters, RepeatedCallsDoNotAccumulate) {
    PlainModel model;
    const CustomParams source = makeParams("x", 2);
    EXPECT_TRUE(model.SetParameters(source));
    EXPECT_TRUE(model.SetParameters(source));
    EXPECT_TRUE(sameParams(model.parameters, source));
}

TEST(SetParameters, OwnParametersAsSourceKeepThem) {
    PlainModel model = makeModel("self");
    const CustomParams before = model.parameters;
    EXPECT_TRUE(model.SetParameters(model.parameters));
    EXPECT_TRUE(sameParams(model.parameters, before));
}

// Fails each allocation in turn: every failure must return false and leave
// all four lists exactly as they were.
TEST(SetParameters, OutOfMemoryAnywhereLeavesListsUnchanged) {
    PlainModel model = makeModel("old");
    const CustomParams before = model.parameters;
    const CustomParams source = makeParams("new", 3);
    int failuresSeen = 0;
    for (long allowed = 0;; ++allowed) {
        bool ok = false;
        bool triggered = false;
        {
            AllocationFailure failure(allowed);
            ok = model.SetParameters(source);
            triggered = failure.triggered();
        }
        if (!triggered) {
            EXPECT_TRUE(ok);
            EXPECT_TRUE(sameParams(model.parameters, source));
            break;
        }
        ++failuresSeen;
        ASSERT_FALSE(ok) << "allocation " << allowed;
        ASSERT_TRUE(sameParams(model.parameters, before)) << "after failing allocation " << allowed;
    }
    EXPECT_GT(failuresSeen, 30);
}

TEST(CustomClassCopy, CopyConstructionSharesNothing) {
    PlainModel source = makeModel("src");
    PlainModel copy(source);
    EXPECT_EQ(copy.modelInfo, source.modelInfo);
    EXPECT_FLOAT_EQ(copy.threshold, source.threshold);
    EXPECT_TRUE(sameParams(copy.parameters, source.parameters));
    EXPECT_EQ(copy.loadEngineOnCreate, source.loadEngineOnCreate);
    copy.parameters.texts[0] = "only in the copy";
    copy.modelInfo = "copy";
    EXPECT_NE(source.parameters.texts[0], "only in the copy");
    EXPECT_NE(source.modelInfo, "copy");
}

TEST(CustomClassCopy, CopyAssignmentReplacesEveryField) {
    PlainModel target = makeModel("target");
    target.SetParameters(makeParams("target", 5));
    const PlainModel source = makeModel("src");
    target.threshold = 0.1f;
    target.loadEngineOnCreate = false;
    target = source;
    EXPECT_EQ(target.modelInfo, source.modelInfo);
    EXPECT_FLOAT_EQ(target.threshold, 0.75f);
    EXPECT_TRUE(target.loadEngineOnCreate);
    EXPECT_TRUE(sameParams(target.parameters, source.parameters));
}

TEST(CustomClassCopy, SelfCopyAssignmentChangesNothing) {
    PlainModel model = makeModel("self");
    const PlainModel before(model);
    auto& alias = model;
    model = alias;
    EXPECT_EQ(model.modelInfo, before.modelInfo);
    EXPECT_TRUE(sameParams(model.parameters, before.parameters));
}

TEST(CustomClassMove, MoveConstructionEmptiesSourceButKeepsItsScalars) {
    PlainModel source = makeModel("src");
    const PlainModel expected(source);
    PlainModel moved(std::move(source));
    EXPECT_EQ(moved.modelInfo, expected.modelInfo);
    EXPECT_TRUE(sameParams(moved.parameters, expected.parameters));
    EXPECT_FLOAT_EQ(moved.threshold, 0.75f);
    EXPECT_TRUE(moved.loadEngineOnCreate);
    EXPECT_TRUE(source.modelInfo.empty());
    EXPECT_TRUE(allEmpty(source.parameters));
    EXPECT_FLOAT_EQ(source.threshold, 0.75f);
    EXPECT_TRUE(source.loadEngineOnCreate);
}

TEST(CustomClassMove, MoveAssignmentTakesOverListsAndEmptiesSource) {
    PlainModel target = makeModel("target");
    target.threshold = 0.2f;
    target.loadEngineOnCreate = false;
    PlainModel source = makeModel("src");
    const PlainModel expected(source);
    target = std::move(source);
    EXPECT_EQ(target.modelInfo, expected.modelInfo);
    EXPECT_TRUE(sameParams(target.parameters, expected.parameters));
    EXPECT_FLOAT_EQ(target.threshold, 0.75f);
    EXPECT_TRUE(target.loadEngineOnCreate);
    EXPECT_TRUE(source.modelInfo.empty());
    EXPECT_TRUE(allEmpty(source.parameters));
    EXPECT_TRUE(source.loadEngineOnCreate);
}

TEST(CustomClassMove, SelfMoveAssignmentChangesNothing) {
    PlainModel model = makeModel("self");
    const PlainModel before(model);
    auto& alias = model;
    model = std::move(alias);
    EXPECT_EQ(model.modelInfo, before.modelInfo);
    EXPECT_TRUE(sameParams(model.parameters, before.parameters));
    EXPECT_FLOAT_EQ(model.threshold, before.threshold);
}

TEST(CustomClassMove, MovedFromObjectIsReusable) {
    PlainModel source = makeModel("src");
    PlainModel target(std::move(source));
    const CustomParams fresh = makeParams("again", 1);
    EXPECT_TRUE(source.SetParameters(fresh));
    EXPECT_TRUE(sameParams(source.parameters, fresh));
    source = target;
    EXPECT_TRUE(sameParams(source.parameters, target.parameters));
}
