#!/bin/sh
# Fetches hidapi's source, which the Windows build of the open bridge library
# needs (Debian ships hidapi's Windows backend only as source), from Debian's
# source package, pinned, into DIR/hidapi-0.13.1. apt checks the package
# against Debian's signed index; the system's apt configuration is left as it
# is (a private source list and package lists under DIR).
#   fetch-hidapi-source.sh DIR
set -eu
version=0.13.1
debian_revision=1
orig_sha256=476a2c9a4dc7d1fc97dd223b84338dbea3809a84caea2dcd887d9778725490e3

dir=$(mkdir -p "${1:?usage: fetch-hidapi-source.sh DIR}" && cd "$1" && pwd)
source_dir=$dir/hidapi-$version
[ -f "$source_dir/windows/hid.c" ] && exit 0

work=$dir/hidapi-fetch
rm -rf "$work"
mkdir -p "$work/sources" "$work/lists/partial" "$work/download"
# The same mirror and key as the system's own entry for Debian's main archive.
uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
uri=${uri:-http://deb.debian.org/debian}
cat > "$work/sources/hidapi.sources" <<SOURCES
Types: deb-src
URIs: $uri
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
apt_options="-o Dir::Etc::SourceParts=$work/sources -o Dir::Etc::SourceList=/dev/null
  -o Dir::State::Lists=$work/lists -o APT::Sandbox::User=root"
echo "fetching hidapi $version-$debian_revision (Debian source package)"
# shellcheck disable=SC2086
apt-get $apt_options -qq update
# shellcheck disable=SC2086
(cd "$work/download" && apt-get $apt_options -qq source --download-only "hidapi=$version-$debian_revision")
tarball=$work/download/hidapi_$version.orig.tar.gz
echo "$orig_sha256  $tarball" | sha256sum -c --quiet -
# This Debian revision carries no patches to the sources, so the release
# tarball is the source; a revision that did would need them applied.
if tar -tJf "$work/download/hidapi_$version-$debian_revision.debian.tar.xz" | grep -q '^debian/patches/series$'; then
  echo "hidapi $version-$debian_revision patches its sources: apply them first" >&2
  exit 1
fi
mkdir -p "$work/unpacked"
tar -xzf "$tarball" -C "$work/unpacked"
rm -rf "$source_dir"
mv "$work/unpacked/hidapi-hidapi-$version" "$source_dir"
rm -rf "$work"
echo "hidapi $version is in $source_dir"
