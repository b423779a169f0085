#!/usr/bin/env bash
# Builds everything and runs every test: our own suites, the contract program
# on no assets and on the staged assets, the faulty libraries, and the
# sanitizer builds.
set -euo pipefail
cd "$(dirname "$0")/.."

# MinGW-w64 for the Windows syntax check (portability.mingw-syntax), chromium
# to load the report page (helmet-report.browser), ccache for the vendor-option
# check, which compiles the contract program and the tools again from the same
# sources (the cache lives in build/, so a clean clone starts it empty);
# Python's OpenCV, torch and onnx for the training scripts' tests; clang and
# its libFuzzer runtime for the fuzz targets.
bash tools/install-deps.sh g++-mingw-w64-x86-64-posix chromium ccache python3-opencv python3-torch python3-onnx \
    clang libclang-rt-14-dev
export CCACHE_DIR="$PWD/build/ccache"
status=0
cmake --preset default -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake --build --preset default
ctest --preset default || status=1
[ -f build/mutants/summary.txt ] && { echo; echo "Faulty libraries:"; cat build/mutants/summary.txt; }
[ -f build/memcheck-skipped.txt ] && { echo; echo "Memory check skipped: $(cat build/memcheck-skipped.txt)"; }

for preset in asan tsan fuzz; do
    echo; echo "== $preset =="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" || status=1
done
exit $status
