#!/usr/bin/env bash
# Builds a Release tree (warnings as errors), makes the Debian packages with
# CPack (lumets: the program, host library, plug-in, frei0r module, Python module, documents;
# lumets-dev: headers, the library's .so link, CMake and pkg-config files), checks
# what each holds, runs lintian on both (no errors, no warnings that are not
# overridden with a reason in packaging/debian/), installs both with apt-get, runs
# `lumets demo`, `lumets controls` and an installed example from the installed
# package in a temporary folder, builds a small program against lumets-dev
# through find_package(lumets) and through pkg-config and runs it, and removes
# the packages again (purged, unless they were installed before this script ran).
#
#   bash scripts/package-check.sh [BUILD_DIR]     (default: build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-release}
bash scripts/deps.sh lintian
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DLUMETS_WERROR=ON -DBUILD_TESTING=OFF \
      -DLUMETS_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j2
rm -f "$dir"/lumets*.deb
fail() { echo "package-check: $*" >&2; exit 1; }
# (CPack's notes on the plug-in modules, which have no SONAME, go to the log.)
(cd "$dir" && cpack -G DEB >cpack.log 2>&1) || { cat "$dir/cpack.log"; fail "cpack failed"; }
shopt -s nullglob
runtime=("$dir"/lumets_*.deb)
dev=("$dir"/lumets-dev_*.deb)
shopt -u nullglob
[ ${#runtime[@]} -eq 1 ] || fail "expected one lumets_*.deb in $dir, found ${#runtime[@]}"
[ ${#dev[@]} -eq 1 ] || fail "expected one lumets-dev_*.deb in $dir, found ${#dev[@]}"
runtime=$(realpath "${runtime[0]}")
dev=$(realpath "${dev[0]}")
version=$(dpkg-deb -f "$runtime" Version)
for deb in "$runtime" "$dev"; do
  echo "package-check: $(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends); Maintainer: $(dpkg-deb -f "$deb" Maintainer)"
done
[ "$(dpkg-deb -f "$dev" Depends)" = "lumets (= $version)" ] || fail "lumets-dev does not depend on lumets (= $version)"

# What goes where: the runtime package holds the library under its SONAME and
# no development files; the -dev package holds the headers, the .so link and
# the build files.
dpkg-deb -c "$runtime" | awk '{print $6}' | sed 's|^\./|/|' >"$dir/runtime-files.txt"
dpkg-deb -c "$dev" | awk '{print $6}' | sed 's|^\./|/|' >"$dir/dev-files.txt"
grep -qE '^/usr/lib/liblumets_host\.so\.[0-9]+$' "$dir/runtime-files.txt" || fail "lumets has no liblumets_host.so.N"
grep -qE '^/usr/lib/lumets/plugins/lumets_particles\.so$' "$dir/runtime-files.txt" || fail "lumets has no plug-in"
grep -qE '^/usr/share/doc/lumets/copyright$' "$dir/runtime-files.txt" || fail "lumets has no copyright file"
if grep -E '^/usr/include/|\.so$|/cmake/|\.pc$' "$dir/runtime-files.txt" | grep -v '^/usr/lib/lumets/plugins/\|^/usr/lib/frei0r-1/\|^/usr/lib/python3/dist-packages/'; then
  fail "lumets holds the development files above"
fi
for f in /usr/include/lumets/host/plugins.h /usr/lib/liblumets_host.so /usr/lib/cmake/lumets/lumetsConfig.cmake \
         /usr/lib/pkgconfig/lumets_host.pc /usr/share/doc/lumets-dev/copyright; do
  grep -qxF "$f" "$dir/dev-files.txt" || fail "lumets-dev has no $f"
done

# lintian: any error or warning (E:, W:) fails; the overrides in the packages
# carry the reasons for the ones we keep, shown as O: with their N: lines.
# (lintian's --fail-on counts shown overrides too, so the tags are read here.)
rc=0
lintian --fail-on none --show-overrides "$runtime" "$dev" >"$dir/lintian.txt" 2>&1 || rc=$?
grep -v 'running with root privileges' "$dir/lintian.txt" || true
[ $rc -eq 0 ] || fail "lintian did not run (exit $rc)"
! grep -q '^[EW]: ' "$dir/lintian.txt" || fail "lintian found the errors or warnings above"
echo "package-check: lintian passes both packages"

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
installed_before=()
for p in lumets lumets-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && installed_before+=("$p")
done
tmp=$(mktemp -d /tmp/lumets-package-XXXXXX)
cleanup() {
  cd /
  rm -rf "$tmp"
  local purge=()
  for p in lumets-dev lumets; do
    [[ " ${installed_before[*]} " == *" $p "* ]] || purge+=("$p")
  done
  [ ${#purge[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq "${purge[@]}" >/dev/null || true
}
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$runtime" "$dev" >/dev/null

cd "$tmp"
env -u LUMETS_PLUGIN_PATH /usr/bin/lumets --version
env -u LUMETS_PLUGIN_PATH /usr/bin/lumets demo -q -o demo
[ "$(ls demo | wc -l)" -eq 48 ] || fail "the installed demo wrote $(ls demo | wc -l) frames, not 48"
env -u LUMETS_PLUGIN_PATH /usr/bin/lumets controls >controls.txt
grep -q '^SamplePlugIn: ' controls.txt || fail "controls of the installed package list no plug-in"
echo "package-check: installed package renders the demo (48 frames) and lists $(grep -c '^Page ' controls.txt) control pages"

# The installed examples are read-only documents: rendered with -o, their
# output lands where the user asks, and nothing is written beside them.
examples=/usr/share/doc/lumets/examples
if [ -f "$examples/fountain.json" ]; then
  env -u LUMETS_PLUGIN_PATH /usr/bin/lumets render "$examples/fountain.json" --frames 1-2 -q -o fountain/f.####.png
  [ "$(ls fountain | wc -l)" -eq 2 ] || fail "the installed example wrote $(ls fountain | wc -l) frames, not 2"
  [ ! -e "$examples/out" ] || fail "rendering an installed example wrote into $examples/out"
  # Without -o, a user (not root) gets one clear line and exit status 1.
  as_user=()
  [ "$(id -u)" -ne 0 ] || as_user=(runuser -u nobody --)
  rc=0
  (cd / && env -u LUMETS_PLUGIN_PATH "${as_user[@]}" /usr/bin/lumets render "$examples/fountain.json" --frames 1-1 -q) \
    >user.out 2>user.err || rc=$?
  [ $rc -eq 1 ] && [ "$(wc -l <user.err)" -eq 1 ] && grep -q '^lumets: cannot ' user.err \
    || fail "rendering an installed example into its read-only folder: exit $rc, $(cat user.err)"
  [ ! -e "$examples/out" ] || fail "rendering an installed example wrote into $examples/out"
  echo "package-check: an installed example renders into the current folder with -o; without it: $(cat user.err)"
else
  echo "package-check: $examples not installed (documents excluded by dpkg's path-exclude), examples not run"
fi

# The Python module: imported from the installed package, it renders a frame.
if grep -qE '^/usr/lib/python3/dist-packages/lumets\..*\.so$' "$dir/runtime-files.txt"; then
  shape=$(env -u LUMETS_PLUGIN_PATH -u PYTHONPATH /usr/bin/python3 -c \
    'import lumets; print(lumets.Flow.from_dict({"flow": 1, "frames": [0, 3]}).render(2).shape)') \
    || fail "the installed Python module does not import or render"
  [ "$shape" = "(360, 640, 4)" ] || fail "the installed Python module rendered a frame of shape $shape"
  echo "package-check: the installed Python module renders a frame of shape $shape"
else
  echo "package-check: the package holds no Python module (built without pybind11 or NumPy)"
fi

# A program built against lumets-dev: every installed header, the library, and
# the plug-in loaded through it.
mkdir consumer && cd consumer
{
  for h in /usr/include/lumets/host/*.h; do echo "#include <host/$(basename "$h")>"; done
  cat <<'EOF'
#include <cstdio>
#include <string>
int main(int argc, char** argv) {
    std::string error = "usage: consumer PLUGIN.so";
    if (argc != 2 || !plugins::LoadModule(argv[1], &error)) {
        std::fprintf(stderr, "consumer: %s\n", error.c_str());
        return 1;
    }
    const auto module = plugins::ModuleOfClass("SamplePlugIn");
    if (!module) return 1;
    std::printf("SamplePlugIn %s from %s\n", module->Version.c_str(), module->Path.c_str());
    plugins::UnloadAll();
    return 0;
}
EOF
} >main.cpp
cat >CMakeLists.txt <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(consumer CXX)
find_package(lumets 3 REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE lumets::host)
EOF
plugin=/usr/lib/lumets/plugins/lumets_particles.so
cmake -S . -B b >/dev/null && cmake --build b >/dev/null || fail "a program does not build with find_package(lumets)"
b/consumer "$plugin" | grep -qxF "SamplePlugIn $version from $plugin" || fail "the program built with find_package(lumets) does not load the plug-in"
# shellcheck disable=SC2046
g++ -std=c++20 main.cpp -o consumer-pc $(pkg-config --cflags --libs lumets_host) \
  || fail "a program does not build with pkg-config lumets_host"
./consumer-pc "$plugin" | grep -qxF "SamplePlugIn $version from $plugin" || fail "the program built with pkg-config does not load the plug-in"
echo "package-check: a program builds against lumets-dev (CMake and pkg-config) and loads the plug-in"
