#!/usr/bin/env bash
# Configures and builds lumets into ./build (or the folder given as $1; further
# arguments go to cmake), with warnings as errors and the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMETS_WERROR=ON -DLUMETS_BUILD_BENCH=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
