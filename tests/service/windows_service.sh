#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The station as a Windows service, under wine, with the tools an operator
# uses: `kestrune service install` stores the options, `sc start` brings it to
# RUNNING, its log holds every tag, `sc stop` reports the block still arriving
# and closes every bridge once, the service ends STOPPED with exit code 0, and
# `kestrune service uninstall` removes it. `service run` from a console says
# what it is for and exits 2.
#   windows_service.sh BUILD_DIR
#
# Wine's service manager makes its services' environment once, from the
# environment kept in the registry, when it starts the first service (its
# own ones start with the prefix's server): a value set later reaches no
# service until the server is started again, and the service's own
# Environment value is not read. Under wine every program runs as the one
# user, so the user's environment (HKCU\Environment) reaches the service. So
# the test has a prefix of its own, sets the scenario there, starts that
# prefix's server afresh, and stops it at the end.
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
wine=$(sed -n 's/^WINE_PROGRAM:FILEPATH=//p' "$build/CMakeCache.txt")
wineserver=$(sed -n 's/^WINESERVER_PROGRAM:FILEPATH=//p' "$build/CMakeCache.txt")
work=$build/tests/service
prefix=$work/wine-prefix
program=$build/kestrune.exe
log=$prefix/drive_c/ProgramData/Kestrune/kestrune.log
mkdir -p "$work"
rm -f "$work/calls.log" "$work/run.out" "$work/run.err"
rm -rf "$prefix/drive_c/ProgramData/Kestrune"

fail() {
  echo "windows_service: $*" >&2
  [ ! -f "$log" ] || { echo "--- the service's log:" >&2; cat "$log" >&2; }
  exit 1
}
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
wine_run() { sh "$here/../../cmake/wine-run.sh" "$wine" "$wineserver" "$prefix" "$@"; }
# The STATE word of `sc query Kestrune` (RUNNING, STOPPED...), or nothing.
state() { wine_run sc query Kestrune 2> /dev/null | sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }
# Waits up to $2 tenths of a second for state $1.
wait_for_state() {
  tries=0
  while [ "$(state)" != "$1" ]; do
    tries=$((tries + 1))
    [ "$tries" -le "$2" ] || fail "the service did not reach $1; sc query says: $(state)"
    sleep 0.1
  done
}

# Ten tags on one reader; a second one sends a byte every 10 ms, half the
# frame gap, so its block is only ever ended by the cut at 1000 bytes or by
# the stop.
tags="0101010101 0202020202 0303030303 0404040404 0505050505 0606060606 0707070707 0808080808
      0909090909 0A0A0A0A0A"
{
  echo 'bridge "R1"'
  time=10
  for tag in $tags; do
    echo "  frame at $((time / 10)).$((time % 10)) $(echo "$tag" | sed 's/\(..\)/\1 /g')"
    time=$((time + 2))
  done
  echo 'bridge "P1"'
  echo '  stream at 0.5 rate 100 bytes 100000 seed 3'
} > "$work/service.scenario"
# Uninstall waits for the stop: a service only marked for deletion when the
# server ends would be there, and started, next time.
remove_service() {
  [ -n "$(state)" ] || return 0
  wine_run "$program" service uninstall > /dev/null 2>&1 ||
    wine_run sc delete Kestrune > /dev/null 2>&1 || true
}
cleanup() {
  remove_service
  WINEPREFIX=$prefix "$wineserver" -k 2> /dev/null || true
}
trap cleanup EXIT
environment='HKCU\Environment'
for variable in "HIDUART_SIM_SCENARIO $work/service.scenario" "HIDUART_SIM_LOG $work/calls.log"; do
  wine_run reg add "$environment" /v "${variable%% *}" /t REG_SZ \
    /d "$(windows_path "${variable#* }")" /f > /dev/null 2>&1
done
WINEPREFIX=$prefix "$wineserver" -k 2> /dev/null || true
WINEPREFIX=$prefix "$wineserver" -w
wine_run cmd /c exit 0 > /dev/null 2>&1
if [ -n "$(state)" ]; then
  echo "windows_service: removing the service Kestrune an earlier run left" >&2
  remove_service
fi
[ -z "$(state)" ] || fail "a service Kestrune was there before the test"

# Under wine the dispatcher gives up only after the 10 s a service has to
# connect: it runs while the service is installed. It must have ended before
# the service starts: wine would take it for the service it starts.
wine_run "$program" service run --watch > "$work/run.out" 2> "$work/run.err" &
console_run=$!

installed=$(wine_run "$program" service install --frame-gap 20 2> "$work/install.err") ||
  fail "install failed: $(cat "$work/install.err")"
case $installed in
  *"installed the service Kestrune"*"its log: C:\\ProgramData\\Kestrune\\kestrune.log"*) ;;
  *) fail "install said: $installed" ;;
