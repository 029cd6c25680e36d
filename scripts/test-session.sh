#!/usr/bin/env bash
# The display, Wine prefix and wineserver that the tests run in:
#   test-session.sh start [BUILD]   starts them (CTest does before the first test)
#   test-session.sh stop [BUILD]    ends them (CTest does after the last test)
# BUILD defaults to build/ of this repository. KESTRIX_SESSION=multimon
# selects the session on two monitors instead (scripts/wine-env.sh).
set -euo pipefail
[ $# -ge 2 ] && export KESTRIX_BUILD="$2"
source "$(dirname "$0")/wine-env.sh"
kestrix_use_prefix "$(kestrix_session_name)"
case "${1:-}" in
  start) kestrix_session_start ;;
  stop) kestrix_session_stop ;;
  *) echo "usage: $0 start|stop [BUILD]" >&2; exit 2 ;;
esac
