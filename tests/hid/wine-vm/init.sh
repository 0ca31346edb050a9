#!/bin/busybox sh
# SPDX-License-Identifier: Apache-2.0
# /init of the VM: loads the modules, mounts the host's files (read-only) and
# the writable share, and runs the cases in a chroot of the host's files, so
# that wine runs exactly as on the host. Then powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo 1 > /proc/sys/kernel/printk
for module in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet \
  9pnet_virtio netfs fscache 9p hid hid-generic uhid; do
  insmod /modules/$module.ko || echo "VM: cannot load $module"
done
share=@SHARE@
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /host \
  || echo "VM: cannot mount the host's files"
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/pts /host/dev/shm
mount -t devpts devpts /host/dev/pts
for dir in dev/shm tmp run; do
  mount -t tmpfs tmpfs /host/$dir
done
# Last, since the share may lie below one of those (a build folder in /tmp):
# its mount point is then made in the fresh tmpfs.
mkdir -p /host$share 2> /dev/null
mount -t 9p -o trans=virtio,version=9p2000.L,cache=mmap,msize=512000 share /host$share \
  || echo "VM: cannot mount the share"
echo "VM: ready"
chroot /host /usr/bin/env -i PATH=/usr/bin:/bin HOME=$share/home WINEPREFIX=$share/prefix \
  WINEDEBUG=-all /bin/bash $share/cases.sh $share @QUIET_SECONDS@
sync
poweroff -f
