#!/usr/bin/env bash
# Builds everything and runs every test: our own suites and the contract
# program's checks.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
