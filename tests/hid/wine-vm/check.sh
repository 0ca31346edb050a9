#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Checks what the VM under wine left in the share: exact lines where the
# output is known (the path, which the system chooses, compared by its form),
# every streamed byte back in order, CR LF line ends, and the setting the
# library gave each bridge.
#   check.sh EXPECTED_DIR RESULTS_DIR
set -uo pipefail
expected=$1
results=$2
normalize=$(cd "$(dirname "$0")/../vm" && pwd)/normalize.awk
status=0
fail() { echo "wine-vm: case $1: FAIL ($2)"; status=1; }

# The program's output with LF line ends and the path shown by its form.
plain() {
  tr -d '\r' < "$1" | sed -E 's/^Path = \\\\\?\\hid#vid_10c4&pid_ea80&?[^#]*#[^#]+#\{4d1e55b2-f16f-11cf-88cb-001111000030\}$/Path = (HID interface of 10C4:EA80)/I'
}

# check_case CASE [STREAMING_SERIAL]
check_case() {
  local name=$1 serial=${2:-} raw=$results/$1.raw
  [ -f "$raw" ] || { fail "$name" "no output"; return; }
  [ "$(cat "$results/$name.rc" 2> /dev/null)" = 0 ] || fail "$name" "exit code $(cat "$results/$name.rc" 2> /dev/null)"
  local lines crlf
  lines=$(wc -l < "$raw")
  crlf=$(grep -c $'\r$' "$raw")
  [ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] || fail "$name" "$((lines - crlf)) of $lines lines do not end in CR LF"
  # A case with a stream is compared with its reports folded into runs of
  # bytes per bridge (every report's lines checked on the way), since reads
  # cut a stream into blocks as they happen to; the others byte for byte.
  {
    tr -d '\r' < "$results/head.txt"
    cat "$expected/$name.out"
  } > "$results/$name.expected"
  plain "$raw" > "$results/$name.got"
  if [ -n "$serial" ]; then
    {
      awk -f "$normalize" "$results/$name.expected"
      echo "DATA FROM $serial"
      od -An -v -tx1 "$results/$name.$serial.bin" | tr -d ' \n' | tr a-f A-F | fold -w 64
      echo
      echo "END DATA FROM $serial ($(wc -c < "$results/$name.$serial.bin") bytes)"
    } | grep -v '^$' > "$results/$name.expected.folded"
    mv "$results/$name.expected.folded" "$results/$name.expected"
    awk -f "$normalize" "$results/$name.got" > "$results/$name.got.folded"
    mv "$results/$name.got.folded" "$results/$name.got"
  fi
  if cmp -s "$results/$name.expected" "$results/$name.got"; then
    echo "wine-vm: case $name: output matches${serial:+ ($(wc -c < "$results/$name.$serial.bin") bytes of $serial in order)}"
  else
    fail "$name" "output differs"
    diff "$results/$name.expected" "$results/$name.got" | head -30
  fi
  for log in "$results/$name".*.log; do
    grep -q '^set purge 2$' "$log" && grep -q '^set uart-enable 1$' "$log" \
      && grep -q '^set config baud=9600 parity=0 flow=0 data=3 stop=0$' "$log" \
      || fail "$name" "$(basename "$log"): the bridge was not enabled, purged and set"
  done
}

check_case tag
check_case two S2
if [ $status = 0 ]; then echo "wine-vm: all cases passed"; else echo "wine-vm: FAILED"; fi
exit $status
