#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite but the tests
# labelled long (ctest --test-dir build -L long runs those).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 600 -LE long
