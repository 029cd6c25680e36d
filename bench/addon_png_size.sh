#!/usr/bin/env bash
# Runs the Save-to-file benchmark (addon_save_bench.exe) and compares the
# sizes of the plug-in's PNGs with ImageMagick's default PNGs of the same
# pictures. Called by scripts/bench.sh inside its Wine session.
set -euo pipefail
bin="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
echo "== addon_save_bench.exe"
KESTRIX_BENCH_OUT="Z:${out//\//\\}" wine "$bin/addon_save_bench.exe" </dev/null
# Both encoders are deterministic: one run of each is the figure.
for name in flat photo; do
  convert "$out/$name.bmp" -alpha off "$out/$name-imagemagick.png"
  ours="$(stat -c %s "$out/$name-plugin.png")"
  theirs="$(stat -c %s "$out/$name-imagemagick.png")"
  awk -v n="$name" -v a="$ours" -v b="$theirs" 'BEGIN {
    r = a / b; met = r <= 1.1 ? "met" : "NOT met"
    printf "%s: plug-in PNG %d bytes, ImageMagick default PNG %d bytes\n", n, a, b
    printf "  size ratio (plug-in / ImageMagick): %.3f (1 run; the sizes do not vary); bound <= 1.1: %s\n", r, met
    printf "RATIO png-size-%s/imagemagick %.6g %.6g %.6g 1 <= 1.1 %s\n", n, r, r, r, met == "met" ? "met" : "NOT-met" }'
done
