#!/usr/bin/env bash
# Motion-data files on the command line, as a new user or a hostile file system
# hands them over: devices, FIFOs and folders in place of a file, files of another
# kind, recordings that end early, and a recording stopped with Ctrl-C. Every case
# ends at once with one line (or plays, with one warning line), never a hang.
#
#   bash hostile_motion.sh <lumets-exe> <source-dir>
set -uo pipefail
exe=${1:?usage: hostile_motion.sh <lumets-exe> <source-dir>}
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
tmp=$(mktemp -d /tmp/lumets-motion-XXXXXX)
pid=""
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
cd "$tmp"

# Asked once, outside a pipeline: under pipefail, `ldd | grep -q` fails when grep
# stops reading early, which would take a sanitizer build for a plain one.
sanitized=0
case "$(ldd "$exe" 2>/dev/null)" in *libasan* | *libtsan* | *liblsan*) sanitized=1 ;; esac

passed=0
failed=0
fail() {
  echo "FAIL: $case_name: $*"
  echo "  stderr: $(head -c 600 err)"
  failed=$((failed + 1))
}

# run NAME EXPECT TIMEOUT PATTERN -- lumets arguments...
#   EXPECT ok: exit 0; fail: a non-zero exit with exactly one "lumets:" line on
#   standard error, matching PATTERN (an extended regular expression).
run() {
  case_name=$1 expect=$2 limit=$3 pattern=$4
  shift 5
  (
    # A reader that does not stop at the end of a regular file would fill the
    # memory from /dev/zero; a limit keeps the machine safe (not under a
    # sanitizer, whose shadow memory needs the address space).
    [ "$sanitized" -eq 1 ] || ulimit -v 4000000
    exec timeout --kill-after=5 "$limit" "$exe" "$@" >out 2>err </dev/null
  )
  rc=$?
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then fail "hung (no end within ${limit} s)"; return; fi
  if [ $rc -ge 128 ]; then fail "crashed (exit status $rc)"; return; fi
  if [ "$expect" = ok ] && [ $rc -ne 0 ]; then fail "exit status $rc"; return; fi
  if [ "$expect" = fail ]; then
    [ $rc -ne 0 ] || { fail "exit status 0"; return; }
    [ "$(grep -c . err)" -eq 1 ] || { fail "expected one line on standard error"; return; }
    grep -qE "^lumets: .*$pattern" err || { fail "the error does not say: $pattern"; return; }
  fi
  passed=$((passed + 1))
}

check() {  # check NAME CONDITION...: the condition (a command) holds
  case_name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else fail "does not hold: $*"; fi
}

cat >flow.json <<'JSON'
{"flow": 1, "frames": [0, 20], "background": {"width": 64, "height": 48},
 "particle": {"shape": "dot", "size": 8},
 "controls": {"Birthrate": 4, "Lifetime": 30, "LoadStartFrame": 0, "LoadLastFrame": 20},
 "output": "out/frame.####.png"}
JSON

# --- not files: a device, a FIFO, a folder -------------------------------------
mkfifo fifo.lpd
mkdir folder.lpd
for input in /dev/zero fifo.lpd folder.lpd; do
  run "inspect $input" fail 20 "not a regular file" -- inspect "$input"
  run "play --motion $input" fail 20 "not a regular file" -- play flow.json --motion "$input" -o p/f.####.png
done
check "play of a non-file writes no frames" test ! -e p

# --- files of another kind -----------------------------------------------------
run "render a PNG" ok 120 "" -- render flow.json -q --frames 0-0 -o picture.#.png
run "render a JPEG" ok 120 "" -- render flow.json -q --frames 0-0 -o picture.#.jpg
run "inspect a PNG" fail 20 "not a motion-data file \(it is a PNG image\)" -- inspect picture.0.png
run "inspect a JPEG" fail 20 "not a motion-data file \(it is a JPEG image\)" -- inspect picture.0.jpg
run "inspect a flow" fail 20 "not a motion-data file \(it is a flow file \(JSON\)\)" -- inspect flow.json
run "play a PNG" fail 20 "it is a PNG image" -- play flow.json --motion picture.0.png -o p/f.####.png

