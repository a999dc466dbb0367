#!/usr/bin/env bash
# How lumets writes its outputs and opens its inputs, against a full disk, links
# planted in the output folder, and devices or FIFOs named as inputs:
# - a disk that fills up during a render (PNG, TIFF, EXR, JPEG) ends it with a
#   non-zero exit and one "lumets:" line; every file left under the output names
#   is a complete frame, and no temporary file is left (needs root for a small
#   tmpfs; skipped with a note otherwise);
# - a link planted in the output folder, at the output's name or at the name a
#   temporary file used to have, is never written through;
# - /dev/zero or a FIFO as a flow, a background, a particle or a frame of an
#   image sequence ends the command at once with one "lumets:" line.
#
#   bash hostile_writes.sh <lumets-exe> <source-dir>
set -uo pipefail
exe=${1:?usage: hostile_writes.sh <lumets-exe> <source-dir>}
src=${2:?usage: hostile_writes.sh <lumets-exe> <source-dir>}
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
tmp=$(mktemp -d /tmp/lumets-writes-XXXXXX)
mnt=""
cleanup() {
  [ -n "$mnt" ] && umount "$mnt" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
cd "$tmp"

passed=0
failed=0
fail() {
  echo "FAIL: $case_name: $*"
  echo "  stderr: $(head -c 600 err)"
  failed=$((failed + 1))
}

# run NAME EXPECT TIMEOUT -- lumets arguments...
#   EXPECT: ok (exit 0) or fail (non-zero exit with exactly one short "lumets:"
#   line); never a signal or a time-out.
run() {
  case_name=$1 expect=$2 limit=$3
  shift 4
  timeout --kill-after=5 "$limit" "$exe" "$@" >out 2>err </dev/null
  check_status $? "$expect" "$limit"
}
check_status() {
  local rc=$1 expect=$2 limit=$3
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then fail "hung (no end within ${limit} s)"; return 1; fi
  if [ $rc -ge 128 ]; then fail "crashed (exit status $rc)"; return 1; fi
  if [ $rc -ne 0 ] && [ "$expect" = ok ]; then fail "exit status $rc"; return 1; fi
  if [ $rc -eq 0 ] && [ "$expect" = fail ]; then fail "exit status 0"; return 1; fi
  if [ $rc -ne 0 ]; then
    local errors
    errors=$(grep -c '^lumets: ' err)
    if [ "$errors" -ne 1 ] || [ "$(wc -l <err)" -ne 1 ]; then
      fail "expected one line, a 'lumets:' error; found $(wc -l <err) lines, $errors of them 'lumets:'"; return 1
    fi
  fi
  passed=$((passed + 1))
}
# unchanged NAME FILE: the file still holds the bytes of its copy FILE.orig.
unchanged() {
  case_name=$1
  if ! cmp -s "$2" "$2.orig"; then fail "$2 was written through a link"; return; fi
  passed=$((passed + 1))
}

cat >flow.json <<'JSON'
{"flow": 1, "frames": [0, 5], "background": {"width": 64, "height": 48},
 "particle": {"shape": "dot", "size": 8},
 "controls": {"Birthrate": 3, "Lifetime": 4}}
JSON

# --- a full disk during a render ---------------------------------------------
# A 2 MiB file system, filled beforehand so that about half of a render's frames
# fit: the render fails part-way. What it leaves must be the frames that were
# complete (the same bytes as on a roomy disk) and nothing else.
mnt="$tmp/small-disk"
mkdir -p "$mnt"
if [ "$(id -u)" -ne 0 ]; then
  mnt=""
  echo "SKIP: the full-disk cases need root (to mount a small tmpfs)"
elif ! mount -t tmpfs -o size=2m tmpfs "$mnt" 2>/dev/null; then
  mnt=""
  echo "SKIP: cannot mount a small tmpfs here; the full-disk cases were not run"
else
  cp "$src/examples/fountain.json" fountain.json
  for ext in png tif exr jpg; do
    run "fountain as .$ext on a roomy disk" ok 600 -- render fountain.json -o "ref-$ext/f.####.$ext" -q || continue
    total=$(cat ref-$ext/f.*.$ext | wc -c)
    find "$mnt" -mindepth 1 -delete
    free=$(df --output=avail -B1 "$mnt" | tail -1)
    fill=$((free - total / 2))
    [ "$fill" -gt 0 ] && head -c "$fill" /dev/zero >"$mnt/filler" 2>/dev/null
    run "fountain as .$ext onto a disk that fills up" fail 600 -- render fountain.json -o "$mnt/f.####.$ext" -q
    case_name="fountain as .$ext onto a full disk leaves only complete frames"
    left=0
    for f in "$mnt"/* "$mnt"/.[!.]*; do
      [ -e "$f" ] || [ -L "$f" ] || continue
      name=$(basename "$f")
      [ "$name" = filler ] && continue
      if [[ "$name" == f.*.$ext ]]; then
        left=$((left + 1))
        cmp -s "$f" "ref-$ext/$name" || { fail "$name is not the complete frame ($(stat -c %s "$f") bytes)"; continue 2; }
      else
        fail "left $name behind"; continue 2
      fi
    done
    [ "$left" -lt "$(ls ref-$ext | wc -l)" ] || { fail "every frame was written: the disk did not fill up"; continue; }
    passed=$((passed + 1))
  done
  umount "$mnt"
  mnt=""
fi

# --- links planted in the output folder --------------------------------------
# At the names a temporary file had before (".NAME.tmpPID.EXT", predictable from
# the process id, which the shell's exec keeps) and at the outputs' own names:
# the outputs replace a link at their name, and write through none.
echo victim >victim
cp victim victim.orig
mkdir -p planted
# plant_and_run NAME EXPECT -- SHELL-LINES-BEFORE-EXEC -- lumets arguments...
plant_and_run() {
  case_name=$1 expect=$2
  local plant=$4
  shift 5
  timeout --kill-after=5 120 bash -c "$plant"'; exec "$0" "$@"' "$exe" "$@" >out 2>err </dev/null
  check_status $? "$expect" 120
}
plant_and_run "render with planted links" ok -- \
  'for n in 0000 0001; do ln -s ../victim planted/.f.$n.png.tmp$$.png; done; ln -s ../victim planted/f.0001.png' -- \
  render flow.json -o planted/f.####.png --frames 0-1 -q
unchanged "render writes through no link" victim
case_name="render replaces the link at its output's name"
if [ -L planted/f.0001.png ] || [ ! -s planted/f.0001.png ]; then fail "f.0001.png is not a written frame"; else passed=$((passed + 1)); fi
plant_and_run "record with a planted link" ok -- 'ln -s ../victim planted/.run.lpd.tmp$$.lpd' -- \
  record flow.json --to planted/run.lpd --frames 0-3 -q
unchanged "record writes through no link" victim
plant_and_run "capture with a planted link" ok -- 'ln -s ../victim planted/.c.json.tmp$$.json' -- \
  capture flow.json --frames 0-1 --save planted/c.json -q
unchanged "capture writes through no link" victim

# --- devices and FIFOs as inputs ---------------------------------------------
mkfifo input.fifo
mkdir -p seq-fifo seq-zero
run "a frame for the sequences" ok 120 -- render flow.json -o seq-fifo/bg.####.png --frames 0-0 -q
cp seq-fifo/bg.0000.png seq-zero/
ln -s ../input.fifo seq-fifo/bg.0001.png
ln -s /dev/zero seq-zero/bg.0001.png
flow_with() {  # flow_with FILE KEY VALUE: flow.json with the key set to a path
  python3 -c 'import json,sys; f=json.load(open("flow.json")); f[sys.argv[2]]=sys.argv[3]; json.dump(f, open(sys.argv[1], "w"))' "$@"
}
flow_with bg-zero.json background /dev/zero
flow_with bg-fifo.json background "$tmp/input.fifo"
flow_with particle-zero.json particle /dev/zero
flow_with particle-fifo.json particle "$tmp/input.fifo"
flow_with seq-fifo.json background "$tmp/seq-fifo/bg.####.png"
flow_with seq-zero.json background "$tmp/seq-zero/bg.####.png"
for f in bg-zero bg-fifo particle-zero particle-fifo seq-fifo seq-zero; do
  run "render $f.json" fail 20 -- render $f.json -o out-$f/f.####.png --frames 0-1 -q &&
    { grep -q 'not a regular file' err || fail "the error does not say why"; }
done
run "render a FIFO as the flow" fail 20 -- render input.fifo -o out-ff/f.####.png -q
run "render /dev/zero as the flow" fail 20 -- render /dev/zero -o out-fz/f.####.png -q

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
