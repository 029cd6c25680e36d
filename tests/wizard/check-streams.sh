#!/bin/bash
# Checks each bitmap file a plug-in received against the reference picture
# beside it: ImageMagick must read the same size, depth and pixels.
# 5- and 6-bit channels are widened differently by different readers, so
# those formats get a small tolerance.
set -u
dir=$1
fail=0
for bpp in 1 4 8 15 16 24 32; do
  bmp=$dir/$bpp.bmp ppm=$dir/$bpp.ppm
  size=$(identify -format '%w %h' "$bmp" 2>&1)
  if [ "$size" != "61 37" ]; then
    echo "$bpp bits: size '$size'"; fail=1; continue
  fi
  # Indexed files are read as palettes of their own depth, the rest as
  # true colour.
  case $bpp in 1|4|8) want="Palette $bpp" ;; *) want="TrueColor 8" ;; esac
  got=$(identify -format '%[type] %z' "$bmp" 2>&1)
  [ "$got" = "Bilevel 1" ] && got="Palette 1"
  if [ "$got" != "$want" ]; then
    echo "$bpp bits: read as '$got', not '$want'"; fail=1; continue
  fi
  fuzz=0
  [ $bpp = 15 ] || [ $bpp = 16 ] && fuzz=4%
  diff=$(compare -metric AE -fuzz $fuzz "$bmp" "$ppm" null: 2>&1)
  if [ "$diff" != "0" ]; then
    echo "$bpp bits: $diff pixels differ"; fail=1; continue
  fi
  echo "$bpp bits: $(identify -format '%w x %h, %[type], depth %z' "$bmp") - same pixels"
done
exit $fail
