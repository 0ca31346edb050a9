#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# End-to-end test of the open bridge library through the kernel's real HID
# stack: boots a throw-away VM from Debian's kernel package, runs the
# unchanged program with the open library beside it against virtual CP2110
# bridges, and compares what the program printed with the expected text.
#
# Usage: tests/hid/vm/run.sh BUILD_DIR
# Needs qemu-system-x86, busybox-static and apt-get (the kernel package is
# fetched once into BUILD_DIR/vm/cache). No root needed. Exits nonzero on any
# failure. VM_KERNEL_CACHE names another folder for the kernel package (one
# build's cache serves another). VM_STREAM_RATE sets the pace of the 256 KiB
# stream in bytes/s.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
work=$build/vm
cache=${VM_KERNEL_CACHE:-$work/cache}
stream_rate=${VM_STREAM_RATE:-20000}
# The virtual bridge shares this emulated VM with the program: on a loaded
# host it was seen to pause up to 40 ms inside a tag, so the case frames with
# a gap well above that and spaces the tags well above the gap.
tags_args=${VM_TAGS_ARGS---frame-gap 120}
tags_spacing=${VM_TAGS_SPACING:-300 400}

die() { echo "vm: $*" >&2; exit 1; }

for tool in qemu-system-x86_64 apt-get dpkg ldd; do
  command -v $tool > /dev/null || die "$tool is missing"
done
busybox=/bin/busybox
[ -x $busybox ] && ! ldd $busybox > /dev/null 2>&1 \
  || die "a static busybox is missing (package busybox-static)"
for file in kestrune hid/libSLABHIDtoUART.so virtual_cp2110 stalled_reader; do
  [ -e "$build/$file" ] || die "$build/$file is missing: build first"
done

# The kernel, fetched once into the cache.
. "$here/kernel.sh"
fetch_kernel "$cache"
modules=$kernel_modules/kernel/drivers/hid

# The version lines depend on the build, not on the bridges: take them from a
# run on this machine, where no bridge with the default identifiers is
# expected (the count line is dropped).
host_run=$(LD_LIBRARY_PATH=$build/hid timeout 10 "$build/kestrune") \
  || die "the program does not start with the open library"
version_lines=$(head -3 <<< "$host_run")

# The initramfs.
root=$work/root
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,modules,expected,opt/kestrune}
cp $busybox "$root/bin/busybox"
cp "$here/init.sh" "$root/init"
cp "$here/normalize.awk" "$root/normalize.awk"
cp "$here"/expected/* "$root/expected/"
printf '%s\n' "$version_lines" > "$root/expected/head.txt"
echo "$stream_rate" > "$root/etc/stream-rate"
echo "$tags_args" > "$root/etc/tags-args"
echo "$tags_spacing" > "$root/etc/tags-spacing"
for module in hid hid-generic uhid; do
  cp "$modules/$module.ko" "$root/modules/"
done
# The program with the open library beside it, as an operator would lay it
# out; the simulated library never enters the VM.
cp "$build/kestrune" "$build/hid/libSLABHIDtoUART.so" "$root/opt/kestrune/"
cp "$build/virtual_cp2110" "$build/stalled_reader" "$root/bin/"
copy_libraries() {
  LD_LIBRARY_PATH=$build/hid ldd "$1" | grep -o '/[^ ]*' | while read -r lib; do
    case $lib in */libSLABHIDtoUART.so) continue ;; esac
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
}
copy_libraries "$build/kestrune"
copy_libraries "$build/hid/libSLABHIDtoUART.so"
copy_libraries "$build/virtual_cp2110"
copy_libraries "$build/stalled_reader"
(cd "$root" && find . | $busybox cpio -o -H newc 2> /dev/null | gzip -1) > "$work/initrd.gz"

# Boot. The console comes back on standard output; \r are the serial line's.
console=$work/console.log
echo "vm: booting $(basename "$vmlinuz")"
start=$(date +%s)
timeout 300 qemu-system-x86_64 -accel tcg -m 1024 -smp 1 -nographic -no-reboot \
  -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 panic=-1 quiet loglevel=1" < /dev/null | tr -d '\r' > "$console" \
  || die "the VM did not finish (see $console)"
echo "vm: VM ran for $(($(date +%s) - start)) s"
grep -E '^(VM:|CASE )' "$console" || true

# Compare again here, byte for byte, what the VM showed of each exact case.
status=0
for case in tag refused unplug two; do
  expected=$work/$case.expected
  got=$work/$case.got
  { printf '%s\n' "$version_lines"; cat "$here/expected/$case.out"; } > "$expected"
  awk -v c="$case" '$0 == "----- END OUTPUT " c { on = 0 } on { print }
    $0 == "----- BEGIN OUTPUT " c { on = 1 }' "$console" > "$got"
  if cmp -s "$expected" "$got"; then
    echo "host: $case output matches"
  else
    echo "host: $case output differs:"; diff "$expected" "$got" || true; status=1
  fi
done
for case in tag stream1000 refused unplug two burst stalled stream256k station station-tags; do
  grep -q "^CASE $case: PASS" "$console" || { echo "host: case $case did not pass"; status=1; }
done
grep -q '^VM: ALL CASES PASSED' "$console" || status=1
[ $status = 0 ] && echo "vm: all cases passed" || echo "vm: FAILED (console in $console)"
exit $status
