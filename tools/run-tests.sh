#!/usr/bin/env bash
# Builds everything and runs every test: our own suites, the contract program
# on no assets and on the staged assets, the faulty libraries, and the
# sanitizer builds.
set -euo pipefail
cd "$(dirname "$0")/.."

# MinGW-w64 for the Windows syntax check (portability.mingw-*), chromium to
# load the report page (helmet-report.browser), ccache, Python's OpenCV, torch
# and onnx for the training scripts' tests, clang and its libFuzzer runtime for
# the fuzz targets.
bash tools/install-deps.sh g++-mingw-w64-x86-64-posix chromium ccache python3-opencv python3-torch python3-onnx \
    clang libclang-rt-14-dev

# Every build goes through one compiler cache per machine and user, kept
# outside the clone, as a CI runner keeps its cache: a clean clone recompiles
# only what changed since the last run on this machine. The first run on a
# machine fills it (see README.md for both times). Paths are taken relative
# to the clone, so that clones in other folders share entries.
export CCACHE_DIR="${HMD_CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/helmet-detection-ccache}"
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true CCACHE_MAXSIZE=3G
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
status=0
cmake --preset default
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
