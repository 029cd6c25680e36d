#!/usr/bin/env bash
# Builds everything and runs the whole test suite headless, on a private X
# display, installing what is missing first. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
kestrix_prepare
kestrix_start_xvfb 1280x1024x24
kestrix_start_wine
cd "$BUILD"
ctest --output-on-failure --timeout 600 "$@"
