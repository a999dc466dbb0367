#!/usr/bin/env bash
# Builds a Release tree (warnings as errors), makes the Debian package with
# CPack, installs it with apt-get, runs `lumets demo` and `lumets controls` from
# the installed package in a temporary folder, and removes the package again
# (purged, unless it was installed before this script ran).
#
#   bash scripts/package-check.sh [BUILD_DIR]     (default: build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-release}
bash scripts/deps.sh
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DLUMETS_WERROR=ON -DBUILD_TESTING=OFF \
      -DLUMETS_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j2
rm -f "$dir"/lumets_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/lumets_*.deb)
echo "package-check: $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
was_installed=0
dpkg-query -W -f='${Status}' lumets 2>/dev/null | grep -q "install ok installed" && was_installed=1
tmp=$(mktemp -d /tmp/lumets-package-XXXXXX)
cleanup() {
  cd /
  rm -rf "$tmp"
  if [ $was_installed -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq lumets >/dev/null || true
  fi
}
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$(realpath "$deb")" >/dev/null

cd "$tmp"
env -u LUMETS_PLUGIN_PATH /usr/bin/lumets --version
env -u LUMETS_PLUGIN_PATH /usr/bin/lumets demo -q -o demo
[ "$(ls demo | wc -l)" -eq 48 ] || { echo "package-check: the installed demo wrote $(ls demo | wc -l) frames, not 48" >&2; exit 1; }
env -u LUMETS_PLUGIN_PATH /usr/bin/lumets controls >controls.txt
grep -q '^SamplePlugIn: ' controls.txt || { echo "package-check: controls of the installed package list no plug-in" >&2; exit 1; }
echo "package-check: installed package renders the demo (48 frames) and lists $(grep -c '^Page ' controls.txt) control pages"
