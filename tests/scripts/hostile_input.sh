#!/usr/bin/env bash
# Hostile input on the command line: damaged and oversized motion-data files,
# hostile flows, outputs that cannot be written and a disk that fills up during a
# recording. Every case ends with a one-line error (or its graceful result), no
# crash, no hang, and no half-written output left under the output's name.
#
#   bash hostile_input.sh <lumets-exe> <source-dir>
set -uo pipefail
exe=${1:?usage: hostile_input.sh <lumets-exe> <source-dir>}
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
tmp=$(mktemp -d /tmp/lumets-hostile-XXXXXX)
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
#   EXPECT: ok (exit 0), fail (non-zero exit) or any. A non-zero exit must come
#   with exactly one short "lumets:" error line; never a signal or a time-out.
run() {
  case_name=$1 expect=$2 limit=$3
  shift 4
  timeout --kill-after=10 "$limit" "$exe" "$@" >out 2>err </dev/null
  rc=$?
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then fail "hung (no end within ${limit} s)"; return; fi
  if [ $rc -ge 128 ]; then fail "crashed (exit status $rc)"; return; fi
  if grep -qE 'AddressSanitizer|UndefinedBehaviorSanitizer|runtime error:|LeakSanitizer|ThreadSanitizer' err; then
    fail "sanitizer report"; return
  fi
  if [ $rc -ne 0 ] && [ "$expect" = ok ]; then fail "exit status $rc"; return; fi
  if [ $rc -eq 0 ] && [ "$expect" = fail ]; then fail "exit status 0 for bad input"; return; fi
  if [ $rc -ne 0 ]; then
    errors=$(grep -c '^lumets: ' err)
    if [ "$errors" -ne 1 ]; then fail "expected one 'lumets:' error line, found $errors"; return; fi
    if [ "$(grep '^lumets: ' err | wc -c)" -gt 400 ]; then fail "error line is not short"; return; fi
  fi
  passed=$((passed + 1))
}

# no_file NAME PATH...: nothing was left under these names.
no_file() {
  case_name=$1
  shift
  for p in "$@"; do
    if [ -e "$p" ]; then fail "left $p behind"; return; fi
  done
  passed=$((passed + 1))
}

# pack FORMAT VALUES: the values as little-endian bytes (Python struct format).
pack() { local f=$1 IFS=,; shift; python3 -c "import struct,sys; sys.stdout.buffer.write(struct.pack('<$f', $*))"; }

cat >flow.json <<'JSON'
{"flow": 1, "frames": [0, 5], "background": {"width": 64, "height": 48},
 "particle": {"shape": "dot", "size": 8},
 "controls": {"Birthrate": 3, "Lifetime": 4, "LoadStartFrame": 0, "LoadLastFrame": 5},
 "output": "out/frame.####.png"}
JSON

# --- a good recording to damage ---------------------------------------------
run "record a reference file" ok 300 -- record flow.json --to good.lpd --frames 0-5
size=$(stat -c %s good.lpd 2>/dev/null || echo 0)
[ "$size" -gt 124 ] || { echo "FAIL: no reference recording"; exit 1; }

# --- damaged motion-data files: inspect and play ----------------------------
: >empty.lpd
head -c 2 good.lpd >two-bytes.lpd
head -c 50 good.lpd >short-table.lpd
head -c $((size - 7)) good.lpd >short-records.lpd
{ pack i 2147483647; head -c 200 /dev/zero; } >huge-count.lpd
pack i -5 >negative-count.lpd
pack idiiIdiiI 2 4 0 2147483647 44 4 0 1 4294967295 >huge-live.lpd
pack idiiIdiiIddddd 2 'float("nan")' -1 1 44 'float("inf")' 7 1 44 1e308 -1e308 'float("nan")' 1e300 1e300 >odd-values.lpd
pack idiiI 1 4 0 0 24 >one-frame.lpd
truncate -s 5G sparse-5g.lpd && printf '\x02\x00\x00\x00' | dd of=sparse-5g.lpd conv=notrunc status=none

# What the tool's loader refuses, play refuses before rendering (inspect's parser
# has these cases in the unit tests).
for f in empty two-bytes short-table huge-count negative-count one-frame; do
  run "play $f.lpd" fail 120 -- play flow.json --motion $f.lpd -o play-$f/f.####.png
  no_file "play $f.lpd leaves no frames" play-$f/f.0000.png
done
# A file past the 32-bit offsets cannot be a motion-data file: it is refused by
# its size, not read into memory first (5 GiB, sparse on disk).
run "inspect an oversized file" fail 30 -- inspect sparse-5g.lpd
run "play an oversized file" fail 30 -- play flow.json --motion sparse-5g.lpd -o play-big/f.####.png
no_file "play of an oversized file leaves no frames" play-big/f.0000.png
# Damage inside the records: either refused or played with the graceful end of
# playback; never a crash or hang.
for f in short-records odd-values huge-live; do
  run "inspect $f.lpd" any 120 -- inspect $f.lpd
  run "play $f.lpd" any 120 -- play flow.json --motion $f.lpd -o play-$f/f.####.png
