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

KESTRIX_X_PID=""
KESTRIX_IDLE_PID=""

# The prefix of one command: run, test or bench.
kestrix_use_prefix() {
  case "$1" in
    # Never one shared with a session on another display, even when one
    # prefix is asked for all: a wineserver keeps its first display's monitors.
    *multimon) export WINEPREFIX="${KESTRIX_WINEPREFIX:-$BUILD/wineprefix}-$1" ;;
    *) export WINEPREFIX="${KESTRIX_WINEPREFIX:-$BUILD/wineprefix-$1}" ;;
  esac
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
  KESTRIX_X_PID=$!
  kestrix_await_display "$number" Xvfb
}

# Waits for the X server just started (KESTRIX_X_PID) to write its display
# number into the file, and exports DISPLAY.
kestrix_await_display() {
  local number="$1"
  for _ in $(seq 1 100); do
    [ -s "$number" ] && break
    kill -0 "$KESTRIX_X_PID" 2>/dev/null || break
    sleep 0.1
  done
  if [ -s "$number" ] && kill -0 "$KESTRIX_X_PID" 2>/dev/null; then
    export DISPLAY=":$(head -n 1 "$number")"
    rm -f "$number"
    return 0
  fi
  rm -f "$number"
  echo "kestrix: could not start $2" >&2
  return 1
}

# Starts a private X server with two monitors and exports DISPLAY: a
# 1024 x 768 monitor left of a 1280 x 1024 primary, so that Windows sees the
# virtual screen from (-1024, 0), 2304 x 1024, with a strip below the small
# monitor that no monitor covers. Xvfb puts every head at (0, 0); the dummy
# video driver's outputs become real monitors.
kestrix_start_two_monitors() {
  local number log="${WINEPREFIX:-$BUILD/x}.xorg.log"
  number="$(mktemp)"
  mkdir -p "$(dirname "$log")"
  # Sharing the virtual terminal, without switching to it: on a machine
  # with a console, its screen stays as it is.
  Xorg -displayfd 3 -config "$ROOT/scripts/xorg-dummy.conf" -noreset -nolisten tcp \
       -sharevts -novtswitch -keeptty -logfile "$log" 3>"$number" </dev/null >/dev/null 2>&1 &
  KESTRIX_X_PID=$!
  kestrix_await_display "$number" "Xorg with the dummy driver (log: $log)" || return 1
  xrandr --newmode kestrix1024x768 65.00 1024 1048 1184 1344 768 771 777 806 -hsync -vsync &&
    xrandr --addmode DUMMY1 kestrix1024x768 &&
    xrandr --fb 2304x1024 --output DUMMY1 --mode kestrix1024x768 --pos 0x0 \
           --output DUMMY0 --mode 1280x1024 --pos 1024x0 --primary &&
    # Wine reads the outputs' current state, which the driver updates only
    # when a client asks it to probe them: without this query Wine sees the
    # primary alone.
    xrandr --query >/dev/null && return 0
  echo "kestrix: could not lay out the two monitors on $DISPLAY" >&2
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
  [ -n "$KESTRIX_X_PID" ] && kill "$KESTRIX_X_PID" 2>/dev/null
  wait 2>/dev/null
  KESTRIX_IDLE_PID=""
  KESTRIX_X_PID=""
  return 0
}

# ---- the test sessions -----------------------------------------------------
# CTest starts them before the first test that needs one and ends them after
# the last (the fixture tests in tests/CMakeLists.txt); the emulator wrapper
# that runs every test program reads its display from the session file.
# KESTRIX_SESSION names the session: "test" (the default) on Xvfb, or
# "multimon" on two monitors. Each has its own prefix and wineserver: a
# wineserver keeps the monitors of the display its desktop started on.

kestrix_session_name() { echo "${KESTRIX_SESSION:-test}"; }

kestrix_session_file() { echo "$WINEPREFIX.session"; }

# Reads the session file into the caller's X_PID and SESSION_DISPLAY; false
# when there is none. Then false again unless that X server still runs (its
# number may have gone to another process since).
kestrix_session_read() {
  local file
  file="$(kestrix_session_file)"
  [ -f "$file" ] || return 1
  # shellcheck disable=SC1090
  source "$file"
  case "$(cat "/proc/$X_PID/comm" 2>/dev/null)" in
    Xvfb|Xorg) return 0 ;;
  esac
  return 1
}

# Exports the running session's DISPLAY; false when there is none.
kestrix_session_env() {
  local X_PID="" SESSION_DISPLAY=""
  kestrix_session_read || return 1
  xdpyinfo -display "$SESSION_DISPLAY" >/dev/null 2>&1 || return 1
  export DISPLAY="$SESSION_DISPLAY"
}

# False, saying why, while another test run holds the session.
kestrix_session_free() {
  if kestrix_session_env; then
    echo "kestrix: another test run uses $WINEPREFIX on display $DISPLAY;" \
         "'KESTRIX_SESSION=$(kestrix_session_name) bash scripts/test-session.sh stop' ends it" >&2
    return 1
  fi
}

kestrix_session_start() {
  kestrix_session_free
  if [ "$(kestrix_session_name)" = multimon ]; then
    kestrix_start_two_monitors
  else
    kestrix_start_xvfb 1280x1024x24
  fi
  kestrix_start_wine
  printf 'SESSION_DISPLAY=%s\nX_PID=%s\n' "$DISPLAY" "$KESTRIX_X_PID" \
    >"$(kestrix_session_file)"
}

kestrix_session_stop() {
  [ -f "$(kestrix_session_file)" ] || return 0
  local X_PID="" SESSION_DISPLAY=""
  # The wineserver's end takes the idle program with it; the display's
  # server is ended only while its number is still that server's.
  KESTRIX_IDLE_PID=""
  KESTRIX_X_PID=""
  kestrix_session_read && KESTRIX_X_PID="$X_PID"
  kestrix_stop
  rm -f "$(kestrix_session_file)"
}

# Ends every session of this build, as an interrupted test run must.
kestrix_sessions_stop() {
  local name
  for name in test multimon; do
    KESTRIX_SESSION="$name" kestrix_use_prefix "$name"
    KESTRIX_SESSION="$name" kestrix_session_stop
  done
}
