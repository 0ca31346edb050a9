#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs the program with a standard output that fails, in station mode and in
# the framed sweep, human and JSON, on a scenario of readers that keep
# sending:
#   - a reader that closes its end of the pipe (head -c): the program must
#     say so in one line on standard error, stop reading, close every bridge
#     it opened exactly once, and exit 3;
#   - /dev/full, which never has room: station mode goes on reading, says
#     once that lines are left out, and when stopped says how many, closes
#     every bridge once and exits 0;
#   - the same two for a listing (--list), which exits 3 and 0 likewise.
#
#   output_failures.sh SCENARIO WORK_DIR PROGRAM [ARGS...]
#
# PROGRAM may be an emulator followed by the program; lines of standard error
# that start with "wine: " (a fresh prefix being set up) are not the program's. Nothing here waits for
# a set time: each run ends by itself or once a file shows what it waits for
# (given up after 100 s).
set -u
scenario=$1 work=$2
shift 2
rm -rf "$work"
mkdir -p "$work"
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Every handle opened was closed once, and after its close no call was made
# on the bridges but listings.
check_calls() {
  local name=$1 calls=$2
  local opened closed
  opened=$(sed -n 's/^HidUart_Open .* -> 0x00 handle=\([0-9]*\)$/\1/p' "$calls" | sort -n)
  closed=$(sed -n 's/^HidUart_Close handle=\([0-9]*\) .*/\1/p' "$calls" | sort -n)
  [ -n "$opened" ] || fail "$name: no bridge was opened ($calls)"
  [ "$opened" = "$closed" ] || fail "$name: handles opened ($opened) and closed ($closed) differ ($calls)"
  local first_close
  first_close=$(grep -n '^HidUart_Close' "$calls" | head -n 1 | cut -d: -f1)
  if tail -n +"${first_close:-1}" "$calls" | grep -q '^HidUart_Read'; then
    fail "$name: a bridge was read after the first close ($calls)"
  fi
}

program_errors() {
  tr -d '\r' < "$1" | grep -v '^wine: '
}

# expect_full_to_the_end NAME STATUS: a run onto /dev/full ended with status
# 0, having said once that lines are left out and at the end how many.
expect_full_to_the_end() {
  [ "$2" = 0 ] || fail "$1: exit status $2, not 0"
  local errors wanted
  errors=$(program_errors "$work/$1.stderr")
  wanted="kestrune: standard output is full: No space left on device; lines are left out until it takes them again
kestrune: standard output was still full at the end; [0-9]+ lines were left out"
  [[ $errors =~ ^$wanted$ ]] || fail "$1: standard error was: $errors"
}

wait_for() {
  local pattern=$1 file=$2 pid=$3
  local deadline=$((SECONDS + 100))
  while ! grep -q -- "$pattern" "$file" 2> /dev/null && kill -0 "$pid" 2> /dev/null &&
    [ $SECONDS -lt $deadline ]; do
    sleep 0.1
  done
}

for mode in station sweep; do
  for format in human json; do
    args=()
    [ $mode = station ] && args+=(--watch) || args+=(--frame-gap 20)
    [ $format = json ] && args+=(--json)
    name="closed-pipe.$mode.$format"
    calls="$work/$name.calls"
    HIDUART_SIM_SCENARIO=$scenario HIDUART_SIM_LOG=$calls "$@" "${args[@]}" \
      2> "$work/$name.stderr" | head -c 1000 > /dev/null
    status=${PIPESTATUS[0]}
    [ "$status" = 3 ] || fail "$name: exit status $status, not 3"
    errors=$(program_errors "$work/$name.stderr")
    [ "$errors" = "kestrune: standard output failed: Broken pipe; stopping" ] ||
      fail "$name: standard error was: $errors"
    check_calls "$name" "$calls"
  done
done

for format in human json; do
  args=(--watch)
  [ $format = json ] && args+=(--json)
  name="full.station.$format"
  calls="$work/$name.calls"
  HIDUART_SIM_SCENARIO=$scenario HIDUART_SIM_LOG=$calls "$@" "${args[@]}" \
    > /dev/full 2> "$work/$name.stderr" &
  pid=$!
  # Reads that take bytes go on after the first line was refused.
  wait_for "is full" "$work/$name.stderr" $pid
  before=$(grep -c '^HidUart_Read .* numBytesRead=[1-9]' "$calls")
  deadline=$((SECONDS + 100))
  while [ "$(grep -c '^HidUart_Read .* numBytesRead=[1-9]' "$calls")" -le "$before" ] &&
    kill -0 $pid 2> /dev/null && [ $SECONDS -lt $deadline ]; do
    sleep 0.1
  done
  kill -s INT $pid 2> /dev/null
  wait $pid
  status=$?
  expect_full_to_the_end "$name" "$status"
  check_calls "$name" "$calls"
done

# A listing, human and JSON: into a pipe that has no reader left from the
# start (a FIFO whose only reader is closed before the program runs), and into
# /dev/full. Neither may pass for a listing given.
fifo="$work/no-reader"
mkfifo "$fifo"
for format in human json; do
  args=(--list)
  [ $format = json ] && args+=(--json)
  name="closed-pipe.list.$format"
  exec 8<> "$fifo" 9> "$fifo" 8<&-
  HIDUART_SIM_SCENARIO=$scenario "$@" "${args[@]}" >&9 2> "$work/$name.stderr"
  status=$?
  exec 9>&-
  [ "$status" = 3 ] || fail "$name: exit status $status, not 3"
  errors=$(program_errors "$work/$name.stderr")
  [ "$errors" = "kestrune: standard output failed: Broken pipe; stopping" ] ||
    fail "$name: standard error was: $errors"

  name="full.list.$format"
  HIDUART_SIM_SCENARIO=$scenario "$@" "${args[@]}" > /dev/full 2> "$work/$name.stderr"
  status=$?
  expect_full_to_the_end "$name" "$status"
done

if [ $failures -gt 0 ]; then
  exit 1
fi
echo "output failures: every run ended as it should"
