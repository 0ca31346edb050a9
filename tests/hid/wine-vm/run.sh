#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# End-to-end test of the Windows program with the open bridge library, all
# through real layers: the unchanged kestrune.exe and our SLABHIDtoUART.dll,
# under wine, whose Windows HID stack reads the Linux kernel's hidraw nodes of
# virtual CP2110 bridges made through uhid, in a throw-away VM.
#
# The VM sees the host's files read-only (virtio-9p) and runs wine from them
# in a chroot; a second, writable share holds the wine prefix, the program
# and the results, which this script compares afterwards.
#
# Usage: tests/hid/wine-vm/run.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
# WINE_VM_QUIET_SECONDS=30 also measures a quiet bridge's cost and each
# frame's delay to its report (printed, not checked).
# Needs qemu-system-x86, busybox-static, wine64, and the kernel package that
# tests/hid/vm/run.sh fetches (into LINUX_BUILD_DIR/vm/cache). No root needed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
linux=$(cd "${1:?usage: run.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR}" && pwd)
windows=$(cd "${2:?usage: run.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR}" && pwd)
share=$windows/wine-vm
results=$share/results

die() { echo "wine-vm: $*" >&2; exit 1; }

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
for tool in qemu-system-x86_64 apt-get dpkg $wine $wineserver; do
  command -v $tool > /dev/null || die "$tool is missing"
done
busybox=/bin/busybox
[ -x $busybox ] && ! ldd $busybox > /dev/null 2>&1 \
  || die "a static busybox is missing (package busybox-static)"
for file in "$linux/virtual_cp2110" "$windows/kestrune.exe" "$windows/hid/SLABHIDtoUART.dll" \
  "$windows/hid/list_bridges.exe"; do
  [ -e "$file" ] || die "$file is missing: build first"
done

. "$here/../vm/kernel.sh"
fetch_kernel "$linux/vm/cache"

# The wine prefix, made once on the host. winebus must not try SDL (it would
# start no other bus), and with no udev daemon in the VM it scans /dev itself,
# which is also how it notices an unplug.
prefix=$share/prefix
if [ ! -f "$prefix/.ready" ]; then
  echo "wine-vm: making the wine prefix"
  rm -rf "$prefix"
  mkdir -p "$prefix"
  export WINEPREFIX=$prefix WINEDEBUG=-all
  $wine wineboot --init < /dev/null > /dev/null 2>&1 || true
  key='HKLM\System\CurrentControlSet\Services\winebus'
  $wine reg add "$key" /v 'Enable SDL' /t REG_DWORD /d 0 /f > /dev/null 2>&1
  $wine reg add "$key" /v DisableUdevd /t REG_DWORD /d 1 /f > /dev/null 2>&1
  $wineserver --wait
  unset WINEPREFIX
  touch "$prefix/.ready"
fi

# What an operator lays out: the program with our library beside it.
rm -rf "$share/opt" "$share/bin" "$results"
mkdir -p "$share/opt" "$share/bin" "$results" "$share/home"
cp "$windows/kestrune.exe" "$windows/hid/SLABHIDtoUART.dll" "$windows/hid/list_bridges.exe" \
  "$share/opt/"
cp "$linux/virtual_cp2110" "$share/bin/"
# The cases run from the share: the host's files below /tmp are hidden in the
# VM, which gives wine a /tmp of its own.
cp "$here/cases.sh" "$share/"

# The version lines depend on the build, not on the bridges: taken from a run
# on the host, where no bridge is attached. It also shows that the library
# starts under wine.
host_run=$(cd "$share/opt" && WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 $wine kestrune.exe \
  < /dev/null 2> /dev/null) || die "the program does not start with the open library under wine"
$wineserver -k 2> /dev/null || true
head -3 <<< "$host_run" > "$results/head.txt"
grep -q $'^Number of connected CP2110 HID devices = 0\r$' <<< "$host_run" \
  || die "the open library under wine on the host: $host_run"

# The initramfs: busybox, the kernel's modules, and /init.
root=$share/root
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,host,modules}
cp $busybox "$root/bin/busybox"
for module in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet \
  9pnet_virtio netfs fscache 9p hid hid-generic uhid; do
  find "$kernel_modules" -name "$module.ko" -exec cp {} "$root/modules/" \;
done
sed -e "s|@SHARE@|$share|g" -e "s|@QUIET_SECONDS@|${WINE_VM_QUIET_SECONDS:-0}|g" "$here/init.sh" > "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | $busybox cpio -o -H newc 2> /dev/null | gzip -1) > "$share/initrd.gz"
rm -rf "$root"

console=$share/console.log
echo "wine-vm: booting $(basename "$vmlinuz")"
start=$(date +%s)
timeout 1200 qemu-system-x86_64 -accel tcg -m 3072 -smp 2 -nographic -no-reboot \
  -kernel "$vmlinuz" -initrd "$share/initrd.gz" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$share",mount_tag=share,security_model=none,multidevs=remap \
  -append "console=ttyS0 panic=-1 quiet loglevel=1" < /dev/null | tr -d '\r' > "$console" \
  || die "the VM did not finish (see $console)"
echo "wine-vm: VM ran for $(($(date +%s) - start)) s"
grep -E '^VM' "$console" || true

"$here/check.sh" "$here/expected" "$results"
