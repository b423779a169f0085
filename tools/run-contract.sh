#!/usr/bin/env bash
# The main job: builds our reference library and the contract program, stages
# the model and the test video where the program looks for them, and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
stage=build/contract-run
rm -rf "$stage" && mkdir -p "$stage"
cd "$stage"
exec ../bin/HelmetDetectionTest "$@"
