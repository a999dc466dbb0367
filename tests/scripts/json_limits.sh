#!/usr/bin/env bash
# Flows nested too deep or holding a key twice: render, capture and preview
# refuse them with one line naming the depth, or the key and its lines, and
# preview leaves no temporary folder behind.
#
#   bash json_limits.sh <lumets-exe> <source-dir>
set -uo pipefail
exe=${1:?usage: json_limits.sh <lumets-exe> <source-dir>}
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
tmp=$(mktemp -d /tmp/lumets-json-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
mkdir scratch
export TMPDIR=$tmp/scratch  # where preview makes its folder

failed=0
# expect NAME PATTERN -- lumets arguments...: a non-zero exit (no signal, no
# time-out) with exactly one line on standard error, and that line matching.
expect() {
  local name=$1 pattern=$2
  shift 3
  timeout --kill-after=10 60 "$exe" "$@" >stdout.txt 2>err </dev/null
  local rc=$?
  if [ $rc -eq 0 ] || [ $rc -ge 124 ]; then
    echo "FAIL: $name: exit status $rc"; failed=$((failed + 1))
  elif [ "$(wc -l <err)" -ne 1 ] || ! grep -qE "$pattern" err; then
    echo "FAIL: $name: expected one line matching '$pattern'"; failed=$((failed + 1))
  fi
  echo "  $name: $(head -c 300 err)"
}

python3 - <<'EOF'
deep = "[" * 100000 + "]" * 100000
open("deep.json", "w").write('{"flow": 1, "frames": [0, 3], "output": "out/f.####.png",\n "_notes": ' + deep + '}\n')
open("twice.json", "w").write('{"flow": 1, "frames": [0, 3],\n "controls": {"Birthrate": 4,\n   "Birthrate": 9}}\n')
EOF

depth='^lumets: deep\.json:2:75: JSON nested more than 64 levels deep$'
expect "render, deep" "$depth" -- render deep.json -q
expect "capture, deep" "$depth" -- capture deep.json --frames 0-1 --save saved.json -q
expect "preview, deep" "$depth" -- preview deep.json
[ -e saved.json ] && { echo "FAIL: capture wrote saved.json"; failed=$((failed + 1)); }
left=$(ls scratch)
[ -n "$left" ] && { echo "FAIL: preview left $left in the temporary folder"; failed=$((failed + 1)); }

twice='^lumets: twice\.json:3:4: duplicate key "Birthrate" \(first given on line 2\)$'
expect "render, key twice" "$twice" -- render twice.json -o out/f.####.png -q
expect "preview, key twice" "$twice" -- preview twice.json
left=$(ls scratch)
[ -n "$left" ] && { echo "FAIL: preview left $left in the temporary folder"; failed=$((failed + 1)); }

[ $failed -eq 0 ] && echo "json_limits: all cases passed"
exit $((failed > 0))
