#!/usr/bin/env bash
# Pins the pictures and recordings the tool makes: renders every example flow
# (and quick, proxy, captured-shape, one-thread and playback variants), hashes the
# pixels of every frame (oiiotool --hash, so the file encoding does not matter)
# and the bytes of a recording, and compares the list with the one kept in
# tests/golden/hashes.txt. Any change of a single pixel value shows.
#   golden_hashes.sh lumets-exe source-dir [--update]
# --update rewrites the kept list (only for a change meant to move pixels).
# On a mismatch the differing frames are written to LUMETS_GOLDEN_ARTEFACTS
# (default: artefacts/golden beside the executable's bin folder). With
# LUMETS_GOLDEN_REFERENCE set to a lumets whose pictures match the kept list
# (another build's bin/lumets, with its own plug-ins), the renders with
# differing frames are made again with it, its frames kept beside them as
# NAME.FRAME.expected.tif, and the largest per-channel difference is printed.
set -u
LUMETS="$1"
SRC="$2"
UPDATE="${3:-}"
KEPT="$SRC/tests/golden/hashes.txt"
command -v oiiotool >/dev/null || { echo "golden_hashes: oiiotool missing (Debian openimageio-tools)" >&2; exit 1; }
ARTEFACTS="${LUMETS_GOLDEN_ARTEFACTS:-$(cd "$(dirname "$LUMETS")/.." && pwd)/artefacts/golden}"
REFERENCE="${LUMETS_GOLDEN_REFERENCE:-}"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
run() { "$@" -q 2> "$WORK/err.txt" || fail "$* : $(cat "$WORK/err.txt")"; }

cp -r "$SRC/examples" "$WORK/examples"
cd "$WORK/examples"
LIST="$WORK/hashes.txt"
: > "$LIST"
mkdir -p "$WORK/cmds"

# frames NAME ARGS...: runs lumets ARGS (which write out/NAME.####.tif) and hashes
# the frames; the arguments are kept to make the frames again with the reference.
frames() {
  local name=$1
  shift
  printf '%s\0' "$@" > "$WORK/cmds/$name"
  run "$LUMETS" "$@"
  hash_frames "$name"
}

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
  frames "$name" render "$flow" -o "$WORK/out/$name.####.tif" "$@"
}

run "$LUMETS" render sprite/make_sprite.json
for flow in colour embers fountain path smoke snow sparks sparks-blur sprite; do render_all "$flow" "$flow.json"; done
render_all make_sprite sprite/make_sprite.json
render_all fountain-quick fountain.json --quick
render_all colour-quick colour.json --quick --threads 1
render_all snow-proxy snow.json --proxy 2
render_all sparks-1thread sparks.json --threads 1
render_all path-proxy-quick path.json --proxy 3 --quick
# Blurred particles: a proxy render (the blur scaled with it), quick, one thread.
render_all embers-proxy-quick embers.json --proxy 2 --quick
render_all embers-1thread embers.json --threads 1
# Motion-blurred particles: a proxy render in quick quality, and one thread.
render_all sparks-blur-proxy-quick sparks-blur.json --proxy 2 --quick
render_all sparks-blur-1thread sparks-blur.json --threads 1 --frames 0-11

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
frames play play fountain.json --motion "$WORK/fountain.lpd" -o "$WORK/out/play.####.tif" --frames 0-29 "${range[@]}"
frames play-reverse play fountain.json --motion "$WORK/fountain.lpd" -o "$WORK/out/play-reverse.####.tif" \
  --frames 0-29 --reverse --quick "${range[@]}"
# Turbulence and wind are recorded like any motion; a blurred playback draws
# each particle from its record one frame back.
run "$LUMETS" record smoke.json --to "$WORK/smoke.lpd"
echo "smoke.lpd $(sha256sum "$WORK/smoke.lpd" | cut -d' ' -f1)" >> "$LIST"
run "$LUMETS" record sparks-blur.json --to "$WORK/sparks-blur.lpd" --frames 0-23
frames play-blur play sparks-blur.json --motion "$WORK/sparks-blur.lpd" -o "$WORK/out/play-blur.####.tif" \
  --frames 0-23 --set LoadStartFrame=0 --set LoadLastFrame=100

