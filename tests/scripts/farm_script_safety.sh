#!/usr/bin/env bash
# `submit slurm` under a stand-in sbatch that runs each batch script at once, as
# task 0 of its array, writing the task's output where the script's
# "#SBATCH --output" line says after Slurm's own reading (quotes, then %j, %A, %a,
# %%). Text that would end a line of a script (a line break in the output
# pattern, a path, a --set value, an sbatch option) is refused with one line and
# leaves nothing behind; any other character stays inside its word. A shot with
# more chunks than the cluster's job arrays hold is refused with the chunk size
# that fits, and a submission sbatch refuses leaves nothing behind either.
# Args: lumets-exe source-dir.
set -u
LUMETS="$1"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$WORK/bin" "$WORK/run"
cat > "$WORK/bin/sbatch" <<'SH'
#!/usr/bin/env bash
# Logs its words; FAKE_REFUSE: refuses; FAKE_RUN=0: submits without running.
echo "$*" >> "$FAKE_DIR/sbatch.log"
[ -z "${FAKE_REFUSE:-}" ] || { echo "sbatch: error: $FAKE_REFUSE" >&2; exit 1; }
script="${*: -1}"
if [ "${FAKE_RUN:-1}" = 1 ]; then
  quoted=$(sed -n 's/^#SBATCH --output=//p' "$script")
  log=$(printf '%s' "$quoted" | xargs printf '%s' 2>/dev/null |
        sed -e 's/%%/\x01/g' -e 's/%[jA]/4242/g' -e 's/%a/0/g' -e 's/\x01/%/g')
  [ -n "$log" ] || log="$FAKE_DIR/unreadable-output-line.log"
  if ! { : > "$log"; } 2>/dev/null; then
    echo "task failed: cannot open $log" >> "$FAKE_DIR/sbatch.log"
  elif ! SLURM_JOB_ID=4242 SLURM_ARRAY_TASK_ID=0 timeout 120 bash "$script" > "$log" 2>&1; then
    echo "task failed: $script" >> "$FAKE_DIR/sbatch.log"
  fi
fi
echo 4242
SH
cat > "$WORK/bin/scontrol" <<'SH'
#!/bin/sh
[ -n "${FAKE_MAX:-}" ] || { echo "scontrol: fatal: Could not establish a configuration source" >&2; exit 1; }
printf 'Configuration data as of now\nMaxArraySize            = %s\nMaxJobCount             = 10000\n' "$FAKE_MAX"
SH
chmod +x "$WORK/bin/sbatch" "$WORK/bin/scontrol"
export PATH="$WORK/bin:$PATH" FAKE_DIR="$WORK"
cd "$WORK/run" || exit 1

cat > flow.json <<'JSON'
{"flow": 1, "frames": [0, 1], "seed": 3,
 "background": {"width": 16, "height": 12, "color": [0.0, 0.0, 0.1, 1.0]},
 "particle": {"shape": "dot", "size": 3},
 "controls": {"Birthrate": 4, "Lifetime": 5, "Start": [0.3, 0.8], "End": [0.7, 0.8]},
 "output": "out/f.####.png"}
JSON
sed 's|"out/f.####.png"|"o2/a\\ntouch PWNED\\n/f.####.png"|' flow.json > bad_output.json
cp flow.json "$(printf 'fl\ntouch PWNED\n.json')"
sed 's/"frames": \[0, 1\]/"frames": [-1000000, 999999]/' flow.json > long.json
NL=$'\n'

# refused WHAT ARGS...: submit fails with one "lumets:" line holding WHAT; nothing
# ran, nothing was submitted, nothing was written.
refused() {
  local what=$1 before after
  shift
  before=$(find . | sort)
  "$LUMETS" submit slurm "$@" >"$WORK/out.txt" 2>"$WORK/err.txt"
  local status=$?
  [ -z "$(find "$WORK" -name PWNED)" ] || fail "submit $*: the payload ran"
  [ "$status" -ne 0 ] || fail "submit $* succeeded: $(head -c 200 "$WORK/out.txt")"
  [ "$(wc -l < "$WORK/err.txt")" -eq 1 ] && grep -q "^lumets: .*$what" "$WORK/err.txt" ||
    fail "submit $*: expected one line about \"$what\", got: $(cat "$WORK/err.txt")"
  [ ! -e "$WORK/sbatch.log" ] || fail "submit $*: sbatch was called: $(cat "$WORK/sbatch.log")"
  after=$(find . | sort)
  [ "$before" = "$after" ] || fail "submit $* left: $(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')"
}

# A line break in anything a script carries.
refused "control character" bad_output.json
refused "control character" flow.json -o "o3/a${NL}touch PWNED${NL}/f.####.png"
refused "control character" flow.json --farm-dir "jobs${NL}touch PWNED${NL}"
refused "control character" flow.json --record-first --motion "m${NL}touch PWNED${NL}.lpd"
refused "control character" "fl${NL}touch PWNED${NL}.json"
refused "control character" flow.json --set "Speed=0.1${NL}touch PWNED"
refused "control character" flow.json -- "--comment=x${NL}touch PWNED"
# Slurm drops a backslash from a log name and then expands no pattern in it.
refused "backslash" flow.json --farm-dir 'jobs\x'

# Every other character stays in its word: quotes, $( ), backquotes, ;|&, and in
# the farm folder # and % (Slurm's log name patterns). Record, then play chunk 0.
odd="o 'q' \$(touch PWNED) \`touch PWNED\` ;|&\"x\""
farm="jobs %j %% # 'q'"
o=$("$LUMETS" submit slurm flow.json --chunk-size 1 --record-first -o "$odd/f.####.png" --farm-dir "$farm" \
      --motion "$farm/m $odd.lpd" 2>&1) || fail "submit with odd characters: $o"
[ -z "$(find "$WORK" -name PWNED)" ] || fail "the payload ran from a quoted word"
! grep -q "task failed" "$WORK/sbatch.log" || fail "a task failed: $(cat "$WORK/sbatch.log")"
[ -s "$farm/m $odd.lpd" ] && [ -s "$odd/f.0000.png" ] || fail "the record or the chunk did not write: $(ls -A "$odd" 2>&1)"
grep -q "frame 0" "$farm/flow.chunk.4242_0.log" && [ -s "$farm/flow.record.4242.log" ] ||
  fail "the logs are not where the scripts name them: $(find . -name '*.log' | tr '\n' ' ')"
rm -f "$WORK/sbatch.log"

# Job arrays: more chunks than MaxArraySize holds are refused with the chunk size that
# fits; where scontrol cannot answer, Slurm's default of 1001 tasks holds.
export FAKE_RUN=0
FAKE_MAX=100 refused "use --chunk-size 20000 or more" long.json --chunk-size 1
FAKE_MAX=0 refused "does not accept job arrays" long.json --chunk-size 1000
refused "use --chunk-size 2 or more" long.json --frames 0-1001 --chunk-size 1
o=$("$LUMETS" submit slurm long.json --frames 0-1000 --chunk-size 1 --dry-run 2>&1) || fail "1001 tasks refused: $o"
grep -q '^#SBATCH --array=0-1000$' <<<"$o" || fail "no array of 1001 tasks in the dry run"

# A submission sbatch refuses leaves no script or folder behind.
before=$(find . | sort)
FAKE_REFUSE="invalid partition" "$LUMETS" submit slurm flow.json -o new/f.####.png >/dev/null 2>&1 &&
  fail "a refused submission succeeded"
[ "$before" = "$(find . | sort)" ] || fail "a refused submission left: $(find new 2>&1 | tr '\n' ' ')"
echo "ok"
