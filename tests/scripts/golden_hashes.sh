#!/usr/bin/env bash
# Pins the pictures and recordings the tool makes: renders every example flow
# (and quick, proxy, captured-shape, one-thread and playback variants), hashes the
# pixels of every frame (oiiotool --hash, so the file encoding does not matter)
# and the bytes of a recording, and compares the list with the one kept in
# tests/golden/hashes.txt. Any change of a single pixel value shows.
#   golden_hashes.sh lumets-exe source-dir [--update]
# --update rewrites the kept list (only for a change meant to move pixels).
set -u
LUMETS="$1"
SRC="$2"
UPDATE="${3:-}"
KEPT="$SRC/tests/golden/hashes.txt"
command -v oiiotool >/dev/null || { echo "golden_hashes: oiiotool missing (Debian openimageio-tools)" >&2; exit 1; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
run() { "$@" -q 2> "$WORK/err.txt" || fail "$* : $(cat "$WORK/err.txt")"; }

cp -r "$SRC/examples" "$WORK/examples"
cd "$WORK/examples"
LIST="$WORK/hashes.txt"
: > "$LIST"

# hash_frames NAME: one line per written frame of out/NAME.*.tif, in frame order.
hash_frames() {
  local name=$1
  # One oiiotool for all of a render's frames: its start-up costs more than a hash.
  oiiotool --hash $(ls "$WORK/out/$name".*.tif | sort) |
    awk -v name="$name" '/^[^ ]/ { n = $1; sub(/\.tif$/, "", n); sub(/.*\./, "", n) }
                         /SHA-1:/ { print name, n, $2 }' >> "$LIST"
}
# render_all NAME FLOW [options]: every frame of FLOW.
render_all() {
  local name=$1 flow=$2
  shift 2
  run "$LUMETS" render "$flow" -o "$WORK/out/$name.####.tif" "$@"
  hash_frames "$name"
}

run "$LUMETS" render sprite/make_sprite.json
for flow in colour embers fountain path snow sparks sprite; do render_all "$flow" "$flow.json"; done
render_all make_sprite sprite/make_sprite.json
render_all fountain-quick fountain.json --quick
render_all colour-quick colour.json --quick --threads 1
render_all snow-proxy snow.json --proxy 2
render_all sparks-1thread sparks.json --threads 1
render_all path-proxy-quick path.json --proxy 3 --quick
# Blurred particles: a proxy render (the blur scaled with it), quick, one thread.
render_all embers-proxy-quick embers.json --proxy 2 --quick
render_all embers-1thread embers.json --threads 1

# Captured shapes: every particle plays the sequence (full size, and the reduced
# working set of a proxy render).
run "$LUMETS" capture sprite.json --frames 0-23 --save captured.json
render_all captured captured.json
render_all captured-proxy captured.json --proxy 2
render_all captured-quick captured.json --quick

# A recording's bytes, and its playback forwards and in reverse.
run "$LUMETS" record fountain.json --to "$WORK/fountain.lpd" --frames 0-29
echo "fountain.lpd $(sha256sum "$WORK/fountain.lpd" | cut -d' ' -f1)" >> "$LIST"
# The playback range is given (play's default is the recording's own frames).
range=(--set LoadStartFrame=0 --set LoadLastFrame=100)
run "$LUMETS" play fountain.json --motion "$WORK/fountain.lpd" -o "$WORK/out/play.####.tif" --frames 0-29 "${range[@]}"
hash_frames play
run "$LUMETS" play fountain.json --motion "$WORK/fountain.lpd" -o "$WORK/out/play-reverse.####.tif" --frames 0-29 --reverse --quick "${range[@]}"
hash_frames play-reverse

if [ "$UPDATE" = --update ]; then
  mkdir -p "$(dirname "$KEPT")"
  cp "$LIST" "$KEPT"
  echo "golden_hashes: wrote $(wc -l < "$LIST") hashes to $KEPT"
  exit 0
fi
[ -f "$KEPT" ] || fail "no kept hashes at $KEPT (run with --update once)"
if ! diff -u "$KEPT" "$LIST" > "$WORK/diff.txt"; then
  head -n 40 "$WORK/diff.txt" >&2
  fail "$(grep -c '^+[^+]' "$WORK/diff.txt") hashes differ from tests/golden/hashes.txt"
fi
echo "golden_hashes: ok ($(wc -l < "$LIST") frames and files)"