done
run "inspect a missing file" fail 60 -- inspect no-such.lpd
run "inspect a folder" fail 60 -- inspect .

# --- flows (wrong control values, malformed JSON, missing flows and plates are
# the command-line unit tests' cases) ------------------------------------------
badflow() { printf '%s\n' "$2" >"bad-$1.json"; }
badflow wrong-frames '{"flow": 1, "frames": "all"}'
badflow wrong-table '{"flow": 1, "frames": [0, 3], "controls": {"MergeSpline": {"table": [1, -4, 70000]}}}'
badflow wrong-keys '{"flow": 1, "frames": [0, 3], "controls": {"Birthrate": {"keys": [[0]]}}}'
badflow not-object '[1, 2, 3]'
badflow huge-image '{"flow": 1, "frames": [0, 3], "background": {"width": 1000000, "height": 1000000}}'
badflow wide-image '{"flow": 1, "frames": [0, 3], "background": {"width": 2147483647, "height": 2}}'
badflow negative-image '{"flow": 1, "frames": [0, 3], "background": {"width": -5, "height": 10}}'
badflow huge-shape '{"flow": 1, "frames": [0, 3], "particle": {"shape": "dot", "size": 2000000000}}'
badflow huge-frames '{"flow": 1, "frames": [0, 9000000000000000000]}'
badflow missing-particle '{"flow": 1, "frames": [0, 3], "particle": "no-such-shape.png"}'
badflow bad-operator-data '{"flow": 1, "frames": [0, 3], "operatorData": "TEhzdAAAAAA="}'
badflow hostile-operator-data '{"flow": 1, "frames": [0, 3], "operatorData": "DQBGgExIc3QAAAAAAQAAAP///w8="}'
badflow huge-saved-shape '{"flow": 1, "frames": [0, 3], "operatorData": "DQBGgExIc3QAAAAAAQAAAAEAAAD//wAA//8AAAAAAAAAAAAA"}'
for f in bad-*.json; do
  run "render $f" fail 120 -- render "$f" -o "out-$f/f.####.png"
  no_file "render $f writes nothing" "out-$f/f.0000.png"
done
# A number too large for a double is a flow error like any other: the message
# names the flow.
echo '{"flow": 1, "frames": [0, 3], "controls": {"Birthrate": 1e400}}' >number-overflow.json
run "render number-overflow.json" fail 60 -- render number-overflow.json -o out-ovf/f.####.png
if ! grep -q 'number-overflow.json:' err; then fail "the error does not name the flow: $(cat err)"; fi
printf '\x00\x01\x02\xff' >binary.json
run "render a binary flow" fail 60 -- render binary.json

# --- outputs that cannot be written ------------------------------------------
echo "a file, not a folder" >blocker
run "render into a folder that is a file" fail 120 -- render flow.json -o blocker/f.####.png --frames 0-1
run "record into a folder that is a file" fail 120 -- record flow.json --to blocker/run.lpd --frames 0-3
mkfifo not-a-file.lpd
run "record onto something that is not a plain file" fail 120 -- record flow.json --to not-a-file.lpd --frames 0-3
[ -p not-a-file.lpd ] || { echo "FAIL: record replaced a special file"; failed=$((failed + 1)); }
run "capture into a folder that is a file" fail 120 -- capture flow.json --frames 0-1 --save blocker/c.json

# --- a full disk during a recording ------------------------------------------
# A 64 KiB file system fills up a few frames into a 2000-frame recording.
mnt="$tmp/small-disk"
mkdir -p "$mnt"
if mount -t tmpfs -o size=64k tmpfs "$mnt" 2>/dev/null; then
  cat >busy.json <<'JSON'
{"flow": 1, "frames": [0, 2000], "background": {"width": 32, "height": 24},
 "particle": {"shape": "dot", "size": 4}, "controls": {"Birthrate": 40, "Lifetime": 30}}
JSON
  run "record onto a full disk" fail 600 -- record busy.json --to "$mnt/run.lpd" --frames 0-2000
  no_file "a failed recording leaves no file under its name" "$mnt/run.lpd"
  if [ -n "$(ls -A "$mnt")" ]; then fail "temporary files left on the full disk: $(ls -A "$mnt")"; fi
  run "render onto a full disk" fail 300 -- render busy.json -o "$mnt/big.####.tif" --frames 0-20
else
  mnt=""
  echo "note: cannot mount a small tmpfs here; the full-disk cases were not run"
fi

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
