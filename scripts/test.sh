#!/usr/bin/env bash
# Builds everything and runs the whole test suite headless, installing what
# is missing first. CTest starts the test session (a private X display, the
# prefix build/wineprefix-test and its own wineserver) and ends it, and
# likewise the session on two monitors (build/wineprefix-multimon) for the
# tests that need it; tests that share nothing run two at a time. Extra
# arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
kestrix_use_prefix test
kestrix_prepare
kestrix_session_free
KESTRIX_SESSION=multimon
kestrix_use_prefix multimon
kestrix_session_free
# An interrupted run leaves no session behind.
kestrix_end_with kestrix_sessions_stop
cd "$BUILD"
ctest -j2 --output-on-failure --timeout 600 "$@"
