#!/usr/bin/env bash
# A fuzzing campaign: builds the fuzz targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every target, one after the other, for
# SECONDS each, starting from its committed corpus. Inputs that add coverage are
# merged into fuzz/corpus/<target>/ at the end of each run (commit them); a
# crash, leak, sanitizer report, timeout or out-of-memory stops the campaign
# with the input left in <build>/work/<target>/artifacts/.
#
#   bash scripts/fuzz-campaign.sh SECONDS [TARGET...]    (default: every target)
#
# FUZZ_BUILD sets the build folder (default build-fuzz); FUZZ_JOBS the number of
# fuzzer processes per target (default 1); FUZZ_RUNS, when set, ends each target
# after that many inputs, even before SECONDS; FUZZ_FLAGS adds libFuzzer flags
# (for example -entropic=0, which drops the rare-feature bookkeeping that takes
# a fifth of the saved-block target's time). Prints each target's executions and
# rate.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
seconds=${1:?usage: fuzz-campaign.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(motion_playback_fuzz motion_inspect_fuzz saved_block_fuzz flow_loader_fuzz http_request_fuzz json_text_fuzz)
root=${FUZZ_BUILD:-build-fuzz}
jobs=${FUZZ_JOBS:-1}

bash scripts/deps.sh clang-14 libclang-rt-14-dev
cmake -S "$src" -B "$root" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
      -DLUMETS_BUILD_FUZZERS=ON -DLUMETS_SANITIZE=address,undefined -DLUMETS_WERROR=ON \
      -DBUILD_TESTING=OFF -DLUMETS_BUILD_BENCH=OFF >/dev/null
cmake --build "$root" -j2 --target "${targets[@]}"
root=$(cd "$root" && pwd)

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in "${targets[@]}"; do
  name=${t%_fuzz}
  corpus="$src/fuzz/corpus/$name"
  seeds=("$corpus")
  # The lister reads the files the playback reads: it starts from their seeds too.
  [ "$name" = motion_inspect ] && seeds+=("$src/fuzz/corpus/motion_playback")
  # The JSON reader reads the flows the flow loader does.
  [ "$name" = json_text ] && seeds+=("$src/fuzz/corpus/flow_loader")
  # The longest input tried. A motion-data file of a few kilobytes already
  # reaches every check of its readers (the fuzz build's pool holds 64
  # particles, 2,560 bytes of records); left to grow towards 64 KB over a long
  # run, its inputs only list and replay more records, at about half the rate.
  case $name in
    motion_inspect) max_len=4096 ;;
    motion_playback) max_len=8192 ;;
    *) max_len=65536 ;;
  esac
  mkdir -p "$corpus"
  work="$root/work/$t"
  rm -rf "$work" && mkdir -p "$work/new" "$work/artifacts"
  echo "== fuzz-campaign: $t for $seconds s"
  started=$(date +%s)
  # New inputs go to work/new; the committed corpus is only read here.
  flags=()
  [ "$jobs" -gt 1 ] && flags=(-jobs="$jobs" -workers="$jobs")
  [ -n "${FUZZ_RUNS:-}" ] && flags+=(-runs="$FUZZ_RUNS")
  read -r -a extra <<<"${FUZZ_FLAGS:-}"
  flags+=("${extra[@]}")
  (cd "$work" && timeout --kill-after=30 $((seconds + 300)) "$root/fuzz/$t" \
      -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -max_len=$max_len "${flags[@]}" \
      -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
      "$work/new" "${seeds[@]}" >"$work/log" 2>&1) || {
    status=$?
    tail -n 60 "$work/log" "$work"/fuzz-*.log 2>/dev/null || true
    echo "fuzz-campaign: $t failed (status $status); inputs in $work/artifacts" >&2
    exit 1
  }
  elapsed=$(( $(date +%s) - started ))
  logs=("$work/log")
  [ "$jobs" -gt 1 ] && logs=("$work"/fuzz-*.log)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "${logs[@]}" | awk '{n += $1} END {print n + 0}')
  echo "fuzz-campaign: $t: $runs executions in $elapsed s ($(( runs / (elapsed > 0 ? elapsed : 1) )) per second), no failure"
  # Keep the new inputs that add coverage to the committed corpus.
  before=$(ls "$corpus" | wc -l)
  "$root/fuzz/$t" -merge=1 -rss_limit_mb=2560 -max_len=65536 "$corpus" "$work/new" >"$work/merge.log" 2>&1 || {
    tail -n 30 "$work/merge.log"
    echo "fuzz-campaign: merging the corpus of $t failed" >&2
    exit 1
  }
  echo "fuzz-campaign: $t: corpus $before -> $(ls "$corpus" | wc -l) inputs"
done