# show_differences: the frames whose hash differs from the kept one go to
# ARTEFACTS; with a reference lumets, their expected frames too, and the
# largest per-channel difference (in 16-bit steps) of each and of all.
show_differences() {
  rm -rf "$ARTEFACTS"
  mkdir -p "$ARTEFACTS" "$WORK/ref"
  awk 'NR == FNR { kept[$1 " " $2] = $3; next }
       { k = $1 " " $2; w = (k in kept) ? kept[k] : "-"; if (w != $3) print $1, $2, w }' \
    "$KEPT" "$LIST" > "$WORK/differing.txt"
  local name frame want n=0
  while read -r name frame want; do
    [ -f "$WORK/out/$name.$frame.tif" ] && cp "$WORK/out/$name.$frame.tif" "$ARTEFACTS/" && n=$((n + 1))
  done < "$WORK/differing.txt"
  echo "golden_hashes: $n differing frames written to $ARTEFACTS" >&2
  if [ -z "$REFERENCE" ]; then
    echo "golden_hashes: set LUMETS_GOLDEN_REFERENCE to a lumets that matches the kept hashes for the largest difference" >&2
    return
  fi
  local args a
  for name in $(cut -d' ' -f1 "$WORK/differing.txt" | sort -u); do
    [ -f "$WORK/cmds/$name" ] || continue
    args=()
    while IFS= read -r -d '' a; do args+=("${a//"$WORK/out/"/"$WORK/ref/"}"); done < "$WORK/cmds/$name"
    # The reference loads its own plug-ins, not the ones of the build under test.
    env -u LUMETS_PLUGIN_PATH "$REFERENCE" "${args[@]}" -q 2> "$WORK/err.txt" ||
      echo "golden_hashes: the reference could not render $name: $(head -n 1 "$WORK/err.txt")" >&2
  done
  local worst=0 worst_at="" ref got line words
  while read -r name frame want; do
    ref="$WORK/ref/$name.$frame.tif" got="$WORK/out/$name.$frame.tif"
    [ -f "$ref" ] && [ -f "$got" ] || continue
    [ "$(oiiotool --hash "$ref" | awk '/SHA-1:/ { print $2 }')" = "$want" ] ||
      echo "golden_hashes: the reference's $name $frame does not match the kept hash either" >&2
    cp "$ref" "$ARTEFACTS/$name.$frame.expected.tif"
    # "Max error  = 0.0199893 @ (0, 0, G)  values are ..."
    line=$(oiiotool "$ref" "$got" --diff 2>&1 | grep -m 1 'Max error')
    words=$(awk '{ printf "%d", $4 * 65535 + 0.5 }' <<< "$line")
    words=${words:-0}
    echo "golden_hashes: $name $frame: largest difference $words/65535 at $(sed 's/.*@ \(([^)]*)\).*/\1/' <<< "$line")" >&2
    if [ "$words" -gt "$worst" ]; then worst=$words worst_at="$name $frame"; fi
  done < "$WORK/differing.txt"
  echo "golden_hashes: largest per-channel difference $worst/65535${worst_at:+ ($worst_at)}" >&2
}

if [ "$UPDATE" = --update ]; then
  mkdir -p "$(dirname "$KEPT")"
  cp "$LIST" "$KEPT"
  echo "golden_hashes: wrote $(wc -l < "$LIST") hashes to $KEPT"
  exit 0
fi
[ -f "$KEPT" ] || fail "no kept hashes at $KEPT (run with --update once)"
if ! diff -u "$KEPT" "$LIST" > "$WORK/diff.txt"; then
  head -n 40 "$WORK/diff.txt" >&2
  show_differences
  fail "$(grep -c '^+[^+]' "$WORK/diff.txt") hashes differ from tests/golden/hashes.txt"
fi
echo "golden_hashes: ok ($(wc -l < "$LIST") frames and files)"
