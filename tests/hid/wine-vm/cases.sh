#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The cases, run inside the VM in a chroot of the host's files: virtual
# bridges first, then a fresh wine server, which lists the bridges only when
# it starts; once the program's library sees them all, the unchanged program
# runs. Results go to the share for check.sh on the host.
set -u
share=$1
quiet_seconds=${2:-0}
# The program and its library run from the VM's own memory (a tmpfs): read
# through the share, the program's image, larger than two of its reads
# (msize), came in short, its code past that point zeros.
opt=/tmp/opt
mkdir -p "$opt" && cp "$share/opt/"* "$opt/"
out=$share/results
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
pids=()

hidraw_count() { ls /sys/class/hidraw 2> /dev/null | wc -l; }

# Waits (at most 10 s) until exactly $1 hidraw nodes exist.
wait_hidraw() {
  for _ in $(seq 200); do
    [ "$(hidraw_count)" -eq "$1" ] && return 0
    sleep 0.05
  done
  return 1
}

# bridge CASE SERIAL [OPTIONS...] STEPS...: plugs in one more virtual bridge.
bridge() {
  local name=$1 serial=$2 before
  shift 2
  before=$(hidraw_count)
  "$share/bin/virtual_cp2110" --serial "$serial" --log "$out/$name.$serial.log" \
    --record "$out/$name.$serial.bin" "$@" 2>> "$out/$name.stderr" &
  pids+=($!)
  wait_hidraw $((before + 1)) || echo "VM: bridge $serial did not appear"
}

# Starts a fresh wine server and waits (at most 300 s: wine starts slowly
# under emulation, the more so on a busy machine) until the library sees $1
# bridges.
start_wine() {
  local seen start=$SECONDS
  $wineserver -p
  while [ $((SECONDS - start)) -lt 300 ]; do
    seen=$(cd "$opt" && $wine list_bridges.exe 2> /dev/null | tr -d '\r' | head -1)
    if [ "$seen" = "$1" ]; then
      echo "VM: wine saw the bridges after $((SECONDS - start)) s"
      return 0
    fi
    sleep 1
  done
  echo "VM: the library saw ${seen:-nothing}, not $1 bridges"
  return 1
}

stop_wine() {
  $wineserver -k 2> /dev/null
  $wineserver -w 2> /dev/null
}

# run_program CASE: runs the program, then waits for the bridges to go.
run_program() {
  local name=$1 start=$SECONDS
  (cd "$opt" && timeout 180 $wine kestrune.exe > "$out/$name.raw" 2> /dev/null
    echo $? > "$out/$name.rc")
  for pid in "${pids[@]}"; do
    # A bridge still waiting for its open would wait a minute: end it.
    (sleep 30; kill "$pid" 2> /dev/null) &
    wait "$pid"
  done
  pids=()
  stop_wine
  wait_hidraw 0 || echo "VM: bridges left behind"
  echo "VM: case $name took $((SECONDS - start)) s"
}

echo "VM: running cases"

# One bridge sends a 5-byte tag and is unplugged while it is read.
bridge tag S1 wait-open sleep 500 frame 123456789A sleep 1000 unplug
start_wine 1 && run_program tag

# Two bridges: the first refuses the setting and stays attached until it is
# unplugged during the other's stream; the second streams 100 KiB in reports
# of every size, and is unplugged while it is read. Every byte must come back
# in order. The rate is twice the 9600-baud line's, about 60 reports a
# second: the kernel holds 64 reports for wine's HID service, which under
# emulation on a busy machine was seen to stall for half a second, so this
# leaves it a second.
bridge two S1 --readback-baud 19200 wait-open sleep 20000 unplug
bridge two S2 wait-open sleep 500 stream 102400 1920 63 sleep 1500 unplug
start_wine 2 && run_program two

# Measured, not checked (only when asked for): a quiet bridge costs no busy
# waiting, and a frame's report comes within the read time-out and a margin.
# Five frames 2 s apart, then a quiet line; the program's lines are stamped
# with the time they arrive, the bridge logs the time each frame leaves.
if [ "$quiet_seconds" -gt 0 ]; then
  frames=()
  for _ in 1 2 3 4 5; do frames+=(sleep 2000 frame 0102030405); done
  bridge quiet S1 --log-times wait-open "${frames[@]}" sleep $(((quiet_seconds + 10) * 1000)) unplug
  start_wine 1
  (cd "$opt" && timeout $((quiet_seconds + 120)) $wine kestrune.exe 2> /dev/null \
    | while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done \
    > "$out/quiet.stamped") &
  sleep 20
  # The program's own process: wine names it after the program.
  for candidate in $(pgrep -f 'kestrune\.exe'); do
    [ "$(cat /proc/$candidate/comm 2> /dev/null)" = kestrune.exe ] && pid=$candidate
  done
  cpu() { awk '{ print $14 + $15 }' /proc/$pid/stat; }
  switches() { cat /proc/$pid/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
  cpu0=$(cpu) sw0=$(switches)
  sleep "$quiet_seconds"
  cpu1=$(cpu) sw1=$(switches)
  echo "VM: quiet for $quiet_seconds s: $((cpu1 - cpu0)) ticks of CPU ($(getconf CLK_TCK)/s)," \
    "$((sw1 - sw0)) context switches of the program's $(ls /proc/$pid/task | wc -l) threads"
  wait
  for pid in "${pids[@]}"; do wait "$pid"; done
  pids=()
  stop_wine
  awk '/ sent 5 bytes$/ { sent[++n] = $1 } /\[DATA FROM S1/ { got[++m] = $1 }
    END { for (i = 1; i <= n && i <= m; i++) printf "VM: frame %d reported after %.0f ms\n", i, (got[i] - sent[i]) * 1000 }' \
    "$out/quiet.S1.log" "$out/quiet.stamped"
fi

echo "VM: cases done"
