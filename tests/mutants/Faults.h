// The faults that the contract program or the certification program must
// catch. The faulty library carries all of them and shows one: the one its
// process names in the environment variable HMD_FAULT.
#pragma once

enum class Fault {
    DetectsOnEmptyFrameWithoutModel,
    DetectsOnTinyFrameWithoutModel,
    DetectsOnVgaFrameWithoutModel,
    DetectsWithCameraIdWithoutModel,
    ConfigureParametersFails,
    FirstDestroyFails,
    SecondDestroyFails,
    InitializeAcceptsMissingDirectory,
    InitializeRejectsRealModel,
    EmptyLabelMap,
    OptimizeWithoutModelSucceeds,
    DetectsOnSolidFrame,
    ThrowsOnLargeFrame,
    ConfidenceAboveOne,
    ConfidenceNotANumber,
    NegativeBoxWidth,
    NegativeClassId,
    SlowInference,
    ThrowsInConcurrentCalls,
    DestructorCrashesAfterFailedInitialize,
    // Faults the contract has no test for; listed to show its limits.
    BoxesOutsideTheFrame,
    SerialisedInference,
    // Faults only the certification program looks for.
    UnclippedEdgeBoxes,
    ClassIdPastTheLabelMap,
    DuplicateLabelName,
    ClassNameOfTheOtherClass,
    RepeatedFrameReordered,
    CameraIdChangesDetections,
    ResultsCrossTalk,
    MisplacedBoxesOnWideFrames,
    MisplacedBoxesOnSmallFrames,
    NoModelAfterReinitialize,
    SecondInitializeKeepsTheFirstModel,
    FailedInitializeKeepsTheOldModel,
    OptimizeMovesBoxes,
    ConfigureReportsAnotherThreshold,
    LeaksOnInitialize,
    StallsNowAndThen,
    // Faults only a site camera's frames show (CertifiedRobustness).
    FailsOnGrayscaleFrames,
    FailsOnDarkFrames,
    HelmetAlarmOnBareHeads,
    MissesSmallHeads,
    MissesSmallHeadsInLargerFrames,
    // Faults only a video stream or a long-running model shows
    // (CertifiedStability, the per-call resource tests).
    FlickersFromFrameToFrame,
    JittersBoxes,
    LeaksOnEachInferenceCall,
    SerialisesVeryLargeFrames,
};

// The fault HMD_FAULT names. The library cannot run without one: a missing
// or unknown name ends the process with a message, before any test runs.
Fault chosenFault();
