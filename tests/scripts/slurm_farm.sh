#!/usr/bin/env bash
# Farm renders through a real single-node Slurm (scripts/slurm-local.sh): chunks
# submitted both ways give the one-machine frames byte for byte; a failing chunk
# fails alone and resubmitting it completes the shot. Args: lumets-exe source-dir.
# Exit 77 (skipped) without Slurm and munge or without root.
set -u
LUMETS="$1"
SRC="$2"
for p in munged slurmctld slurmd sbatch squeue scontrol; do
  command -v "$p" >/dev/null || { echo "SKIP: $p not found (install slurm-wlm munge: bash scripts/deps.sh)"; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "SKIP: the local Slurm needs root"; exit 77; }

WORK=$(mktemp -d)
CLUSTER="$WORK/cluster"
cleanup() {
  timeout 90 bash "$SRC/scripts/slurm-local.sh" stop "$CLUSTER" >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in "$WORK"/*/farm/*.log "$WORK"/jobs*/*.log; do [ -f "$f" ] && { echo "== $f" >&2; tail -n 5 "$f" >&2; }; done
  exit 1
}

timeout 120 bash "$SRC/scripts/slurm-local.sh" start "$CLUSTER" >/dev/null || fail "the local Slurm did not start"
# shellcheck disable=SC1091
source "$CLUSTER/env"
cd "$WORK"

cat > flow.json <<'JSON'
{"flow": 1, "frames": [0, 13], "seed": 7,
 "background": {"width": 64, "height": 48, "color": [0.0, 0.0, 0.1, 1.0]},
 "particle": {"shape": "dot", "size": 8},
 "controls": {"Birthrate": 4, "Lifetime": 20, "Start": [0.3, 0.8], "End": [0.7, 0.8], "Speed": 0.03,
              "Gravity": 0.1, "Spread": {"keys": [[0, 0.1], [13, 0.5]]}},
 "output": "out/f.####.png"}
JSON

# job_of OUTPUT WORD: the job id in "WORD job 12: ...".
job_of() { sed -n "s/^$2 job \([0-9]*\):.*/\1/p" <<<"$1"; }

# wait_job ID: waits (at most 180 s) until every task of the job has ended.
wait_job() {
  local deadline=$(( $(date +%s) + 180 )) states
  while :; do
    states=$(timeout 10 scontrol show job -o "$1" 2>/dev/null | grep -o 'JobState=[A-Z_]*')
    if [ -n "$states" ] && ! grep -qE 'PENDING|RUNNING|CONFIGURING|COMPLETING|SUSPENDED|REQUEUED' <<<"$states"; then
      return 0
    fi
    [ "$(date +%s)" -lt "$deadline" ] || fail "job $1 did not end within 180 s: $(echo $states)"
    sleep 1
  done
}

# task_states ID: "TASK=STATE" per array task, sorted by task.
task_states() {
  timeout 10 scontrol show job -o "$1" | sed -n 's/.*ArrayTaskId=\([0-9]*\) .*JobState=\([A-Z_]*\).*/\1=\2/p' | sort -n | tr '\n' ' '
}

# same_frames A B: the 14 frames of B equal those of A.
same_frames() {
  local n=0 f
  for f in "$2"/f.*.png; do
    cmp -s "$f" "$1/$(basename "$f")" || fail "$1/$(basename "$f") differs from $f"
    n=$((n + 1))
  done
  [ "$n" -eq 14 ] || fail "$2 holds $n frames, expected 14"
}

"$LUMETS" render flow.json -q -o ref/f.####.png || fail "one-machine render"
"$LUMETS" record flow.json -q --to ref.lpd --frames 0-13 >/dev/null 2>&1 || fail "one-machine record"
"$LUMETS" play flow.json -q --motion ref.lpd -o refplay/f.####.png --set LoadStartFrame=0 --set LoadLastFrame=13 ||
  fail "one-machine play"

# Chunks that simulate from the start. A folder stands where frame 6 goes: chunk 1
# (frames 4-7) fails and the others finish.
mkdir -p out/f.0006.png
o=$(timeout 60 "$LUMETS" submit slurm flow.json --chunk-size 4 -- --time=5) || fail "submit: $o"
job=$(job_of "$o" chunk)
[ -n "$job" ] || fail "no chunk job id in: $o"
wait_job "$job"
[ "$(task_states "$job")" = "0=COMPLETED 1=FAILED 2=COMPLETED 3=COMPLETED " ] ||
  fail "expected chunk 1 to fail alone, got: $(task_states "$job")"
grep -q "lumets: cannot write .*f.0006.png" out/farm/flow.chunk."${job}"_1.log || fail "the failed chunk's log has no error line"
[ -f out/f.0005.png ] && [ ! -f out/f.0007.png ] || fail "the failed chunk wrote past its failure or not at all"

# Resubmitting the failed chunk completes the shot.
rmdir out/f.0006.png
again=$(timeout 30 sbatch --parsable --array=1 out/farm/flow.chunks.sbatch) || fail "resubmit: $again"
wait_job "${again%%;*}"
[ "$(task_states "${again%%;*}")" = "1=COMPLETED " ] || fail "the resubmitted chunk: $(task_states "${again%%;*}")"
same_frames ref out
ls -A out | grep -q '^\.' && fail "temporary files left in out/"

# Record once, then the chunks play the recording back, once it has ended. The farm
# folder's name holds what Slurm reads in log names (%j) and a quote.
jobs="$WORK/jobs %j 'q'"
o=$(timeout 60 "$LUMETS" submit slurm flow.json --chunk-size 5 --record-first -o play/f.####.png --farm-dir "$jobs") ||
  fail "submit --record-first: $o"
rec=$(job_of "$o" record)
job=$(job_of "$o" chunk)
[ -n "$rec" ] && [ -n "$job" ] || fail "no job ids in: $o"
wait_job "$rec"
wait_job "$job"
rec_end=$(timeout 10 scontrol show job -o "$rec" | sed -n 's/.* EndTime=\([^ ]*\).*/\1/p')
for start in $(timeout 10 scontrol show job -o "$job" | sed -n 's/.* StartTime=\([^ ]*\).*/\1/p'); do
  [[ ! "$start" < "$rec_end" ]] || fail "a chunk started at $start, before the recording ended at $rec_end"
done
[ "$(task_states "$job")" = "0=COMPLETED 1=COMPLETED 2=COMPLETED " ] || fail "record-first chunks: $(task_states "$job")"
[ -s "$jobs/flow.record.$rec.log" ] && [ -s "$jobs/flow.chunk.${job}_2.log" ] || fail "the logs are not in $jobs"
same_frames refplay play
echo "ok"
