#!/bin/busybox sh
# SPDX-License-Identifier: Apache-2.0
# /init of the test VM: loads the kernel's HID modules, then runs each case
# (virtual bridges, then the unchanged program with the open library beside
# it), checks the program's output and the bridges' logs against the expected
# text, prints one PASS or FAIL line per case and dumps what it saw for the
# host to compare again, then powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo 1 > /proc/sys/kernel/printk
for module in hid hid-generic uhid; do
  insmod /modules/$module.ko || echo "VM: cannot load $module"
done

PROGRAM_DIR=/opt/kestrune
OUT=/tmp/cases
mkdir -p $OUT
STREAM_RATE=$(cat /etc/stream-rate)

hidraw_count() { ls /sys/class/hidraw 2>/dev/null | wc -l; }

# Waits (up to 10 s) until exactly $1 hidraw nodes exist.
wait_hidraw() {
  tries=0
  while [ "$(hidraw_count)" -ne "$1" ]; do
    tries=$((tries + 1))
    [ $tries -gt 200 ] && return 1
    usleep 50000
  done
}

# bridge CASE SERIAL [OPTIONS...] -- STEPS...: plugs in one more virtual bridge.
bridge() {
  name=$1; serial=$2; shift 2
  before=$(hidraw_count)
  virtual_cp2110 --serial "$serial" --log $OUT/$name.$serial.log \
    --record $OUT/$name.$serial.bin "$@" 2>>$OUT/$name.stderr &
  PIDS="$PIDS $!"
  wait_hidraw $((before + 1)) || echo "VM: bridge $serial did not appear"
}

# run_program CASE [STALL]: runs the program, waits for the bridges to go.
# With STALL, the program's output goes into a pipe that is not read for
# STALL seconds, so the program is blocked on its output meanwhile.
run_program() {
  name=$1; stall=${2:-}
  start=$(date +%s)
  if [ -n "$stall" ]; then
    ( cd $PROGRAM_DIR && { timeout 120 ./kestrune; echo $? > $OUT/$name.rc; } \
      | stalled_reader "$stall" > $OUT/$name.raw 2> $OUT/$name.stall )
  else
    ( cd $PROGRAM_DIR && timeout 120 ./kestrune > $OUT/$name.raw; echo $? > $OUT/$name.rc )
  fi
  for pid in $PIDS; do
    # A bridge still waiting for its open would wait a minute: end it.
    ( sleep 15; kill $pid 2>/dev/null ) &
    wait $pid
  done
  PIDS=""
  wait_hidraw 0 || echo "VM: bridges left behind"
  echo "VM: case $name took $(($(date +%s) - start)) s"
}

fail() { echo "CASE $1: FAIL ($2)"; FAILED=1; }

