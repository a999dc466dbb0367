#!/usr/bin/env bash
# Renders every example flow and makes one small contact sheet per example:
# docs/images/<example>.png, four frames spread over the flow's range, side by
# side at 40 % size (each sheet stays well under 150 KB). The sprite example is shown after `lumets capture`, and the
# sprite frames themselves as docs/images/sprite-frames.png.
#
#   scripts/contact_sheets.sh [LUMETS]      (default build/bin/lumets)
#
# Needs oiiotool, from the Debian package openimageio-tools
# (apt-get install -y openimageio-tools); the build itself does not.
set -euo pipefail
cd "$(dirname "$0")/.."
LUMETS=$(realpath "${1:-build/bin/lumets}")
[ -x "$LUMETS" ] || { echo "contact_sheets: no lumets at $LUMETS (build it first)" >&2; exit 1; }
command -v oiiotool > /dev/null || {
  echo "contact_sheets: needs oiiotool (apt-get install -y openimageio-tools)" >&2
  exit 1
}
OUT=$PWD/docs/images
mkdir -p "$OUT"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cp -r examples "$WORK/examples"
cd "$WORK/examples"

# sheet FLOW NAME: renders the flow's frames and tiles four of them.
sheet() {
  local flow=$1 name=$2 first last f i
  read -r first last <<< "$(tr -d '\n ' < "$flow" |
    sed -n 's/.*"frames":\[\(-\{0,1\}[0-9]*\),\(-\{0,1\}[0-9]*\)\].*/\1 \2/p')"
  "$LUMETS" render "$flow" -q -o "$WORK/frames/$name.####.png"
  local picks=()
  for i in 0 1 2 3; do
    f=$((first + (last - first) * i / 3))
    picks+=("$WORK/frames/$name.$(printf %04d "$f").png")
  done
  oiiotool "${picks[@]}" --mosaic:pad=2 4x1 --ch R,G,B --resize 40% -d uint8 -o "$OUT/$name.png"
  echo "$OUT/$name.png: frames ${first}-${last}, $(stat -c %s "$OUT/$name.png") bytes"
}

"$LUMETS" render sprite/make_sprite.json -q
for flow in fountain snow sparks path colour embers; do sheet "$flow.json" "$flow"; done
sheet sparks-blur.json sparks-blur
"$LUMETS" capture sprite.json --frames 0-23 --save "$WORK/captured/sprite.json" -q
sheet "$WORK/captured/sprite.json" sprite

# The sprite's own frames, every third one, on black, enlarged.
oiiotool sprite/sprite.{0,3,6,9,12,15,18,21}.png --mosaic:pad=2 8x1 --ch R,G,B --resize 300% -d uint8 \
  -o "$OUT/sprite-frames.png"
echo "$OUT/sprite-frames.png: $(stat -c %s "$OUT/sprite-frames.png") bytes"