# --- a recording that ends early -----------------------------------------------
run "record" ok 300 "" -- record flow.json -q --to whole.lpd --frames 0-20
"$exe" inspect whole.lpd --json >whole.json 2>err
# The copy is cut where frame 12's records begin: it holds frames 0-11 whole.
cut=$(python3 -c 'import json; print(json.load(open("whole.json"))["entries"][12]["offset"])')
head -c "$cut" whole.lpd >cut.lpd
run "play a cut recording" ok 120 "" -- play flow.json -q --motion cut.lpd -o cut/f.####.png
check "the cut recording plays every frame" test "$(ls cut | wc -l)" -eq 21
check "one warning line naming its last frame" \
  grep -qxE 'lumets: warning: cut.lpd ends early: its last whole frame is recorded frame 11 of 21 \(0-20\); the playback runs past it from frame 12' err
check "and nothing else" test "$(grep -c . err)" -eq 1
run "play the frames before the cut" ok 120 "" -- play flow.json -q --motion cut.lpd --frames 0-11 -o early/f.####.png
check "frames before the cut play without a warning" test ! -s err
run "play a cut recording in reverse" ok 120 "" -- play flow.json -q --reverse --motion cut.lpd --frames 0-20 -o rev/f.####.png
check "reversed, the cut is reached at once" grep -q "runs past it from frame 0$" err
run "play --complete of a cut recording" fail 120 "cut.lpd ends early: its last whole frame is recorded frame 11" \
  -- play flow.json -q --complete --motion cut.lpd -o full/f.####.png
check "play --complete writes no frame" test ! -e full
run "play --complete of a whole recording" ok 120 "" -- play flow.json -q --complete --motion whole.lpd -o whole/f.####.png
check "a whole recording plays without a word" test ! -s err

# A flow whose recording range ends earlier while it records leaves the rest of
# the frame table empty: record says so and leaves no file.
cat >shrinking.json <<'JSON'
{"flow": 1, "frames": [0, 20], "background": {"width": 64, "height": 48},
 "particle": {"shape": "dot", "size": 8},
 "controls": {"Birthrate": 4, "Lifetime": 30, "RecordLastFrame": {"keys": [[0, 20], [10, 20], [11, 12]]}}}
JSON
run "record fewer frames than asked" fail 300 "holds 13 of the 21 frames asked for \(0-20\)" \
  -- record shrinking.json -q --to short/s.lpd --frames 0-20
check "no file under the target's name" test -z "$(ls -A short 2>/dev/null)"

# The farm's chunks play the recording with --complete.
run "submit --record-first" ok 60 "" -- submit slurm flow.json --record-first --dry-run -o farm/f.####.png
check "the chunks fail on a short recording" grep -qE "^exec .*'play' .*'--complete'" out

# --- Ctrl-C during a recording --------------------------------------------------
cat >long.json <<'JSON'
{"flow": 1, "frames": [0, 200000], "background": {"width": 64, "height": 48},
 "particle": {"shape": "dot", "size": 8}, "controls": {"Birthrate": 50, "Lifetime": 100}}
JSON
mkdir rec
timeout --kill-after=5 120 "$exe" record long.json --to rec/long.lpd --progress plain >out 2>err </dev/null &
pid=$!
for _ in $(seq 600); do  # up to 60 s for the recording to get going
  grep -q "^record " err 2>/dev/null && break
  sleep 0.1
done
kill -INT "$pid" 2>/dev/null
wait "$pid"
rc=$?
pid=""
case_name="interrupted record"
if [ $rc -ne 130 ]; then fail "exit status $rc (expected 130)"; else passed=$((passed + 1)); fi
check "an interrupted record announces no written file" bash -c '! grep -q "Output File written!" err'
check "an interrupted record says it stopped" grep -q "^lumets: stopped" err
check "an interrupted record leaves no file" test -z "$(ls -A rec)"

echo "hostile_motion: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
