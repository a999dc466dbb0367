#!/usr/bin/env bash
# Flow events that press the tool's own buttons while `record` and `capture` run
# their passes: a pass stopped from inside is reported as not done, and an event
# that starts the running pass again ends the command with one line instead of
# serving the same pass for ever.
#
#   bash button_events.sh <lumets-exe> <source-dir>
set -uo pipefail
exe=${1:?usage: button_events.sh <lumets-exe> <source-dir>}
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
tmp=$(mktemp -d /tmp/lumets-events-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

failed=0
# expect_failure NAME PATTERN FILE -- lumets arguments...: a non-zero exit within
# 60 s whose last line is "lumets: ..." matching PATTERN, and no FILE written.
expect_failure() {
  local name=$1 pattern=$2 file=$3
  shift 4
  timeout --kill-after=5 60 "$exe" "$@" >out 2>err </dev/null
  local rc=$?
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    echo "FAIL: $name: no end within 60 s"; failed=$((failed + 1))
  elif [ $rc -eq 0 ] || [ $rc -ge 128 ]; then
    echo "FAIL: $name: exit status $rc"; failed=$((failed + 1))
  elif ! tail -n 1 err | grep -qE "^lumets: .*$pattern"; then
    echo "FAIL: $name: the error does not say: $pattern"; echo "  $(tail -c 300 err)"; failed=$((failed + 1))
  elif [ -e "$file" ]; then
    echo "FAIL: $name: $file was written"; failed=$((failed + 1))
  fi
}

flow() {  # flow FILE EVENTS: a small flow over frames 0-5 with the given events
  printf '{"flow": 1, "frames": [0, 5], "background": {"width": 32, "height": 24},
 "controls": {"Birthrate": 2}, "events": [%s]}\n' "$2" >"$1"
}

flow stop.json '{"frame": 2, "press": "RecordNow"}'
expect_failure "record stopped by an event" "recording did not complete" stop.lpd \
  -- record stop.json -q --to stop.lpd --frames 0-4

flow restart.json '{"frame": 2, "press": "RecordNow"}, {"frame": 3, "press": "RecordNow"}'
expect_failure "record started again by an event" "start the same record pass again" restart.lpd \
  -- record restart.json -q --to restart.lpd --frames 0-4

flow recapture.json '{"frame": 1, "press": "PreloadShapes"}'
expect_failure "capture started again by an event" "start the same capture pass again" saved.json \
  -- capture recapture.json -q --frames 0-2 --save saved.json

flow deleted.json '{"frame": 1, "press": "DeletePreloaded"}'
expect_failure "capture deleted by an event" "capture was deleted" deleted-saved.json \
  -- capture deleted.json -q --frames 0-2 --save deleted-saved.json

echo "button_events: $failed failed"
[ "$failed" -eq 0 ]