esac
[ -d "$prefix/drive_c/ProgramData/Kestrune" ] || fail "install made no log folder"
# The names file the service reads, made for the operator to fill in.
grep -q "^# SIM0001 North door" "$prefix/drive_c/ProgramData/Kestrune/names.txt" ||
  fail "install made no names file"
if wine_run "$program" service install > /dev/null 2> "$work/again.err"; then
  fail "a second install succeeded"
else
  status=$?
fi
[ "$status" = 5 ] && grep -q "installed already" "$work/again.err" ||
  fail "a second install: exit $status, $(cat "$work/again.err")"

# Wine's sc has no qc: the registry holds what it would show.
config=$(wine_run reg query 'HKLM\System\CurrentControlSet\Services\Kestrune' 2> /dev/null)
expected_image="\"$(windows_path "$program")\" service run --watch --one-line --log"
expected_image="$expected_image C:\\ProgramData\\Kestrune\\kestrune.log"
expected_image="$expected_image --names C:\\ProgramData\\Kestrune\\names.txt --frame-gap 20"
printf '%s\n' "$config" | grep -qF "ImagePath    REG_SZ    $expected_image" ||
  fail "stored command line: $config"
printf '%s\n' "$config" | grep -q "Start    REG_DWORD    0x2" || fail "not automatic: $config"
printf '%s\n' "$config" | grep -q "DisplayName    REG_SZ    Kestrune station" ||
  fail "display name: $config"

status=0
wait "$console_run" || status=$?
[ "$status" = 2 ] && grep -q "service run is started by the Service Control Manager" \
  "$work/run.err" || fail "service run from a console: exit $status, $(cat "$work/run.err")"

wine_run sc start Kestrune > /dev/null 2>&1 || fail "sc start failed"
wait_for_state RUNNING 200
tries=0
for tag in $tags; do
  while ! grep -q "0x$tag" "$log" 2> /dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 300 ] || fail "tag $tag never reached the log"
    sleep 0.1
  done
done
wine_run sc stop Kestrune > /dev/null 2>&1 || fail "sc stop failed"
wait_for_state STOPPED 200
query=$(wine_run sc query Kestrune 2> /dev/null)
printf '%s\n' "$query" | grep -q "WIN32_EXIT_CODE *: *0 " || fail "stopped with: $query"

for tag in $tags; do
  [ "$(grep -c "0x$tag" "$log")" = 1 ] || fail "tag $tag is not in the log once"
done
# The reader that never fell quiet: its block was pending at the stop.
grep -q ">>>\[DATA FROM P1, [0-9]\{1,3\} BYTE\]" "$log" ||
  fail "the block pending at the stop was not reported"
opened=$(grep -c "HidUart_Open .* -> 0x00" "$work/calls.log")
closed=$(grep -c "HidUart_Close .* -> 0x00" "$work/calls.log")
[ "$opened" = 2 ] && [ "$closed" = 2 ] && ! grep -q "CONTRACT BROKEN" "$work/calls.log" ||
  fail "bridges opened $opened times, closed $closed times; calls in $work/calls.log"

removed=$(wine_run "$program" service uninstall 2> "$work/uninstall.err") ||
  fail "uninstall failed: $(cat "$work/uninstall.err")"
case $removed in
  *"removed the service Kestrune"*) ;;
  *) fail "uninstall said: $removed" ;;
esac
[ -z "$(state)" ] || fail "sc query still finds the service"
if wine_run "$program" service uninstall > /dev/null 2> "$work/again.err"; then
  fail "a second uninstall succeeded"
else
  status=$?
fi
[ "$status" = 5 ] && grep -q "is not installed" "$work/again.err" ||
  fail "a second uninstall: exit $status, $(cat "$work/again.err")"
echo "windows_service: installed, ran, stopped and removed; ten tags and the pending block logged"
