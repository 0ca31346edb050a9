#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Runs a Windows program under wine in the build's own prefix:
#   wine-run.sh WINE WINESERVER PREFIX PROGRAM [ARGUMENTS...]
#
# Tests start many programs, several at once. Two wine processes that meet a
# prefix not made yet both try to make it, and a program that connects to a
# wine server that is just shutting down fails ("recvmsg: Connection reset by
# peer"). So the first caller makes the prefix under a lock while the others
# wait, and every caller keeps one server alive until a minute after the last
# program has ended.
set -eu
wine=$1 wineserver=$2
WINEPREFIX=$3
shift 3
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG

mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$WINEPREFIX"
    "$wine" wineboot --init < /dev/null > /dev/null 2>&1 9>&- || true
    "$wineserver" --wait 9>&-
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-run: cannot make $WINEPREFIX" >&2; exit 1; }
    touch "$WINEPREFIX/.ready"
  fi
  # Starts the server, or leaves the running one as it is (exit code 2). A
  # new server's first program also starts wine's own services, which live as
  # long as the server and keep the standard output they were given: here
  # that is /dev/null, not the pipe of a test runner that waits for it.
  if "$wineserver" --persistent=60 < /dev/null > /dev/null 2>&1 9>&-; then
    "$wine" cmd /c exit 0 < /dev/null > /dev/null 2>&1 9>&- || true
  fi
) 9> "$WINEPREFIX.lock"
exec "$wine" "$@"
