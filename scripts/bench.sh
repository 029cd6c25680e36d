#!/usr/bin/env bash
# Builds and runs every benchmark in bench/ on a private display (those
# named bench_multimon_* on a display of two monitors); each prints
# its ratios, the median of several runs with their minimum and maximum, and
# a RATIO line for each bounded one, which end up in one table at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
kestrix_use_prefix bench
ratios="$(mktemp)"
kestrix_end_with 'kestrix_stop; rm -f "$ratios"'
kestrix_prepare
# Pages of a file just written count as a process's own until they reach the
# disk: a program just linked would seem to hold its whole image.
sync
kestrix_start_xvfb 3840x2160x24
kestrix_start_wine
# A benchmark that fails still leaves the others and the table to come.
for b in "$BUILD"/bin/bench_*.exe; do
  case "$(basename "$b")" in bench_multimon_*) continue ;; esac
  echo "== $(basename "$b")"
  wine "$b" </dev/null | tee -a "$ratios" || echo "== $(basename "$b") ended with an error"
done
for s in "$ROOT"/bench/*.sh; do
  bash "$s" "$BUILD/bin" | tee -a "$ratios" || echo "== $(basename "$s") ended with an error"
done
# The ones about several monitors, on a display of two with a prefix and
# wineserver of their own (a wineserver keeps its first display's monitors).
kestrix_stop
kestrix_use_prefix bench-multimon
kestrix_start_two_monitors
kestrix_start_wine
for b in "$BUILD"/bin/bench_multimon_*.exe; do
  echo "== $(basename "$b") on two monitors"
  wine "$b" </dev/null | tee -a "$ratios" || echo "== $(basename "$b") ended with an error"
done
echo
echo "== every bounded ratio: the median of its runs against its bound"
tr -d '\r' <"$ratios" | awk '
  $1 == "RATIO" {
    printf "%-36s %10.4g %10.4g %10.4g %5d  %s %-8.4g %s\n", $2, $3, $4, $5, $6, $7, $8,
           $9 == "met" ? "met" : "NOT met"
    n++; if ($9 != "met") missed++
  }
  BEGIN { printf "%-36s %10s %10s %10s %5s  %-11s %s\n", "ratio", "median", "min", "max", "runs",
                 "bound", "" }
  END { printf "%d ratios, %d met, %d not met\n", n, n - missed, missed }'
