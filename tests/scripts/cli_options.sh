#!/usr/bin/env bash
# lumets options: help, the flow's output, output formats, field and sequence
# backgrounds, a bad thread count. Args: lumets-exe source-dir.
set -u
LUMETS="$1"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$LUMETS" render --help | grep -q -- "--no-warmup" || fail "render --help does not document --no-warmup"

cat > flow.json <<'JSON'
{"flow": 1, "frames": [0, 6], "seed": 5,
 "background": {"width": 80, "height": 40, "color": [0.1, 0.1, 0.1, 1.0]},
 "particle": {"shape": "star", "size": 12},
 "controls": {"Birthrate": 4, "Start": [0.3, 0.5], "End": [0.7, 0.5], "Speed": 0.02, "RotationSpeed": 10},
 "output": "out/f.####.png"}
JSON

"$LUMETS" render flow.json -q || fail "plain render"
[ "$(ls out | wc -l)" = 7 ] || fail "expected 7 frames in out/"

# (16-bit PNG and TIFF round trips and leftover temporaries: the image-file unit tests.)
for ext in exr jpg; do
  "$LUMETS" render flow.json -q --frames 6-6 -o "fmt/f.####.$ext" || fail "render to .$ext"
  [ -s "fmt/f.0006.$ext" ] || fail "no .$ext written"
done
oiiotool --info fmt/f.0006.exr | grep -q "half" || fail "exr is not half float"
oiiotool --info fmt/f.0006.jpg | grep -q "3 channel" || fail "jpg is not RGB"

sed 's/"color": \[0.1, 0.1, 0.1, 1.0\]/"color": [0, 0, 0, 1], "field": true/' flow.json > field.json
"$LUMETS" render field.json -q -o field/f.####.png || fail "field render"
mkdir -p plates
for f in {0..6}; do cp out/f.000$f.png plates/bg.$f.png; done
sed 's|"background": {[^}]*}|"background": "plates/bg.#.png"|' flow.json > seq.json
"$LUMETS" render seq.json -q -o seq/f.####.png || fail "sequence background render"
[ "$(ls seq | wc -l)" = 7 ] || fail "expected 7 frames from the sequence background"

if "$LUMETS" render flow.json --threads 0 -o bad/f.####.png 2> err.txt; then fail "--threads 0 accepted"; fi
[ "$(wc -l < err.txt)" = 1 ] || fail "usage error is not one line: $(cat err.txt)"
[ -e bad ] && fail "a refused render wrote files"
echo "cli_options: ok"
