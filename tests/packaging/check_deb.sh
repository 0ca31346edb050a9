#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes the Debian package of a Linux build, checks it with lintian (no
# error, no warning), installs it with apt as an operator would, and runs the
# installed program: on the simulated bridge of the build it must print the
# demo exactly, and on its own it must bind the open bridge library that the
# package brings. Its station service must be
# a valid unit, installed but not enabled, never running as root; removing
# the package keeps only the administrator's arguments, purging it leaves
# nothing. Runs as root, or through sudo.
#   tests/packaging/check_deb.sh [BUILD_DIR]     (default build/linux)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:-$source_dir/build/linux}")

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

rm -f "$build"/kestrune_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
packages=("$build"/kestrune_*.deb)
[ ${#packages[@]} -eq 1 ] || { echo "check_deb: expected one package, found: ${packages[*]}" >&2; exit 1; }
fail() { echo "check_deb: $*" >&2; exit 1; }

# Debian's own checks of a package: any error or warning fails (its
# informational tags do not).
linted=$(lintian --fail-on error,warning "${packages[0]}" 2>&1) || fail "lintian: $linted"

"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${packages[0]}" >/dev/null 2>&1
trap '"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kestrune >/dev/null 2>&1 || true' EXIT

for file in /usr/bin/kestrune /usr/lib/kestrune/libSLABHIDtoUART.so \
            /usr/lib/udev/rules.d/60-kestrune-cp2110.rules \
            /usr/share/doc/kestrune/open-bridge/README.md \
            /usr/lib/systemd/system/kestrune.service /etc/default/kestrune /etc/kestrune/names \
            /usr/share/doc/kestrune/README /usr/share/doc/kestrune/json-lines.md \
            /usr/share/doc/kestrune/copyright \
            /usr/share/doc/kestrune/changelog.gz /usr/share/man/man1/kestrune.1.gz; do
  dpkg -L kestrune | grep -qx "$file" || fail "the package lacks $file"
done
[ "$(man -w kestrune 2>&1)" = /usr/share/man/man1/kestrune.1.gz ] ||
  fail "man finds no kestrune(1): $(man -w kestrune 2>&1)"
unit=/usr/lib/systemd/system/kestrune.service

# The unit as installed, its program and manual page in place.
# systemd-analyze reports a misspelt key, a bad value or a missing manual
# page on its output and still exits 0: any output fails.
verified=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify failed: $verified"
[ -z "$verified" ] || fail "systemd-analyze verify warns about $unit: $verified"
for conffile in /etc/default/kestrune /etc/kestrune/names; do
  dpkg-query -W -f='${Conffiles}\n' kestrune | grep -q "^ $conffile " ||
    fail "$conffile is not a conffile"
done
# The names file as shipped is one the program takes.
/usr/bin/kestrune --list --names /etc/kestrune/names >/dev/null 2>&1 ||
  [ $? -ne 2 ] || fail "the program refuses /etc/kestrune/names"
# Not enabled by the package (systemctl reads the links even without a
# running systemd).
[ "$(systemctl is-enabled kestrune.service 2>&1 || true)" = disabled ] ||
  fail "the package enabled kestrune.service"
# Never root, and in the group that the udev rule gives the bridges' nodes.
setting() { sed -n "s/^$1=//p" "$unit" | tail -n 1; }
rule_group=$(sed -n 's/.*GROUP="\([^"]*\)".*/\1/p' /usr/lib/udev/rules.d/60-kestrune-cp2110.rules)
[ -n "$rule_group" ] || fail "the udev rule names no group"
[ "$(setting DynamicUser)" = yes ] || fail "the unit has no user of its own"
case "$(setting User)" in '' | root | 0) fail "the unit runs as root" ;; esac
[ "$(setting SupplementaryGroups)" = "$rule_group" ] ||
  fail "the unit's group \"$(setting SupplementaryGroups)\" is not the udev rule's \"$rule_group\""
[ "$(setting ExecStart)" = '/usr/bin/kestrune --watch --timestamps --one-line --names /etc/kestrune/names $KESTRUNE_ARGS' ] ||
  fail "the unit starts \"$(setting ExecStart)\""
# The shipped arguments change nothing: the unit's command line, as systemd
# would split it, is a station with time stamps.
args=$(env -i sh -c '. /etc/default/kestrune && printf %s "$KESTRUNE_ARGS"')
[ -z "$args" ] || fail "/etc/default/kestrune sets arguments: $args"

# The installed program on the build's simulated bridge: the demo, exactly.
got=$(env -u HIDUART_SIM_SCENARIO -u HIDUART_SIM_LOG LD_LIBRARY_PATH="$build" /usr/bin/kestrune)
if [ "$got" != "$(cat "$source_dir/tests/e2e/cases/demo.expected")" ]; then
  echo "check_deb: the installed program's demo differs:" >&2
  diff <(echo "$got") "$source_dir/tests/e2e/cases/demo.expected" >&2 || true
  exit 1
fi

# On its own it binds the open bridge library where the package put it: its
# version comes first. A healthy bridge attached here would be read until the
# time-out stops the program.
got=$(env -u LD_LIBRARY_PATH timeout 10 /usr/bin/kestrune || true)
got=$(sed -n 1,2p <<<"$got")
version=$(basename "${packages[0]}" | sed -E 's/^kestrune_([0-9]+)\.([0-9]+)\..*/\1.\2/')
if [ "$got" != "$(printf 'Starting Kestrune application\nSLABHIDtoUART.dll: Version %s (Release)' "$version")" ]; then
  echo "check_deb: the installed program does not run on the open bridge library:" >&2
  echo "$got" >&2
  exit 1
fi

# An administrator enables the station and sets arguments; a removal keeps
# the arguments and nothing else, a purge leaves nothing behind: no file, no
# dangling link from the enabled target, no account.
"${as_root[@]}" systemctl enable kestrune.service >/dev/null 2>&1 || fail "systemctl enable failed"
link=/etc/systemd/system/multi-user.target.wants/kestrune.service
[ -L "$link" ] || fail "systemctl enable made no link $link"
echo 'KESTRUNE_ARGS="--frame-gap 50"' | "${as_root[@]}" tee -a /etc/default/kestrune >/dev/null
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq kestrune >/dev/null 2>&1
[ ! -e "$unit" ] || fail "the unit is still there after a removal"
grep -q 'frame-gap 50' /etc/default/kestrune || fail "a removal lost /etc/default/kestrune"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kestrune >/dev/null 2>&1
for file in /etc/default/kestrune "$link"; do
  [ ! -e "$file" ] && [ ! -L "$file" ] || fail "$file is still there after a purge"
done
! getent passwd kestrune >/dev/null || fail "an account kestrune is left after a purge"
echo "check_deb: $(basename "${packages[0]}") passes lintian, installs, its program runs from /usr/bin, its unit" \
  "verifies, is not enabled, and is gone after a purge"
