#!/usr/bin/env bash
# The hardening pass: the whole test suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the tests that render on several threads and act
# from the interface side during renders under ThreadSanitizer, and every fuzz
# target for a fixed time. Any sanitizer report, test failure, fuzzer crash,
# hang or leak fails the script.
#
#   bash scripts/ci-hardening.sh [BUILD_ROOT]     (default: build-hardening)
#
# FUZZ_SECONDS sets each fuzzer's run time (default 60); HARDENING_CTEST_ARGS
# adds arguments to the ASan ctest run (e.g. -E NAME to leave out a known
# failure while it is being fixed) and HARDENING_TSAN_FILTER is the gtest filter
# of the TSan run (default: every test). Builds use -j2.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
root=${1:-build-hardening}
mkdir -p "$root"
root=$(cd "$root" && pwd)
fuzz_seconds=${FUZZ_SECONDS:-60}
jobs=2

bash scripts/deps.sh clang-14 libclang-rt-14-dev

started=$(date +%s)
stage() { echo "== hardening: $* ($(( $(date +%s) - started )) s)"; }

# --- AddressSanitizer + UndefinedBehaviorSanitizer: every test -------------
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
stage "configure and build the ASan+UBSan tree"
cmake -S "$src" -B "$root/asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMETS_SANITIZE=address,undefined \
      -DLUMETS_WERROR=ON -DLUMETS_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/asan" -j$jobs
stage "run the test suite under ASan+UBSan"
# shellcheck disable=SC2086
ctest --test-dir "$root/asan" --output-on-failure -j$jobs --timeout 900 -LE long ${HARDENING_CTEST_ARGS:-}

# --- ThreadSanitizer: multi-threaded rendering, interface during renders ----
# TSan runs without the ASan options; TBB's own internals (not instrumented)
# are covered by a small suppression file.
unset ASAN_OPTIONS
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$src/tests/hardening/tsan.supp"
stage "configure and build the TSan tree (render, hardening and large-step tests)"
cmake -S "$src" -B "$root/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMETS_SANITIZE=thread \
      -DLUMETS_WERROR=ON -DLUMETS_BUILD_BENCH=OFF -DLUMETS_BUILD_APP=OFF >/dev/null
cmake --build "$root/tsan" -j$jobs --target render_tests hardening_tests simulation_tests lumets_particles
stage "run the render, hardening and large-step tests under TSan"
LUMETS_PLUGIN_PATH=$(dirname "$(find "$root/tsan" -name lumets_particles.so -print -quit)")
export LUMETS_PLUGIN_PATH
for t in render_tests hardening_tests; do
  timeout 1800 "$root/tsan/tests/$t" --gtest_brief=1 --gtest_filter="${HARDENING_TSAN_FILTER:-*}"
done
# The step of a large pool shares its chunks among the workers.
timeout 600 "$root/tsan/tests/simulation_tests" --gtest_brief=1 --gtest_filter='MotionTest.LargePools*'

unset TSAN_OPTIONS LUMETS_PLUGIN_PATH

# --- libFuzzer: each target for a fixed time --------------------------------
stage "configure and build the fuzz targets (clang)"
cmake -S "$src" -B "$root/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
      -DLUMETS_BUILD_FUZZERS=ON -DLUMETS_SANITIZE=address,undefined \
      -DLUMETS_WERROR=ON -DBUILD_TESTING=OFF -DLUMETS_BUILD_BENCH=OFF >/dev/null
targets=(motion_playback_fuzz saved_block_fuzz flow_loader_fuzz motion_inspect_fuzz http_request_fuzz json_text_fuzz)
cmake --build "$root/fuzz" -j$jobs --target "${targets[@]}"
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in "${targets[@]}"; do
  stage "fuzz $t for ${fuzz_seconds} s"
  work="$root/fuzz/work/$t"
  seeds=()
  [ -d "$src/fuzz/corpus/${t%_fuzz}" ] && seeds+=("$src/fuzz/corpus/${t%_fuzz}")
  # The inspector reads the same files the playback does.
  [ "$t" = motion_inspect_fuzz ] && seeds+=("$src/fuzz/corpus/motion_playback")
  # The JSON reader reads the flows the flow loader does.
  [ "$t" = json_text_fuzz ] && seeds+=("$src/fuzz/corpus/flow_loader")
  rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts"
  # New inputs go to the work corpus; the committed seeds are only read. A crash,
  # a leak, a sanitizer report, an input slower than -timeout or a run past the
  # memory limit ends the fuzzer with a non-zero status and leaves the input in
  # artifacts/. The outer timeout catches a fuzzer that stops making progress.
  timeout --kill-after=30 $((fuzz_seconds + 120)) "$root/fuzz/fuzz/$t" \
      -max_total_time="$fuzz_seconds" -timeout=20 -rss_limit_mb=2560 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
      "$work/corpus" "${seeds[@]}" 2>"$work/log" || {
    status=$?
    tail -n 60 "$work/log"
    echo "hardening: $t failed (status $status); inputs in $work/artifacts" >&2
    exit 1
  }
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|Done [0-9]+ runs' "$work/log" || true
done
stage "done"
