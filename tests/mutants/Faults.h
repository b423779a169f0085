// The faults that the contract program or the certification program must
// catch, one per faulty library.
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
};

// The fault of this library, defined by FaultChoice.cpp: the one file
// compiled per faulty library, so that FaultyHMD.cpp is compiled once.
extern const Fault kChosenFault;
