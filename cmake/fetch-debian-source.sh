#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Fetches the source of a dependency that the Windows build needs and that
# Debian ships only as source: hidapi (its Windows backend, for the open
# bridge library) and mosquitto (libmosquitto, for the MQTT client; Debian has
# no MinGW build of it). It comes from Debian's source package, pinned by the
# checksums of both its tarballs, with the Debian revision's patches (security
# fixes among them) applied, into DIR/NAME-VERSION. apt checks the package
# against Debian's signed index; the system's apt configuration is left as it
# is (a private source list and package lists under DIR).
#   fetch-debian-source.sh hidapi|mosquitto DIR
set -eu
name=${1:?usage: fetch-debian-source.sh hidapi\|mosquitto DIR}
case "$name" in
  hidapi)
    version=0.13.1
    debian_revision=1
    orig_sha256=476a2c9a4dc7d1fc97dd223b84338dbea3809a84caea2dcd887d9778725490e3
    debian_sha256=f18b75a9bcebb01a846a3a6146569ad6d6842721c0f50e3a28dd647bbdb8b5e0
    marker=windows/hid.c
    ;;
  mosquitto)
    version=2.0.11
    debian_revision=1.2+deb12u2
    orig_sha256=7b36a7198bce85cf31b132f5c6ee36dcf5dadf86fb768501eb1e11ce95d4f78a
    debian_sha256=e7a5c96b064b266ec7708591f110f8cce69430d0725b08a508ec8d515983767d
    marker=lib/mosquitto.c
    ;;
  *)
    echo "fetch-debian-source.sh: no pinned source package \"$name\"" >&2
    exit 2
    ;;
esac

dir=$(mkdir -p "${2:?usage: fetch-debian-source.sh hidapi|mosquitto DIR}" && cd "$2" && pwd)
source_dir=$dir/$name-$version
[ -f "$source_dir/$marker" ] && exit 0

work=$dir/$name-fetch
rm -rf "$work"
mkdir -p "$work/sources" "$work/lists/partial" "$work/download" "$work/unpacked"
# The same mirror and key as the system's own entry for Debian's main archive.
uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
uri=${uri:-http://deb.debian.org/debian}
cat > "$work/sources/$name.sources" <<SOURCES
Types: deb-src
URIs: $uri
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
apt_options="-o Dir::Etc::SourceParts=$work/sources -o Dir::Etc::SourceList=/dev/null
  -o Dir::State::Lists=$work/lists -o APT::Sandbox::User=root"
echo "fetching $name $version-$debian_revision (Debian source package)"
# shellcheck disable=SC2086
apt-get $apt_options -qq update
# shellcheck disable=SC2086
(cd "$work/download" && apt-get $apt_options -qq source --download-only "$name=$version-$debian_revision")
download=$work/download/${name}_$version
{
  echo "$orig_sha256  $download.orig.tar.gz"
  echo "$debian_sha256  ${download}-$debian_revision.debian.tar.xz"
} | sha256sum -c --quiet -
# Both tarballs are pinned above, so dpkg-source need not check the .dsc's
# signature (its uploader's key is in debian-keyring, which is seldom
# installed); it unpacks the release and applies debian/patches/series.
dpkg-source --no-check -x "${download}-$debian_revision.dsc" "$work/unpacked/$name-$version" >/dev/null
series=$work/unpacked/$name-$version/debian/patches/series
patches=$( (grep -c -v '^#' "$series" 2>/dev/null) || true)
rm -rf "$source_dir"
mv "$work/unpacked/$name-$version" "$source_dir"
rm -rf "$work"
echo "$name $version is in $source_dir, with the ${patches:-0} patches of Debian's revision $debian_revision"
