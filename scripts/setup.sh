#!/usr/bin/env bash
# Installs the build and test tools on a Debian 12 machine (as root). Quiet
# and quick when everything is already there.
set -euo pipefail

# The X server with two monitors needs Xorg's dummy driver and xrandr, and
# 32-bit Wine the 32-bit RandR library: without it Wine sees one monitor.
PKGS=(cmake ninja-build g++-mingw-w64-i686 mingw-w64-tools googletest
      wine wine32:i386 wine64 libwine-dev fonts-wine xvfb xauth xdotool x11-utils
      imagemagick nsis
      xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils libxrandr2:i386)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  echo "setup: installing ${missing[*]}" >&2
  $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
