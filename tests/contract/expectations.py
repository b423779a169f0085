"""What the contract program must report in each scenario."""

UNIT_TESTS = [
    "HelmetUnitTest.EmptyFrameReturnsNoDetections",
    "HelmetUnitTest.TinyFrameReturnsNoDetections",
    "HelmetUnitTest.UninitializedDetectorReturnsNoDetections",
    "HelmetUnitTest.RunInferenceWithCameraId",
    "HelmetUnitTest.ConfigureParametersReturnsValidConfig",
    "HelmetUnitTest.DestroySucceeds",
    "HelmetUnitTest.DestroyCanBeCalledMultipleTimes",
    "HelmetUnitTest.InitializeWithInvalidDirectoryFails",
    "HelmetUnitTest.OptimizeBeforeInitializeReturnsFalse",
]
INTEGRATION_TESTS = [
    "HelmetIntegrationTest.InitializeProducesLabelMap",
    "HelmetIntegrationTest.InferenceOnSolidFrameReturnsNoDetections",
    "HelmetIntegrationTest.InferenceOnSmallFrame",
    "HelmetIntegrationTest.InferenceOnLargeFrame",
    "HelmetIntegrationTest.DetectionResultFieldsAreValid",
    "HelmetIntegrationTest.PerformanceBenchmark",
    "HelmetIntegrationTest.ThreadSafetyConcurrentInference",
]
DECLARED_ORDER = UNIT_TESTS + INTEGRATION_TESTS

MODEL_DIR = "C:\\Programs\\DemoAssets\\ModelsForTELMAR\\ZOR_Helmet(GPU)_v1.0"
BENCHMARK_LINE = r"^\[Helmet\] 100 frames: avg=[0-9.e+-]+ms/frame, detections=[1-9][0-9]*$"

# Each outcome is ("passed",), ("skipped", message) or ("failed", text, ...)
# where every text must appear in the test's failure report.
SCENARIOS = {
    "no-assets": {
        "default": ("passed",),
        "outcomes": {name: ("skipped", "Helmet model not found at: " + MODEL_DIR) for name in INTEGRATION_TESTS},
    },
    "staged": {
        "default": ("passed",),
        "outcomes": {},
        "stdout": [BENCHMARK_LINE],
    },
}
