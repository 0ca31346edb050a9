#!/bin/sh
# Fetches libmosquitto's source, which the Windows build of the MQTT client
# needs (Debian ships no MinGW build of it), from Debian's source package,
# pinned, into DIR/mosquitto-2.0.11, with the Debian revision's patches
# (security fixes among them) applied. apt checks the package against Debian's
# signed index; the system's apt configuration is left as it is (a private
# source list and package lists under DIR).
#   fetch-mosquitto-source.sh DIR
set -eu
version=2.0.11
debian_revision=1.2+deb12u2
orig_sha256=7b36a7198bce85cf31b132f5c6ee36dcf5dadf86fb768501eb1e11ce95d4f78a
debian_sha256=e7a5c96b064b266ec7708591f110f8cce69430d0725b08a508ec8d515983767d

dir=$(mkdir -p "${1:?usage: fetch-mosquitto-source.sh DIR}" && cd "$1" && pwd)
source_dir=$dir/mosquitto-$version
[ -f "$source_dir/lib/mosquitto.c" ] && exit 0

work=$dir/mosquitto-fetch
rm -rf "$work"
mkdir -p "$work/sources" "$work/lists/partial" "$work/download"
# The same mirror and key as the system's own entry for Debian's main archive.
uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
uri=${uri:-http://deb.debian.org/debian}
cat > "$work/sources/mosquitto.sources" <<SOURCES
Types: deb-src
URIs: $uri
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
apt_options="-o Dir::Etc::SourceParts=$work/sources -o Dir::Etc::SourceList=/dev/null
  -o Dir::State::Lists=$work/lists -o APT::Sandbox::User=root"
echo "fetching mosquitto $version-$debian_revision (Debian source package)"
# shellcheck disable=SC2086
apt-get $apt_options -qq update
# shellcheck disable=SC2086
(cd "$work/download" && apt-get $apt_options -qq source --download-only "mosquitto=$version-$debian_revision")
download=$work/download/mosquitto_$version
{
  echo "$orig_sha256  $download.orig.tar.gz"
  echo "$debian_sha256  ${download}-$debian_revision.debian.tar.xz"
} | sha256sum -c --quiet -
# Both tarballs are pinned above, so dpkg-source need not check the .dsc's
# signature (its uploader's key is in debian-keyring, which is seldom
# installed); it unpacks the release and applies debian/patches/series.
mkdir -p "$work/unpacked"
dpkg-source --no-check -x "${download}-$debian_revision.dsc" "$work/unpacked/mosquitto-$version" >/dev/null
patches=$(grep -c -v '^#' "$work/unpacked/mosquitto-$version/debian/patches/series" || true)
rm -rf "$source_dir"
mv "$work/unpacked/mosquitto-$version" "$source_dir"
rm -rf "$work"
echo "mosquitto $version is in $source_dir, with the $patches patches of Debian's revision $debian_revision"
