#!/usr/bin/env bash
# The installed lumets on its own: installs the build to a temporary prefix,
# moves the prefix elsewhere, and runs the installed lumets from a third folder
# with no plug-in path set. It must find its host library and its plug-in inside
# the prefix, and nothing it installed may name the build tree.
#
#   bash installed_lumets.sh <build-dir>
set -euo pipefail
build=$(cd "${1:?usage: installed_lumets.sh <build-dir>}" && pwd)
tmp=$(mktemp -d /tmp/lumets-install-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
unset LUMETS_PLUGIN_PATH
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$tmp/installed" --strip >/dev/null
mv "$tmp/installed" "$tmp/moved"
prefix=$tmp/moved

[ -x "$prefix/bin/lumets" ] || fail "no bin/lumets"
lib=$(find "$prefix" -name 'liblumets_host.so.*.*' | head -n 1)
[ -n "$lib" ] || fail "no versioned host library"
soname=$(readelf -d "$lib" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ -e "$(dirname "$lib")/$soname" ] || fail "no link for the soname $soname"
for f in LICENSE CHANGELOG.md README.md flow-format.md examples/fountain.json; do
  [ -f "$prefix/share/doc/lumets/$f" ] || fail "no share/doc/lumets/$f"
done
if grep -rlF "$build" "$prefix"; then fail "installed files name the build tree $build"; fi

mkdir "$tmp/elsewhere" && cd "$tmp/elsewhere"
"$prefix/bin/lumets" --version >version.txt || fail "--version: $(cat version.txt)"
grep -q "^plug-in SamplePlugIn (.*) version .* from $prefix/" version.txt || fail "plug-in not from the prefix: $(cat version.txt)"
"$prefix/bin/lumets" demo -q -o frames --frames 0-2 || fail "demo failed"
[ "$(ls frames | wc -l)" -eq 3 ] || fail "demo wrote $(ls frames | wc -l) frames, not 3"

# A program built against the moved prefix's host library through its
# pkg-config file (which finds the prefix from its own folder) loads the plug-in.
[ -f "$prefix/lib/cmake/lumets/lumetsConfig.cmake" ] || fail "no CMake package config"
pc=$(find "$prefix" -name lumets_host.pc | head -n 1)
[ -n "$pc" ] || fail "no lumets_host.pc"
plugin=$(find "$prefix" -name lumets_particles.so | head -n 1)
cat >consumer.cpp <<'EOF'
#include <host/plugins.h>
#include <cstdio>
#include <string>
int main(int, char** argv) {
    std::string error;
    if (!plugins::LoadModule(argv[1], &error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    return plugins::ModuleOfClass("SamplePlugIn") ? 0 : 1;
}
EOF
# shellcheck disable=SC2046
g++ -std=c++20 consumer.cpp -o consumer $(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs lumets_host) \
  -Wl,-rpath,"$(dirname "$pc")/.." || fail "a program does not build with the moved prefix's lumets_host.pc"
./consumer "$plugin" || fail "the program built against the moved prefix does not load the plug-in"
echo "installed lumets: $(head -n 1 version.txt), plug-in and demo found in the moved prefix; a program builds against it"
