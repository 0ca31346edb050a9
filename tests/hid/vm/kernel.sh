# SPDX-License-Identifier: Apache-2.0
# Sourced by the VM tests: fetch_kernel CACHE fetches Debian's kernel package
# once into CACHE and unpacks it, then sets vmlinuz (the kernel image) and
# kernel_modules (its lib/modules/VERSION folder). Needs die() from the caller.
#
# The tests pin the kernel they were proven on. When Debian no longer offers
# it, the kernel that linux-image-amd64 depends on today is tried, with a word
# that the ground has moved.
proven_kernel=linux-image-6.1.0-57-amd64
proven_version=6.1.192-3

fetch_kernel() {
  local cache=$1 deb package
  mkdir -p "$cache"
  deb=$(ls "$cache/${proven_kernel}_${proven_version}_amd64.deb" 2> /dev/null) || true
  if [ -z "$deb" ]; then
    if [ "$(id -u)" -eq 0 ] && ! apt-cache show "$proven_kernel=$proven_version" > /dev/null 2>&1; then
      apt-get update -qq > /dev/null 2>&1 || true
    fi
    echo "vm: fetching $proven_kernel $proven_version"
    if (cd "$cache" && apt-get download "$proven_kernel=$proven_version" > /dev/null 2>&1); then
      deb=$cache/${proven_kernel}_${proven_version}_amd64.deb
    else
      package=$(apt-cache depends linux-image-amd64 2> /dev/null \
        | awk '/Depends: linux-image-[0-9]/ { print $2; exit }' || true)
      [ -n "$package" ] || die "cannot fetch $proven_kernel $proven_version, and apt knows no other kernel"
      echo "vm: $proven_kernel $proven_version is no longer offered; trying $package," \
        "which this test was not proven on"
      deb=$(ls "$cache/$package"_*.deb 2> /dev/null | head -1) || true
      if [ -z "$deb" ]; then
        (cd "$cache" && apt-get download "$package" > /dev/null 2>&1) || die "cannot fetch $package"
        deb=$(ls "$cache/$package"_*.deb | head -1)
      fi
    fi
  fi
  [ -f "$deb" ] || die "no kernel package in $cache"
  local root=$cache/$(basename "$deb" .deb)
  if [ ! -d "$root/boot" ]; then
    rm -rf "$root.tmp"
    dpkg -x "$deb" "$root.tmp"
    mv "$root.tmp" "$root"
  fi
  vmlinuz=$(ls "$root"/boot/vmlinuz-* | head -1)
  kernel_modules=$(ls -d "$root"/lib/modules/* | head -1)
}
