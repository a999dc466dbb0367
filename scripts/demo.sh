#!/usr/bin/env bash
# Installs what is missing, builds, and renders the built-in demo flow.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build
build/bin/lumets demo "$@"
