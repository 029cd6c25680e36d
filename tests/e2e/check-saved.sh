#!/bin/bash
# The files the Save-to-file add-on saved from the program, against the
# selection they were made of: lossless formats pixel for pixel, JPEG
# within a PSNR.
set -u
dir=$1
min_psnr=30
fail=0
for f in "$dir"/png.png "$dir"/png2.png "$dir"/bmp.bmp "$dir"/tif.tif "$dir"/gif.gif "$dir"/jpg.jpg; do
  ref="${f%.*}.ppm"
  if [ ! -f "$f" ] || [ ! -f "$ref" ]; then echo "FAIL $(basename "$f"): missing"; fail=1; continue; fi
  if [ "${f##*.}" = jpg ]; then
    psnr=$(compare -metric PSNR -alpha off "$ref" "$f" null: 2>&1)
    if awk -v p="$psnr" -v m=$min_psnr 'BEGIN { exit !(p + 0 >= m || p == "inf") }'; then
      echo "ok   $(basename "$f"): PSNR $psnr dB (at least $min_psnr)"
    else
      echo "FAIL $(basename "$f"): PSNR $psnr dB"; fail=1
    fi
  else
    ae=$(compare -metric AE -alpha off "$ref" "$f" null: 2>&1)
    if [ "$ae" = 0 ]; then
      echo "ok   $(basename "$f"): $(identify -format '%w x %h %[type]' "$f" | head -n 1), same pixels"
    else
      echo "FAIL $(basename "$f"): $ae pixels differ"; fail=1
    fi
  fi
done
exit $fail
