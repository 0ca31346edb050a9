#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# A station feeding a broker through a pipe, as docs/json-lines.md has it:
#   kestrune --watch --json | mosquitto_pub -l -t kestrune/station -q 1
# on the simulated bridge of a build, with Debian's mosquitto started here on
# a loopback port of its own and a subscriber on kestrune/#. Several bridges
# send timed tags; one is unplugged and plugged back. Every report must reach
# the subscriber exactly once, in order per bridge, as JSON whose fields equal
# those of a human run of the same scenario, itself one block per tag.
#   tests/mqtt/station_to_broker.sh [BUILD_DIR]     (default build/linux)
# Every wait has a deadline and ends as soon as what it waits for is there.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:-$source_dir/build/linux}")
program=$build/kestrune
checker=$source_dir/tests/mqtt/compare_reports.py
topic=kestrune/station
started=$SECONDS

fail() { echo "station_to_broker: $*" >&2; exit 1; }
PATH=$PATH:/usr/sbin
for tool in mosquitto mosquitto_sub mosquitto_pub python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing (.ci/install installs it)"
done
[ -x "$program" ] || fail "no program at $program"

work=$(mktemp -d)
pids=()
stop_all() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_all EXIT

# until SECONDS WHAT COMMAND...: runs COMMAND every 0.1 s until it succeeds.
until_true() {
  local limit=$1 what=$2
  shift 2
  local deadline=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "no $what after $limit s"
    sleep 0.1
  done
}
running() { kill -0 "$1" 2>/dev/null; }
ended() { ! running "$1"; }
# collect PID LIMIT NAME: sets NAME to the exit code of a child that has
# ended, or that ends within LIMIT seconds (a child is only waited for by
# this shell, not by a subshell).
collect() {
  local code=0
  until_true "$2" "end of process $1" ended "$1"
  wait "$1" || code=$?
  printf -v "$3" %s "$code"
  # Reaped: its number may be another process's from now on.
  local kept=() pid
  for pid in "${pids[@]}"; do
    [ "$pid" = "$1" ] || kept+=("$pid")
  done
  pids=("${kept[@]}")
}
# 0 also for a file its writer has not opened yet.
lines_matching() {
  if [ -e "$2" ]; then grep -c -- "$1" "$2" || true; else echo 0; fi
}

cat > "$work/station.scenario" <<'EOF'
# Three readers sending tags 250 to 500 ms apart, a byte every 1.04 ms; R1
# sends four, is unplugged, and is plugged in again (a second bridge of the
# same serial string, on another path) to send four more.
bridge "A1"
  tags at 0.3 count 8 bytes 5 spacing 0.25 0.5 seed 11
bridge "A2"
  tags at 0.3 count 8 bytes 5 spacing 0.25 0.5 seed 22
bridge "A3"
  tags at 0.3 count 8 bytes 7 spacing 0.25 0.5 seed 33
bridge "R1"
  tags at 0.2 count 4 bytes 5 spacing 0.25 0.3 seed 44
  unplug at 1.8
bridge "R1"
  path "sim:replugged"
  attach at 3.0
  tags at 0.2 count 4 bytes 5 spacing 0.25 0.3 seed 55
EOF
blocks=$(python3 "$checker" expected-blocks "$work/station.scenario")

if ! "$program" --json --version >/dev/null 2>&1; then
  fail "$program does not take --json"
fi

# The broker, on a port nobody else uses: a free one is chosen, and should
# it be taken meanwhile, another.
broker_up() { grep -q 'mosquitto version .* running' "$work/broker.log" || ended "$broker"; }
for _ in 1 2 3 4 5; do
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  [ "$port" != 1883 ] || continue
  : > "$work/broker.log"
  mosquitto -p "$port" > "$work/broker.log" 2>&1 &
  broker=$!
  until_true 30 "answer from the broker" broker_up
  if running "$broker"; then
    pids+=("$broker")
    break
  fi
  broker=
done
[ -n "${broker:-}" ] || fail "the broker would not start: $(cat "$work/broker.log")"

# The subscriber, ready once it sees a probe of its own.
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'kestrune/#' -v -q 1 > "$work/subscribed" 2> "$work/sub.err" &
pids+=($!)
probe_seen() {
  mosquitto_pub -h 127.0.0.1 -p "$port" -t kestrune/probe -m ready -q 1 2>/dev/null || true
  grep -qx 'kestrune/probe ready' "$work/subscribed"
}
until_true 30 "probe at the subscriber" probe_seen

# The station feeding the broker, and the same scenario in a human run.
mkfifo "$work/station.pipe"
mosquitto_pub -h 127.0.0.1 -p "$port" -t "$topic" -l -q 1 < "$work/station.pipe" > "$work/pub.log" 2>&1 &
publisher=$!
pids+=("$publisher")
HIDUART_SIM_SCENARIO=$work/station.scenario LD_LIBRARY_PATH=$build \
  "$program" --watch --json > "$work/station.pipe" 2> "$work/station.err" &
station=$!
pids+=("$station")
HIDUART_SIM_SCENARIO=$work/station.scenario LD_LIBRARY_PATH=$build \
  "$program" --watch > "$work/human" 2> "$work/human.err" &
human=$!
pids+=("$human")

# Both have reported every tag (or more blocks, which the check then shows),
# and R1 is connected again: the station is then stopped as an operator does.
complete() {
  [ "$(lines_matching '^<<<$' "$work/human")" -ge "$blocks" ] &&
    [ "$(lines_matching "^$topic {\"event\" *: *\"block\"" "$work/subscribed")" -ge "$blocks" ] ||
    { ended "$station" || ended "$human"; }
}
until_true 120 "report of every tag" complete
kill -INT "$station" "$human" 2>/dev/null || true
collect "$station" 60 station_code
collect "$human" 60 human_code
# The station's end closes the pipe: the publisher sends what it holds and
# ends, and the stop is the last message.
collect "$publisher" 60 publisher_code
stopped() { grep -q "^$topic {\"event\" *: *\"stop\"" "$work/subscribed"; }
until_true 60 "stop message at the subscriber" stopped

[ "$station_code" = 0 ] || fail "the station ended with $station_code: $(cat "$work/station.err")"
[ "$human_code" = 0 ] || fail "the human run ended with $human_code: $(cat "$work/human.err")"
[ "$publisher_code" = 0 ] || fail "mosquitto_pub ended with $publisher_code: $(cat "$work/pub.log")"
[ ! -s "$work/station.err" ] || fail "the station wrote to standard error: $(cat "$work/station.err")"

if ! python3 "$checker" check "$work/station.scenario" "$work/human" "$work/subscribed" "$topic"; then
  echo "--- human run" >&2
  cat "$work/human" >&2
  echo "--- subscribed" >&2
  cat "$work/subscribed" >&2
  fail "the reports through the broker are not those of the human run"
fi
messages=$(lines_matching "^$topic " "$work/subscribed")
echo "station_to_broker: $blocks blocks of 4 readers, one plugged back, $messages messages through mosquitto on" \
  "port $port, each once, in order, equal to the human run ($((SECONDS - started)) s)"
