#!/usr/bin/env bash
# What a new user meets first: default outputs that never overwrite another
# command's frames, play over the recording's own frames, and usage errors that
# say what was meant. Args: lumets-exe source-dir.
set -u
LUMETS="$1"
WORK=$(mktemp -d)
PREVIEW_PID=
cleanup() {
  [ -n "$PREVIEW_PID" ] && kill "$PREVIEW_PID" 2>/dev/null && wait "$PREVIEW_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
cd "$WORK"
fail() { echo "FAIL: $*" >&2; exit 1; }
sums() { (cd "$1" && md5sum $2 | sort); }
# One-line failure with the given exit status whose message holds the text.
refused() {
  local what="$1" status="$2" text="$3"
  shift 3
  "$LUMETS" "$@" >out.txt 2>err.txt
  local rc=$?
  [ "$rc" = "$status" ] || fail "$what: exit status $rc, not $status: $(cat err.txt)"
  [ "$(wc -l < err.txt)" = 1 ] || fail "$what: not one line: $(cat err.txt)"
  grep -qF -- "$text" err.txt || fail "$what: no \"$text\" in: $(cat err.txt)"
}

cat > flow.json <<'JSON'
{"flow": 1, "frames": [0, 11], "seed": 7,
 "background": {"width": 64, "height": 40, "color": [0.05, 0.05, 0.1, 1.0]},
 "particle": {"shape": "dot", "size": 8},
 "controls": {"Birthrate": 3, "Lifetime": 20, "Start": [0.3, 0.8], "End": [0.7, 0.8], "Orientation": 90,
              "Speed": 0.03, "Gravity": 0.1, "EnableFade": 1, "Spread": {"keys": [[0, 0.1], [11, 0.5]]}},
 "output": "out/f.####.png"}
JSON

# --- default outputs: render, play, play --reverse, a captured flow -------------
"$LUMETS" render flow.json -q || fail "render"
rendered=$(sums out 'f.[0-9]*.png')
[ "$(echo "$rendered" | wc -l)" = 12 ] || fail "render wrote $(ls out)"
"$LUMETS" record flow.json -q --to m.lpd >/dev/null 2>&1 || fail "record"
"$LUMETS" play flow.json -q --motion m.lpd || fail "play"
"$LUMETS" play flow.json -q --motion m.lpd --reverse || fail "play --reverse"
[ "$(ls out/f.play.*.png | wc -l)" = 12 ] || fail "play did not write out/f.play.####.png: $(ls out)"
[ "$(ls out/f.reverse.*.png | wc -l)" = 12 ] || fail "play --reverse did not write out/f.reverse.####.png: $(ls out)"
[ "$(ls out | wc -l)" = 36 ] || fail "unexpected files in out: $(ls out)"
[ "$(sums out 'f.[0-9]*.png')" = "$rendered" ] || fail "play wrote over render's frames"

"$LUMETS" capture flow.json -q --frames 0-1 --save cap/c.json || fail "capture"
python3 -c 'import json,sys; o=json.load(open("cap/c.json"))["output"]; sys.exit(o != "c.####.png")' ||
  fail "captured flow's output: $(grep output cap/c.json)"
"$LUMETS" render cap/c.json -q || fail "render the captured flow"
[ "$(ls cap/c.*.png | wc -l)" = 12 ] || fail "captured flow's frames: $(ls cap)"
# Saved where its own name would give the original's output, it gets another name.
"$LUMETS" capture flow.json -q --frames 0-1 --save out/f.json || fail "capture into out/"
python3 -c 'import json,sys; o=json.load(open("out/f.json"))["output"]; sys.exit(o != "f.captured.####.png")' ||
  fail "captured flow beside the original's frames: $(grep output out/f.json)"
[ "$(sums out 'f.[0-9]*.png')" = "$rendered" ] || fail "capture or its render wrote over render's frames"

# --- play takes the recording's own frames when the flow sets no load range ----
"$LUMETS" play flow.json -q --motion m.lpd --set LoadStartFrame=0 --set LoadLastFrame=11 -o ref/f.####.png ||
  fail "play with the range"
"$LUMETS" play flow.json -q --motion m.lpd --reverse --set LoadStartFrame=0 --set LoadLastFrame=11 \
  -o refrev/f.####.png || fail "play --reverse with the range"
for f in 0000 0005 0011; do
  cmp -s out/f.play.$f.png ref/f.$f.png || fail "play frame $f is not played over the recording's frames 0-11"
  cmp -s out/f.reverse.$f.png refrev/f.$f.png || fail "reversed frame $f is not played over frames 0-11"
done

# --- usage errors and values ---------------------------------------------------
refused "a misspelt command" 2 'unknown command "rendr" (nearest: render)' rendr flow.json
refused "a bad progress form" 2 'bad --progress "json"' render flow.json --progress json
refused "an output without extension" 1 'output "e/x.####" has no file extension' render flow.json -o e/x.####
[ -e e ] && fail "a refused output made its folder"
touch blocker
refused "an output folder that cannot be made" 1 "cannot create folder blocker/sub" \
  render flow.json --frames 8 --progress plain -o blocker/sub/f.####.png

# --set takes curves and keyframes as a flow writes them.
sed 's|"EnableFade": 1,|"EnableFade": 1, "MergeSpline": {"points": [[0, 1], [1, 0]]}, "GravityAngle": {"keys": [[0, 270], [11, 200]]},|' \
  flow.json > curve.json
"$LUMETS" render curve.json -q --frames 6 -o curve/f.####.png || fail "render curve.json"
"$LUMETS" render flow.json -q --frames 6 -o set/f.####.png --set 'MergeSpline={"points":[[0,1],[1,0]]}' \
  --set 'GravityAngle={"keys": [[0, 270], [11, 200]]}' || fail "--set with a curve and keyframes refused"
cmp -s curve/f.0006.png set/f.0006.png || fail "--set values differ from the same values in a flow"
refused "malformed JSON in --set" 1 "malformed JSON" render flow.json --set 'MergeSpline={"points":[[0,1]' -o z/f.####.png

sed 's|\[\[0, 0.1\], \[11, 0.5\]\]|[[0, 0.1], [8, 0.5], [4, 0.3]]|' flow.json > unsorted.json
refused "keys out of order" 1 'control "Spread": keys must be in increasing frame order' render unsorted.json -q

# --- preview --port 0 takes a free port and prints it ---------------------------
"$LUMETS" preview flow.json --port 0 >preview.txt 2>preview.err &
PREVIEW_PID=$!
for _ in $(seq 100); do
  grep -q "http://" preview.txt 2>/dev/null && break
  kill -0 "$PREVIEW_PID" 2>/dev/null || break
  sleep 0.1
done
grep -qE '^lumets preview: http://127\.0\.0\.1:[1-9][0-9]*/\?token=' preview.txt ||
  fail "preview --port 0: $(cat preview.txt preview.err)"
kill "$PREVIEW_PID"
wait "$PREVIEW_PID" 2>/dev/null
PREVIEW_PID=
echo "first_hour: ok"
