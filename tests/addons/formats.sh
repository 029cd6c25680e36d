#!/usr/bin/env bash
# The Save-to-file plug-in's files against their sources, per ImageMagick:
# lossless formats pixel for pixel, JPEG within a PSNR.
set -euo pipefail
build="$1"
min_psnr=30
out="$(mktemp -d)"
[ -n "${KEEP:-}" ] || trap 'rm -rf "$out"' EXIT
KESTRIX_FORMATS_OUT="Z:${out//\//\\}" "$build/wine-emulator.sh" "$build/bin/test_addons_savetofile.exe" \
  --gtest_filter='*WritesEveryFormat' </dev/null
fail=0
# The pixels alone: a fourth byte of a 32-bit bitmap is no alpha.
pixels() { convert "$1" -alpha off -depth 8 "rgb:$2"; }
for f in "$out"/*-out.*; do
  src="$out/$(basename "$f" | sed 's/-out\..*//').bmp"
  size="$(identify -format '%wx%h' "$src")"
  case "$f" in
    *.jpg)
      psnr="$(compare -metric PSNR -alpha off "$src" "$f" null: 2>&1 || true)"
      if awk -v p="$psnr" -v m="$min_psnr" 'BEGIN { exit !(p + 0 >= m || p == "inf") }'; then
        echo "ok   $(basename "$f"): PSNR $psnr dB (at least $min_psnr)"
      else
        echo "FAIL $(basename "$f"): PSNR $psnr dB, below $min_psnr"; fail=1
      fi ;;
    *)
      pixels "$src" "$out/a.rgb"
      pixels "$f" "$out/b.rgb"
      ae="$(compare -metric AE -size "$size" -depth 8 "rgb:$out/a.rgb" "rgb:$out/b.rgb" null: 2>&1 || true)"
      if [ "$ae" = 0 ]; then
        echo "ok   $(basename "$f"): identical ($(identify -format '%[type] %z-bit' "$f" | head -n 1))"
      else
        echo "FAIL $(basename "$f"): $ae pixels differ"; fail=1
      fi ;;
  esac
done
count="$(ls "$out"/*-out.* | wc -l)"
[ "$count" -eq 12 ] || { echo "FAIL: $count files written, 12 expected"; fail=1; }
exit $fail
