#!/usr/bin/env bash
# The reliability suite in one command: the chaos runs, the hostile content server, the disk
# faults, the fuzz corpus replay, and each fuzzer for a bounded time. Prints its figures and a
# closing line "N passed, M failed"; exits non-zero when anything failed.
#
#   scripts/reliability.sh          long form: CHAOS_RUNS=40, FUZZ_SECONDS=60 per fuzzer
#   scripts/reliability.sh --ci     bounded form for CI: CHAOS_RUNS=10, FUZZ_SECONDS=15
#   scripts/reliability.sh --build-only   builds what the suite runs and stops (scripts/test.sh
#                                   builds it ahead while the previous part's tests run)
#
# Environment (each overrides the form's default):
#   CHAOS_RUNS, CHAOS_SEED        chaos runs, and the seed that reproduces a run sequence
#   FUZZ_SECONDS                  time per fuzzer
#   RELIABILITY_PRESET            build the launcher suite in this preset (default linux-asan:
#                                 address and undefined-behaviour sanitizers in every process)
#   RELIABILITY_BUILD             or in this folder, configured with those sanitizers
#   FUZZ_BUILD                    clang build folder of the fuzzers (default build/fuzz)
#   RELIABILITY_SKIP_FUZZ=1       leave the clang fuzzers out (the corpus replay still runs)
#   RELIABILITY_SKIP_REPLAY=1     leave the corpus replay out: scripts/test.sh has just run the
#                                 same replay test from the same sanitizer build
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

chaos_runs_default=40
fuzz_seconds_default=60
build_only=0
case "${1:-}" in
  --ci)
    chaos_runs_default=10
    fuzz_seconds_default=15
    ;;
  --build-only) build_only=1 ;;
esac
export CHAOS_RUNS=${CHAOS_RUNS:-$chaos_runs_default}
FUZZ_SECONDS=${FUZZ_SECONDS:-$fuzz_seconds_default}
preset=${RELIABILITY_PRESET:-linux-asan}
fuzz_build=${FUZZ_BUILD:-$root/build/fuzz}
build=${RELIABILITY_BUILD:-$root/build/$preset}

bash scripts/install-deps.sh || exit 1
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}"
unset DISPLAY WAYLAND_DISPLAY

passed=0
failed=0
figures=()
step() {  # step <name> <command...>: runs a step, counts it, keeps its figures (STEP_SECONDS: its
  # time when the work ran before, as the fuzzers do, and the command only reports it)
  local name=$1
  shift
  local log
  log=$(mktemp)
  echo "=== $name"
  local start=$SECONDS
  "$@" 2>&1 | tee "$log" | grep -E "^(chaos:|\[  (PASSED|FAILED|SKIPPED) |\[==========\]|fuzz:|Done [0-9]+ runs|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY:)" 
  local status=${PIPESTATUS[0]}
  local took=${STEP_SECONDS:-$((SECONDS - start))}
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    figures+=("$name: passed in ${took}s")
  else
    failed=$((failed + 1))
    figures+=("$name: FAILED in ${took}s (log: $log)")
    tail -n 60 "$log"
    return 0
  fi
  rm -f "$log"
}

echo "=== building the launcher suite in $build"
if [ -n "${RELIABILITY_BUILD:-}" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
    -DCMAKE_C_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null || exit 1
else
  cmake --preset "$preset" >/dev/null || exit 1
fi
cmake --build "$build" --target launcher_chaos launcher_hostile_tests launcher_disk_fault_tests fuzz_replay_tests || exit 1

build_fuzzers() {
  echo "=== building the fuzzers (clang, address + undefined sanitizers, libFuzzer)"
  flags="-fsanitize=address,undefined,fuzzer-no-link -fno-omit-frame-pointer -O1 -g"
  CC=clang CXX=clang++ cmake -S . -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLAUNCHER_WITH_GTK=OFF \
    -DLAUNCHER_BUILD_FUZZERS=ON -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_CXX_FLAGS="$flags -fno-sanitize-recover=undefined -fsanitize-ignorelist=$root/tests/fuzz/ubsan_ignorelist.txt" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null || return 1
  cmake --build "$fuzz_build" --target fuzz_config fuzz_file_info fuzz_record fuzz_zip fuzz_signed fuzz_remote_zip
}
fuzz=1
[ "${RELIABILITY_SKIP_FUZZ:-0}" = 1 ] && fuzz=0
if [ "$fuzz" = 1 ]; then
  build_fuzzers || exit 1
fi
[ "$build_only" = 1 ] && exit 0

step "hostile content server" "$build/tests/chaos/launcher_hostile_tests"
step "killed and full disk" "$build/tests/chaos/launcher_disk_fault_tests"
[ "${RELIABILITY_SKIP_REPLAY:-0}" = 1 ] || step "fuzz corpus replay" "$build/tests/fuzz/fuzz_replay_tests"
# The chaos runner adds one update by files, killed at random points, for every three runs.
step "chaos ($CHAOS_RUNS runs, $(((CHAOS_RUNS + 2) / 3)) updates by files)" "$build/tests/chaos/launcher_chaos" \
  --runs "$CHAOS_RUNS"

run_fuzzer() {  # run_fuzzer <target>: bounded libFuzzer run from the seed corpus
  local target=$1
  local work=$fuzz_build/corpus/$target
  local artifacts=$fuzz_build/artifacts/$target
  mkdir -p "$work" "$artifacts"
  # Absolute paths: the fuzzed code changes the working directory.
  "$fuzz_build/tests/fuzz/fuzz_$target" -max_total_time="$FUZZ_SECONDS" -max_len=8192 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$root/tests/fuzz/corpus/$target" 2>&1 |
    grep -vE "^(start unzip|end unzip|open zip file fail|entry |read |extract |create |cannont )"
  local status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $target found a crash; the input is in $artifacts:"
    ls "$artifacts"
    echo "fuzz: copy it to tests/fuzz/regressions/$target/ under a name that says what broke, then fix it"
  fi
  return "$status"
}

# The fuzzers run two at a time, one per processor: each still gets its full time on a core.
fuzz_result() {  # fuzz_result <target>: the output and status of its finished run
  cat "$fuzz_build/$1.log"
  return "$(cat "$fuzz_build/$1.status")"
}
if [ "$fuzz" = 1 ]; then
  for pair in "config file_info" "record zip" "signed remote_zip"; do
    for target in $pair; do
      (start=$SECONDS
        run_fuzzer "$target" >"$fuzz_build/$target.log" 2>&1
        echo $? >"$fuzz_build/$target.status"
        echo $((SECONDS - start)) >"$fuzz_build/$target.seconds") &
    done
    wait
    for target in $pair; do
      STEP_SECONDS=$(cat "$fuzz_build/$target.seconds") step "fuzz $target (${FUZZ_SECONDS}s)" fuzz_result "$target"
    done
  done
fi

echo "=== reliability figures"
for line in "${figures[@]}"; do echo "  $line"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
