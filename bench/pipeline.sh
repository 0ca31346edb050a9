#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The pipeline benchmark: the real program on a simulated bridge that delivers
# a seeded stream of bytes with no waiting, its output to a file, with its
# human lines and with --json, beside `xxd -p` turning the same bytes into
# hex, in the same run. Every output of the program is checked against the
# bytes sent before its time counts.
#
#   bench/pipeline.sh [--build DIR] [--bytes COUNT] [--runs N] [--seed SEED]
#
# DIR is the build folder (default build/linux); COUNT the stream's length
# (default 48000000); N the timed runs of each command (default 5), whose
# medians are reported.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
build=$here/../build/linux
bytes=48000000
runs=5
seed=7
usage() {
  echo "usage: $0 [--build DIR] [--bytes COUNT] [--runs N] [--seed SEED]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case "$1" in
    --build) build=$2 ;;
    --bytes) bytes=$2 ;;
    --runs) runs=$2 ;;
    --seed) seed=$2 ;;
    *) usage ;;
  esac
  shift 2
done
[[ "$bytes" =~ ^[1-9][0-9]*$ && "$runs" =~ ^[1-9][0-9]*$ && "$seed" =~ ^[1-9][0-9]*$ ]] || usage

program=$build/kestrune
tool=$build/kestrune_bench_tool
for needed in "$program" "$tool"; do
  [ -x "$needed" ] || { echo "$needed is missing: build first (cmake --workflow --preset linux)" >&2; exit 1; }
done
for needed in xxd /usr/bin/time; do
  command -v "$needed" >/dev/null || { echo "$needed is missing: run .ci/install" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

serial=BENCH1
cat >"$work/stream.scenario" <<EOF
bridge "$serial"
  stream at 0 rate 0 bytes $bytes seed $seed
  unplug when-drained
EOF
"$tool" stream "$seed" "$bytes" "$work/stream.bin"

cat >"$work/expected-head.txt" <<EOF
Starting Kestrune application
SLABHIDtoUART.dll: Version 1.0 (Release)
SLABHIDDevice.dll: Version 1.0 (Release)
Number of connected CP2110 HID devices = 1
Vendor ID = 10C4, Product ID = EA80
Part Number = 10, Version = 1
Path = sim:bridge/0
Manufacturer = Kestrune simulation
Product = Simulated CP2110 bridge
Connected to $serial
EOF
head_lines=$(wc -l <"$work/expected-head.txt")
# The JSON lines before the first block, each time as T.
cat >"$work/expected-json-head.txt" <<EOF
{"event":"start","time":"T","program":"kestrune","version":"$("$program" --version | cut -d ' ' -f 2)","format":2,"library":{"major":1,"minor":0,"release":true},"hidLibrary":{"major":1,"minor":0,"release":true}}
{"event":"count","time":"T","bridges":1}
{"event":"connected","time":"T","serial":"$serial","vendorId":"10C4","productId":"EA80","partNumber":10,"version":1,"path":"sim:bridge/0","manufacturer":"Kestrune simulation","product":"Simulated CP2110 bridge"}
EOF
json_head_lines=$(wc -l <"$work/expected-json-head.txt")

# measure NAME OUTPUT COMMAND...: runs COMMAND with its standard output to
# OUTPUT and appends "wall user sys peak-kB" to NAME.times.
measure() {
  local name=$1 output=$2
  shift 2
  # A new file each time: rewriting a truncated one makes some file systems
  # write it out at close, which would time the disk rather than the command.
  rm -f "$output"
  local start=$EPOCHREALTIME
  /usr/bin/time -o "$work/rusage" -f '%U %S %M' "$@" >"$output"
  local end=$EPOCHREALTIME
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }') $(tail -n 1 "$work/rusage")" \
    >>"$work/$name.times"
}

run_program() {
  measure "$1" "$work/program.txt" env HIDUART_SIM_SCENARIO="$work/stream.scenario" "$program"
  if ! diff -u "$work/expected-head.txt" <(head -n "$head_lines" "$work/program.txt") >&2; then
    echo "pipeline: the program's first lines are not as expected" >&2
    exit 1
  fi
  "$tool" check "$serial" "$work/stream.bin" "$work/program.txt" "$head_lines" >"$work/check.txt"
}
run_json() {
  measure "$1" "$work/json.txt" env HIDUART_SIM_SCENARIO="$work/stream.scenario" "$program" --json
  if ! diff -u "$work/expected-json-head.txt" <(head -n "$json_head_lines" "$work/json.txt" |
    sed -E 's/"time":"[^"]*"/"time":"T"/') >&2; then
    echo "pipeline: the program's first JSON lines are not as expected" >&2
    exit 1
  fi
  "$tool" check-json "$serial" "$work/stream.bin" "$work/json.txt" "$json_head_lines" \
    >"$work/check-json.txt"
}
run_xxd() {
  measure "$1" "$work/xxd.txt" xxd -p "$work/stream.bin"
}

# One untimed run of each, then the timed runs, taking turns at going first.
run_program warmup
run_json warmup
run_xxd warmup
for ((i = 1; i <= runs; ++i)); do
  case $((i % 3)) in
    1) run_program program; run_json json; run_xxd xxd ;;
    2) run_json json; run_xxd xxd; run_program program ;;
    0) run_xxd xxd; run_program program; run_json json ;;
  esac
done

# median: the median of the numbers on standard input, one a line.
median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# wall NAME, cpu NAME: median wall time and median user + system time.
wall() { awk '{ print $1 }' "$work/$1.times" | median; }
cpu() { awk '{ print $2 + $3 }' "$work/$1.times" | median; }
# summary NAME LABEL OUTPUT
summary() {
  awk -v label="$2" -v wall="$(wall "$1")" -v cpu="$(cpu "$1")" -v bytes="$bytes" \
    -v rss="$(awk '{ print $4 }' "$work/$1.times" | median)" -v out="$(wc -c <"$3")" 'BEGIN {
      printf "  %-9s %8.3f s  %8.1f MB/s  CPU %.2f s  peak RSS %.1f MiB  output %d bytes\n",
        label, wall, bytes / wall / 1e6, cpu, rss / 1024, out }'
}

echo "machine: $(nproc) cores, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)," \
  "Linux $(uname -r), load average $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo "pipeline: $bytes bytes (xorshift32 seed $seed), $runs timed runs of each, medians"
echo "  runs (wall s, user s, sys s, peak kB):"
paste -d '|' "$work/program.times" "$work/json.times" "$work/xxd.times" |
  awk -F '|' '{ printf "    kestrune %-28s --json %-28s xxd -p %s\n", $1, $2, $3 }'
summary program kestrune "$work/program.txt"
summary json "--json" "$work/json.txt"
summary xxd "xxd -p" "$work/xxd.txt"
echo "  output of every kestrune run checked: $(cat "$work/check.txt")"
echo "  output of every kestrune --json run checked: $(cat "$work/check-json.txt")"
# ratio NAME LABEL
ratio() {
  awk -v label="$2" -v p="$(wall "$1")" -v x="$(wall xxd)" -v pc="$(cpu "$1")" -v xc="$(cpu xxd)" \
    'BEGIN { printf "  ratio, %s bytes/s to xxd -p bytes/s: %.2f (wall time), %.2f (CPU time)\n",
      label, x / p, (pc > 0 ? xc / pc : 0) }'
}
ratio program kestrune
ratio json "kestrune --json"
