#!/usr/bin/env bash
# Command-line checks of lumets: help, output formats, a field background and a
# sequence background (proxy and quick renders are pinned by golden_hashes.sh).
# Args: lumets-exe source-dir.
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

for ext in exr jpg tif; do
  "$LUMETS" render flow.json -q --frames 6-6 -o "fmt/f.####.$ext" || fail "render to .$ext"
  [ -s "fmt/f.0006.$ext" ] || fail "no .$ext written"
done
oiiotool --info fmt/f.0006.exr | grep -q "half" || fail "exr is not half float"
oiiotool --info fmt/f.0006.jpg | grep -q "3 channel" || fail "jpg is not RGB"
oiiotool --info fmt/f.0006.tif | grep -q "4 channel.*uint16" || fail "tif is not 16-bit RGBA"
ls -A fmt | grep -q '^\.' && fail "temporary files left in fmt/"

# A field background and a background sequence render too.
sed 's/"color": \[0.1, 0.1, 0.1, 1.0\]/"color": [0, 0, 0, 1], "field": true/' flow.json > field.json
"$LUMETS" render field.json -q -o field/f.####.png || fail "field render"
mkdir -p plates
for f in 0 1 2 3 4 5 6; do cp out/f.000$f.png plates/bg.$f.png; done
sed 's|"background": {[^}]*}|"background": "plates/bg.#.png"|' flow.json > seq.json
"$LUMETS" render seq.json -q -o seq/f.####.png || fail "sequence background render"
[ "$(ls seq | wc -l)" = 7 ] || fail "expected 7 frames from the sequence background"

# Bad input: one line on stderr, non-zero exit, nothing written.
if "$LUMETS" render flow.json --threads 0 -o bad/f.####.png 2> err.txt; then fail "--threads 0 accepted"; fi
[ "$(wc -l < err.txt)" = 1 ] || fail "usage error is not one line: $(cat err.txt)"
[ -e bad ] && fail "a refused render wrote files"
echo "cli_options: ok"
