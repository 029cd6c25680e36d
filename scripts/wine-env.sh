# Sourced by the run and test commands: builds the program, and starts an X
# display, a Wine prefix and one wineserver for the session. kestrix_stop
# ends everything that was started here.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KESTRIX_BUILD:-$ROOT/build}"

export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPREFIX="${KESTRIX_WINEPREFIX:-$BUILD/wineprefix}"

KESTRIX_XVFB_PID=""
KESTRIX_IDLE_PID=""

# Installs what is missing, arranges for everything started here to end
# with the calling script, and builds.
kestrix_prepare() {
  bash "$ROOT/scripts/setup.sh"
  trap kestrix_stop EXIT
  # A signal ends the script through its exit, so the clean-up runs then too.
  trap 'exit 130' INT
  trap 'exit 143' TERM
  kestrix_build
}

kestrix_build() {
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD"
}

# Starts a private Xvfb display of the given size and exports DISPLAY.
kestrix_start_xvfb() {
  local size="${1:-1280x1024x24}" n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 "$size" -nolisten tcp -ac >/dev/null 2>&1 &
    KESTRIX_XVFB_PID=$!
    for _ in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    if kill -0 "$KESTRIX_XVFB_PID" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=":$n"
      return 0
    fi
  done
  echo "kestrix: could not start Xvfb" >&2
  return 1
}

# Creates the Wine prefix once, and starts the wineserver and Wine's
# background processes for this session.
kestrix_start_wine() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "kestrix: creating the Wine prefix in $WINEPREFIX" >&2
    wineboot -i >/dev/null 2>&1
    wineserver -w
    # Without a window manager, hiding a managed full-screen window stalls
    # and loses input.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wineserver -w
  fi
  # Wine's own MS Sans Serif and Tahoma, metric-compatible with the fonts the
  # forms' pixel layouts are made for; this Wine does not look for them where
  # the package puts them, so they go into the prefix's font folder.
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ] && [ ! -e "$fonts/sserife.fon" ]; then
    cp /usr/share/wine/fonts/* "$fonts/"
  fi
  wineserver -p
  # Start the background processes now, with no pipe to hold on to.
  wine rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1 </dev/null || true
  if [ -x "$BUILD/bin/kestrix_idle.exe" ] || [ -f "$BUILD/bin/kestrix_idle.exe" ]; then
    wine "$BUILD/bin/kestrix_idle.exe" >/dev/null 2>&1 </dev/null &
    KESTRIX_IDLE_PID=$!
  fi
}

kestrix_stop() {
  set +e
  if [ -n "${WINEPREFIX:-}" ] && command -v wineserver >/dev/null; then
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
  fi
  [ -n "$KESTRIX_IDLE_PID" ] && kill "$KESTRIX_IDLE_PID" 2>/dev/null
  [ -n "$KESTRIX_XVFB_PID" ] && kill "$KESTRIX_XVFB_PID" 2>/dev/null
  wait 2>/dev/null
  return 0
}
