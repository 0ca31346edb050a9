#!/usr/bin/env bash
# Makes the Debian package of a Linux build, installs it with apt as an
# operator would, and runs the installed program: on the simulated bridge of
# the build it must print the demo exactly, and on its own it must bind the
# open bridge library that the package brings. The package is removed again
# at the end. Runs as root, or through sudo.
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

"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${packages[0]}" >/dev/null 2>&1
trap '"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kestrune >/dev/null 2>&1' EXIT

for file in /usr/bin/kestrune /usr/lib/kestrune/libSLABHIDtoUART.so \
            /usr/lib/udev/rules.d/60-kestrune-cp2110.rules \
            /usr/share/doc/kestrune/open-bridge/README.md; do
  dpkg -L kestrune | grep -qx "$file" || { echo "check_deb: the package lacks $file" >&2; exit 1; }
done

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
echo "check_deb: $(basename "${packages[0]}") installs, and its program runs from /usr/bin"
