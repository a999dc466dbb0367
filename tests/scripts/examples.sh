#!/usr/bin/env bash
# Renders every example flow and checks that particles show: a few frames of each
# flow, compared with the same frames rendered with Birthrate 0 (the plain
# background), must differ. (Thread counts and captured shapes are pinned by
# golden_hashes.sh.) Needs nothing but lumets and cmp.
# Args: lumets-exe source-dir.
set -u
LUMETS="$1"
SRC="$2"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
run() { "$@" -q 2> "$WORK/err.txt" || fail "$* : $(cat "$WORK/err.txt")"; }

# Work on a copy, so that flows which write next to themselves (the sprite maker)
# leave the source tree alone.
cp -r "$SRC/examples" "$WORK/examples"
cd "$WORK/examples"

# The sprite frames first: sprite.json reads them.
run "$LUMETS" render sprite/make_sprite.json
[ "$(ls sprite/sprite.*.png | wc -l)" = 24 ] || fail "make_sprite.json did not write 24 sprite frames"

# last_frame FLOW: the second number of the flow's "frames".
last_frame() { tr -d '\n ' < "$1" | sed -n 's/.*"frames":\[\(-\{0,1\}[0-9]*\),\(-\{0,1\}[0-9]*\)\].*/\2/p'; }

# shows_particles FLOW NAME FRAMES [options]: renders FRAMES normally and with
# Birthrate 0; every frame must differ from its background-only twin.
shows_particles() {
  local flow=$1 name=$2 frames=$3
  shift 3
  run "$LUMETS" render "$flow" --frames "$frames" -o "$WORK/out/$name.####.tif" "$@"
  run "$LUMETS" render "$flow" --frames "$frames" -o "$WORK/out/$name-empty.####.tif" --set Birthrate=0 "$@"
  local a=${frames%-*} b=${frames#*-} f n
  for ((f = a; f <= b; f++)); do
    n=$(printf %04d "$f")
    [ -s "$WORK/out/$name.$n.tif" ] || fail "$name: frame $f not written"
    cmp -s "$WORK/out/$name.$n.tif" "$WORK/out/$name-empty.$n.tif" &&
      fail "$name: frame $f shows no particles (equals the Birthrate 0 render)"
  done
  return 0
}

count=0
for flow in *.json sprite/make_sprite.json; do
  name=$(basename "$flow" .json)
  last=$(last_frame "$flow")
  [ -n "$last" ] || fail "$flow: cannot read its \"frames\""
  shows_particles "$flow" "$name" "$((last - 2))-$last"
  count=$((count + 1))
done
[ "$count" -ge 7 ] || fail "expected at least six example flows and the sprite maker, found $count flows"
echo "examples: ok ($count flows)"
