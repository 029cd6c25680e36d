# Sourced by the run, test and bench commands: builds the program, and starts
# an X display, a Wine prefix and one wineserver for the session.
#
# Each command has a Wine prefix of its own under the build folder
# (kestrix_use_prefix), and with it a wineserver of its own: ending one
# command's session never ends what another one runs, so the tests can run
# while run.sh shows the program.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KESTRIX_BUILD:-$ROOT/build}"

export WINEARCH=win32
export WINEDEBUG=-all
# Without winedbg a crashing program ends at once instead of waiting in the
# debugger until its test's time-out.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"

KESTRIX_XVFB_PID=""
KESTRIX_IDLE_PID=""

# The prefix of one command: run, test or bench.
kestrix_use_prefix() {
  export WINEPREFIX="${KESTRIX_WINEPREFIX:-$BUILD/wineprefix-$1}"
}

# Installs what is missing, and builds.
kestrix_prepare() {
  bash "$ROOT/scripts/setup.sh"
  kestrix_build
}

# Runs the given clean-up when the calling script ends, however it ends.
kestrix_end_with() {
  trap "$1" EXIT
  # A signal ends the script through its exit, so the clean-up runs then too.
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

kestrix_build() {
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD"
}

# Starts a private Xvfb display of the given size and exports DISPLAY. Xvfb
# picks a free display number itself, so that displays started at the same
# time by other sessions never collide.
kestrix_start_xvfb() {
  local size="${1:-1280x1024x24}" number
  number="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp -ac 3>"$number" </dev/null >/dev/null 2>&1 &
  KESTRIX_XVFB_PID=$!
  for _ in $(seq 1 100); do
    [ -s "$number" ] && break
    kill -0 "$KESTRIX_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  if [ -s "$number" ] && kill -0 "$KESTRIX_XVFB_PID" 2>/dev/null; then
    export DISPLAY=":$(head -n 1 "$number")"
    rm -f "$number"
    return 0
  fi
  rm -f "$number"
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
  # No output may stay tied to the caller: ctest waits for its pipes.
  wineserver -p </dev/null >/dev/null 2>&1
  # Start the background processes now, with no pipe to hold on to.
  wine rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1 </dev/null || true
  if [ -f "$BUILD/bin/kestrix_idle.exe" ]; then
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

# ---- the test session ------------------------------------------------------
# CTest starts it before the first test and ends it after the last (the
# fixture tests in tests/CMakeLists.txt); the emulator wrapper that runs
# every test program reads its display from the session file.

kestrix_session_file() { echo "$WINEPREFIX.session"; }

# Reads the session file into the caller's XVFB_PID and SESSION_DISPLAY;
# false when there is none. Then false again unless that Xvfb still runs
# (its number may have gone to another process since).
kestrix_session_read() {
  local file
  file="$(kestrix_session_file)"
  [ -f "$file" ] || return 1
  # shellcheck disable=SC1090
  source "$file"
  [ "$(cat "/proc/$XVFB_PID/comm" 2>/dev/null)" = Xvfb ]
}

# Exports the running session's DISPLAY; false when there is none.
kestrix_session_env() {
  local XVFB_PID="" SESSION_DISPLAY=""
  kestrix_session_read || return 1
  xdpyinfo -display "$SESSION_DISPLAY" >/dev/null 2>&1 || return 1
  export DISPLAY="$SESSION_DISPLAY"
}

# False, saying why, while another test run holds the session.
kestrix_session_free() {
  if kestrix_session_env; then
    echo "kestrix: another test run uses $WINEPREFIX on display $DISPLAY;" \
         "'bash scripts/test-session.sh stop' ends it" >&2
    return 1
  fi
}

kestrix_session_start() {
  kestrix_session_free
  kestrix_start_xvfb 1280x1024x24
  kestrix_start_wine
  printf 'SESSION_DISPLAY=%s\nXVFB_PID=%s\n' "$DISPLAY" "$KESTRIX_XVFB_PID" \
    >"$(kestrix_session_file)"
}

kestrix_session_stop() {
  [ -f "$(kestrix_session_file)" ] || return 0
  local XVFB_PID="" SESSION_DISPLAY=""
  # The wineserver's end takes the idle program with it; the display's
  # server is ended only while its number is still that Xvfb's.
  KESTRIX_IDLE_PID=""
  KESTRIX_XVFB_PID=""
  kestrix_session_read && KESTRIX_XVFB_PID="$XVFB_PID"
  kestrix_stop
  rm -f "$(kestrix_session_file)"
}
