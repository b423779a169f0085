#!/usr/bin/env bash
# The main job: builds our reference library and the contract program,
# renders the test video and stages it with the shipped model where the
# program looks for them, and runs the program there.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target HelmetDetectionTest stage-assets
cd build/staged
# GStreamer cannot open the staged file name and would warn before OpenCV's
# own reader opens it.
export OPENCV_VIDEOIO_PRIORITY_GSTREAMER=0
exec ../bin/HelmetDetectionTest "$@"
