#!/usr/bin/env bash
# Every example flow shows particles: its last three frames differ from the same
# frames rendered with Birthrate 0 (golden_hashes.sh pins the pixels themselves).
# Args: lumets-exe source-dir.
set -u
LUMETS="$1"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
run() { "$@" -q 2> "$WORK/err.txt" || fail "$* : $(cat "$WORK/err.txt")"; }

# A copy: the sprite maker writes next to itself, and sprite.json reads its frames.
cp -r "$2/examples" "$WORK/examples"
cd "$WORK/examples"
run "$LUMETS" render sprite/make_sprite.json
[ "$(ls sprite/sprite.*.png | wc -l)" = 24 ] || fail "make_sprite.json did not write 24 sprite frames"

count=0
for flow in *.json sprite/make_sprite.json; do
  name=$(basename "$flow" .json)
  last=$(tr -d '\n ' < "$flow" | sed -n 's/.*"frames":\[-\{0,1\}[0-9]*,\(-\{0,1\}[0-9]*\)\].*/\1/p')
  [ -n "$last" ] || fail "$flow: cannot read its \"frames\""
  run "$LUMETS" render "$flow" --frames "$((last - 2))-$last" -o "$WORK/out/$name.####.tif"
  run "$LUMETS" render "$flow" --frames "$((last - 2))-$last" -o "$WORK/out/$name-empty.####.tif" --set Birthrate=0
  for ((f = last - 2; f <= last; f++)); do
    n=$(printf %04d "$f")
    [ -s "$WORK/out/$name.$n.tif" ] || fail "$name: frame $f not written"
    cmp -s "$WORK/out/$name.$n.tif" "$WORK/out/$name-empty.$n.tif" &&
      fail "$name: frame $f shows no particles (equals the Birthrate 0 render)"
  done
  count=$((count + 1))
done
[ "$count" -ge 7 ] || fail "expected at least six example flows and the sprite maker, found $count flows"
echo "examples: ok ($count flows)"
