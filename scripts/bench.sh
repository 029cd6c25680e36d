#!/usr/bin/env bash
# Builds and runs every benchmark in bench/ on a private display; each prints
# its ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
kestrix_use_prefix bench
kestrix_end_with kestrix_stop
kestrix_prepare
kestrix_start_xvfb 3840x2160x24
kestrix_start_wine
for b in "$BUILD"/bin/bench_*.exe; do
  echo "== $(basename "$b")"
  wine "$b" </dev/null
done
for s in "$ROOT"/bench/*.sh; do
  bash "$s" "$BUILD/bin"
done
