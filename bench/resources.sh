#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Resource figures of the real program on the simulated bridge, measured from
# outside the program:
#   - time from start to the count line (median of several starts);
#   - CPU time and wake-ups over a quiet line (nothing arrives; every read
#     ends with the 200 ms read time-out), and the peak resident memory;
#   - the delay from the last byte of a frame to its printed report.
#
#   bench/resources.sh [--build DIR] [--idle SECONDS] [--starts N]
#
# DIR is the build folder (default build/linux); SECONDS the quiet-line
# window (default 30); N the number of starts timed (default 20).
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
build=$here/../build/linux
idle=30
starts=20
usage() {
  echo "usage: $0 [--build DIR] [--idle SECONDS] [--starts N]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case "$1" in
    --build) build=$2 ;;
    --idle) idle=$2 ;;
    --starts) starts=$2 ;;
    *) usage ;;
  esac
  shift 2
done
[[ "$idle" =~ ^[1-9][0-9]*$ && "$starts" =~ ^[1-9][0-9]*$ ]] || usage
program=$build/kestrune
[ -x "$program" ] || { echo "$program is missing: build first (cmake --workflow --preset linux)" >&2; exit 1; }

work=$(mktemp -d)
pid=
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Each line of standard input, prefixed with the wall-clock time it arrived.
stamp() {
  local line
  while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done
}
# median: the median of the numbers on standard input, one a line.
median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "machine: $(nproc) cores, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)," \
  "Linux $(uname -r), load average $(cut -d ' ' -f 1-3 /proc/loadavg)"

# --- Start to the count line -------------------------------------------------
# One bridge, unplugged as it is opened: the run prints the count line, fails
# to connect and ends at once.
cat >"$work/start.scenario" <<'EOF'
bridge "START1"
  unplug at 0
EOF
for ((i = 0; i < starts; ++i)); do
  start=$EPOCHREALTIME
  HIDUART_SIM_SCENARIO="$work/start.scenario" "$program" | stamp >"$work/start.txt"
  awk -v start="$start" '$2 == "Number" { printf "%.3f\n", ($1 - start) * 1000; found = 1 }
    END { exit !found }' "$work/start.txt" >>"$work/start.times" || {
    echo "resources: no count line in a start" >&2
    exit 1
  }
done
echo "start to the count line: median $(median <"$work/start.times" | xargs printf '%.3f') ms," \
  "min $(sort -g "$work/start.times" | head -n 1) ms, max $(sort -g "$work/start.times" | tail -n 1) ms" \
  "($starts starts; from the shell's start of the command to the line's arrival through a pipe)"

# --- A quiet line --------------------------------------------------------------
cat >"$work/quiet.scenario" <<'EOF'
bridge "QUIET1"
EOF
# cpu_ticks, cpu_ns, wakeups: all threads of the process, from /proc.
cpu_ticks() { sed 's/.*) //' "/proc/$pid/stat" | awk '{ print $12 + $13 }'; }
cpu_ns() { cat /proc/"$pid"/task/*/schedstat | awk '{ n += $1 } END { print n }'; }
wakeups() { cat /proc/"$pid"/task/*/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'; }
reads() { grep -c '^HidUart_Read ' "$work/quiet.log" || true; }

HIDUART_SIM_SCENARIO="$work/quiet.scenario" HIDUART_SIM_LOG="$work/quiet.log" "$program" \
  >"$work/quiet.txt" &
pid=$!
for ((i = 0; i < 500; ++i)); do
  grep -q '^Connected to QUIET1$' "$work/quiet.txt" 2>/dev/null && break
  sleep 0.01
done
grep -q '^Connected to QUIET1$' "$work/quiet.txt" || { echo "resources: the quiet run did not connect" >&2; exit 1; }
ticks0=$(cpu_ticks) ns0=$(cpu_ns) wakeups0=$(wakeups) reads0=$(reads)
sleep "$idle"
kill -0 "$pid" 2>/dev/null || { echo "resources: the quiet run ended early" >&2; exit 1; }
ticks1=$(cpu_ticks) ns1=$(cpu_ns) wakeups1=$(wakeups) reads1=$(reads)
threads=$(ls /proc/"$pid"/task | wc -l)
peak=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status")
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=

awk -v s="$idle" -v t=$((ticks1 - ticks0)) -v hz="$(getconf CLK_TCK)" -v ns=$((ns1 - ns0)) \
  -v w=$((wakeups1 - wakeups0)) -v r=$((reads1 - reads0)) -v threads="$threads" 'BEGIN {
  printf "quiet line, %d s: CPU %.3f ms (%.4f%% of one core; user+system %.2f s in clock ticks),", s, ns / 1e6, ns / 1e7 / s, t / hz
  printf " %d reads (%.2f a second), %d wake-ups (%.2f a second), %d thread(s)\n", r, r / s, w, w / s, threads }'
echo "peak resident memory: $peak kB (VmHWM after the quiet line)"

# --- From the last byte of a frame to its report -----------------------------
# Five 5-byte frames at different points of the 200 ms reads (5, 40, 80, 120
# and 160 ms into one), and one frame that fills a whole 1000-byte read; the
# line's clock starts at the open, and so do the reads. The frames are
# instant, so that each one's last byte comes at its time.
frames=(0.205 1.040 2.080 3.120 4.160)
{
  echo 'bridge "LATENCY1"'
  for ((i = 0; i < ${#frames[@]}; ++i)); do
    echo "  frame at ${frames[i]} instant 0$i 11 22 33 44"
  done
  printf '  frame at 5.100 instant'
  for ((i = 0; i < 1000; ++i)); do printf ' %02X' $((i % 256)); done
  echo
  echo '  unplug at 6.0'
} >"$work/latency.scenario"
frames+=(5.100)
HIDUART_SIM_SCENARIO="$work/latency.scenario" "$program" | stamp >"$work/latency.txt"
# The open happens just before "Connected to" is printed: the line's time zero.
awk -v at="${frames[*]}" '
  BEGIN { n = split(at, frame, " ") }
  $2 == "Connected" { zero = $1 }
  $2 ~ /^>>>\[DATA/ {
    ++k
    bytes = $5
    delay = ($1 - zero - frame[k]) * 1000
    printf "frame of %4d bytes at %s s: reported %.2f ms after its last byte\n", bytes, frame[k], delay
    if (bytes < 1000 && delay > worst) worst = delay
  }
  END {
    if (k != n) { print "resources: expected " n " reports, got " k > "/dev/stderr"; exit 1 }
    printf "longest delay of a frame shorter than a read: %.1f ms (read time-out: 200 ms)\n", worst
  }' "$work/latency.txt"