check_common() {
  name=$1
  [ "$(cat $OUT/$name.rc)" = 0 ] || { fail $name "exit code $(cat $OUT/$name.rc)"; return 1; }
  for log in /expected/$name.*.log; do
    serial=${log#/expected/$name.}; serial=${serial%.log}
    cmp -s $log $OUT/$name.$serial.log || { fail $name "log of $serial differs"; \
      diff $log $OUT/$name.$serial.log; return 1; }
  done
}

# A case whose whole output is known in advance.
check_exact() {
  name=$1
  cat /expected/head.txt /expected/$name.out > $OUT/$name.expected
  echo "----- BEGIN OUTPUT $name"
  cat $OUT/$name.raw
  echo "----- END OUTPUT $name"
  check_common $name || return
  cmp -s $OUT/$name.expected $OUT/$name.raw || { fail $name "output differs"; \
    diff $OUT/$name.expected $OUT/$name.raw | head -40; return; }
  echo "CASE $name: PASS"
}

# A streaming case: the bytes reported must be exactly the bytes the bridge
# sent, in order, however the reads cut them into blocks.
check_stream() {
  name=$1; serial=$2; dump=$3
  sent=$(wc -c < $OUT/$name.$serial.bin)
  {
    cat /expected/head.txt /expected/$name.head
    echo "DATA FROM $serial"
    od -An -v -tx1 $OUT/$name.$serial.bin | tr -d ' \n' | tr a-f A-F | fold -w 64
    echo
    echo "END DATA FROM $serial ($sent bytes)"
  } | grep -v '^$' > $OUT/$name.expected
  awk -f /normalize.awk $OUT/$name.raw > $OUT/$name.normal
  reported=$(grep -c '^>>>\[DATA FROM' $OUT/$name.raw)
  if [ "$dump" = dump ]; then
    echo "----- BEGIN OUTPUT $name"
    cat $OUT/$name.raw
    echo "----- END OUTPUT $name"
  fi
  echo "VM: case $name: $sent bytes sent, $reported blocks reported," \
    "expected $(md5sum < $OUT/$name.expected | cut -c1-32)," \
    "got $(md5sum < $OUT/$name.normal | cut -c1-32)"
  check_common $name || return
  cmp -s $OUT/$name.expected $OUT/$name.normal || { fail $name "stream differs"; \
    diff $OUT/$name.expected $OUT/$name.normal | head -20; return; }
  echo "CASE $name: PASS ($sent bytes in order)"
}

FAILED=0
echo "VM: ready, running cases"

# One bridge sends a 5-byte tag.
bridge tag S1 wait-open sleep 500 frame 123456789A sleep 600 unplug
run_program tag
check_exact tag

# 1000 bytes at the 9600-baud line rate, in reports of every size.
bridge stream1000 S1 wait-open sleep 500 stream 1000 960 63 sleep 600 unplug
run_program stream1000
check_stream stream1000 S1 dump

# The bridge reads back another baud rate than the one written.
bridge refused S1 --readback-baud 19200 wait-open sleep 1500 unplug
run_program refused
check_exact refused

# Three bridges, the first unplugged during its capture: the others move down
# an index, and each of them is still connected and read.
bridge unplug S1 wait-open sleep 500 frame 0102030405060708 sleep 600 unplug
bridge unplug S2 wait-open sleep 500 frame 1112131415 sleep 600 unplug
bridge unplug S3 wait-open sleep 500 frame 212223 sleep 600 unplug
run_program unplug
check_exact unplug

# Two bridges: the first one refuses the setting and stays attached, the
# second is connected by its serial string and read.
bridge two S1 --readback-baud 19200 wait-open sleep 5000 unplug
bridge two S2 wait-open sleep 500 frame 0102030405060708090A sleep 600 unplug
run_program two
check_exact two

# 60 reports as fast as uhid takes them, and the unplug right after: the
# reports the kernel still holds at the hang-up are delivered before the
# failure.
bridge burst S1 wait-open sleep 500 stream 3000 1000000 50 unplug
run_program burst
check_stream burst S1

# The line rate with one byte per report while nobody reads the program's
# output for 10 s: the system keeps only 64 reports per reader, so every byte
# arrives only if the library drains the bridge while the program is blocked.
bridge stalled S1 wait-open sleep 500 stream 12000 960 1 sleep 1000 unplug
run_program stalled 10
cat $OUT/stalled.stall
held=$(sed -n 's/.* held \([0-9]*\) bytes.*/\1/p' $OUT/stalled.stall)
if [ "${held:-0}" -gt 3000 ]; then
  check_stream stalled S1
else
  fail stalled "the output was never blocked"
fi

# A long stream well above the line rate, nothing lost. The bridge never sends
# faster than this rate, so a busy machine only makes it take longer.
bridge stream256k S1 wait-open sleep 500 stream 262144 $STREAM_RATE 63 sleep 1000 unplug
run_program stream256k
check_stream stream256k S1

# Station mode: two bridges stream at once; S1 is unplugged during its stream
# and plugged in again with the same serial string while S2 goes on; the
# program is stopped with SIGINT. The reports of each bridge must carry
# exactly the bytes it sent, in order, and the other lines are known.
bridge station S1 wait-open sleep 300 stream 1500 960 8 unplug
first_s1=${PIDS##* }
bridge station S2 wait-open sleep 300 stream 4000 960 8 sleep 8000 unplug
cd $PROGRAM_DIR
./kestrune --watch > $OUT/station.raw &
station_pid=$!
cd /
start=$(date +%s)
wait $first_s1
bridge station-again S1 wait-open sleep 300 stream 1000 960 8 sleep 500 unplug
wait ${PIDS##* }
sleep 1
kill -INT $station_pid
wait $station_pid
echo $? > $OUT/station.rc
for pid in $PIDS; do wait $pid; done
PIDS=""
wait_hidraw 0 || echo "VM: bridges left behind"
echo "VM: case station took $(($(date +%s) - start)) s"
awk '/^>>>\[DATA FROM .*, [0-9]+ BYTE\]$/ {
    name = $0; sub(/^>>>\[DATA FROM /, "", name); sub(/, [0-9]+ BYTE\]$/, "", name)
    getline hex; getline wide; getline decimal; getline closing
    if (substr(hex, 1, 4) != "  0x" || closing != "<<<") print "BAD BLOCK: " $0
    data[name] = data[name] substr(hex, 5); next }
  { print }
  END { for (name in data) print name > "/tmp/cases/station.serials"
        for (name in data) print data[name] > "/tmp/cases/station.data." name }' \
  $OUT/station.raw > $OUT/station.raw.lines
# The kernel gives a bridge plugged in again the lowest free hidraw number,
# and the old one is free only once the program has closed it, which may be
# just after the new bridge appears: paths are compared by their form.
by_form() { sed -E 's#^Path = /dev/hidraw[0-9]+$#Path = /dev/hidrawN#' "$@"; }
by_form $OUT/station.raw.lines > $OUT/station.lines
hex_of() { cat "$@" | od -An -v -tx1 | tr -d ' \n' | tr a-f A-F; }
cat /expected/head.txt /expected/station.out | by_form > $OUT/station.expected
echo "----- BEGIN OUTPUT station"
cat $OUT/station.lines
echo "----- END OUTPUT station"
if [ "$(cat $OUT/station.rc)" != 0 ]; then
  fail station "exit code $(cat $OUT/station.rc)"
elif ! cmp -s $OUT/station.expected $OUT/station.lines; then
  fail station "lines differ"; diff $OUT/station.expected $OUT/station.lines
elif [ "$(cat $OUT/station.data.S1)" != "$(hex_of $OUT/station.S1.bin $OUT/station-again.S1.bin)" ]; then
  fail station "the bytes of S1 differ"
elif [ "$(cat $OUT/station.data.S2)" != "$(hex_of $OUT/station.S2.bin)" ]; then
  fail station "the bytes of S2 differ"
else
  echo "CASE station: PASS ($(wc -c < $OUT/station.S1.bin) + $(wc -c < $OUT/station-again.S1.bin)" \
    "bytes from S1, $(wc -c < $OUT/station.S2.bin) from S2, in order)"
fi

# Station mode framing by silence: four bridges send tags at once, each byte
# in a report of its own one character time after the one before (1.04 ms at
# 9600 8N1), the tags at random spacings, while the program lists the bridges
# every second (hidapi's enumeration takes over 100 ms here). Every report
# must be exactly one tag, each bridge's tags in the order sent. The senders
# run in this emulated VM beside the program: each prints the widest gap it
# made inside a tag, and the gap given to the program is well above what
# they can make, so that a cut tag means the program's fault.
# The bridges are unplugged in the order S1, S3, S2, S4, each well after the
# one before.
TAGS_ARGS=$(cat /etc/tags-args)
TAGS_SPACING=$(cat /etc/tags-spacing)
bridge station-tags S1 --tag-log $OUT/station-tags.S1.tags \
  wait-open sleep 300 tags 30 8 $TAGS_SPACING 21 sleep 300 unplug
bridge station-tags S2 --tag-log $OUT/station-tags.S2.tags \
  wait-open sleep 300 tags 40 8 $TAGS_SPACING 42 sleep 4000 unplug
bridge station-tags S3 --tag-log $OUT/station-tags.S3.tags \
  wait-open sleep 300 tags 30 8 $TAGS_SPACING 63 sleep 2000 unplug
bridge station-tags S4 --tag-log $OUT/station-tags.S4.tags \
  wait-open sleep 300 tags 40 8 $TAGS_SPACING 84 sleep 7000 unplug
cd $PROGRAM_DIR
./kestrune --watch $TAGS_ARGS > $OUT/station-tags.raw &
station_pid=$!
cd /
start=$(date +%s)
for pid in $PIDS; do wait $pid; done
PIDS=""
sleep 1
kill -INT $station_pid
wait $station_pid
echo $? > $OUT/station-tags.rc
wait_hidraw 0 || echo "VM: bridges left behind"
echo "VM: case station-tags took $(($(date +%s) - start)) s"
rm -f $OUT/station-tags.reported.*
awk -v out=$OUT/station-tags.reported. '/^>>>\[DATA FROM .*, [0-9]+ BYTE\]$/ {
    name = $0; sub(/^>>>\[DATA FROM /, "", name); sub(/, [0-9]+ BYTE\]$/, "", name)
    getline hex; getline wide; getline decimal; getline closing
    if (substr(hex, 1, 4) != "  0x" || closing != "<<<") print "BAD BLOCK: " $0
    print substr(hex, 5) > (out name); next }
  { print }' $OUT/station-tags.raw | by_form > $OUT/station-tags.lines
cat /expected/head.txt /expected/station-tags.out | by_form > $OUT/station-tags.expected
cat $OUT/station-tags.stderr
echo "----- BEGIN OUTPUT station-tags"
cat $OUT/station-tags.raw
echo "----- END OUTPUT station-tags"
unreported=""
for serial in S1 S2 S3 S4; do
  cmp -s $OUT/station-tags.$serial.tags $OUT/station-tags.reported.$serial ||
    unreported="$unreported $serial"
done
if [ "$(cat $OUT/station-tags.rc)" != 0 ]; then
  fail station-tags "exit code $(cat $OUT/station-tags.rc)"
elif ! cmp -s $OUT/station-tags.expected $OUT/station-tags.lines; then
  fail station-tags "lines differ"; diff $OUT/station-tags.expected $OUT/station-tags.lines
elif [ -n "$unreported" ]; then
  fail station-tags "the reports of$unreported are not their tags, one each, in order"
  for serial in $unreported; do
    diff $OUT/station-tags.$serial.tags $OUT/station-tags.reported.$serial
  done
else
  echo "CASE station-tags: PASS ($(cat $OUT/station-tags.S*.tags | wc -l) tags from four" \
    "bridges, each one report, while the bridges were listed every second)"
fi

cat $OUT/*.stderr 2>/dev/null
if [ $FAILED = 0 ]; then echo "VM: ALL CASES PASSED"; else echo "VM: SOME CASES FAILED"; fi
sync
poweroff -f
