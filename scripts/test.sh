#!/usr/bin/env bash
# The test command.
#
#   scripts/test.sh                 everything: the linux, linux-asan and linux-tsan presets with all
#                                   their tests, the Windows build under Wine, the bounded reliability suite
#   scripts/test.sh PRESET...       only these Linux presets (linux, linux-asan, linux-tsan)
#
# Exits non-zero when anything failed; each part prints its own summary, and the last lines sum up.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

all=0
presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=(linux linux-asan linux-tsan)
  all=1
fi

LAUNCHER_WITH_WINDOWS=$all bash scripts/install-deps.sh || exit 1

# Sanitizer runs: fail on the first report, keep the output readable.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}"
# Tests that need a display start their own Xvfb; nothing may land on the caller's screen.
unset DISPLAY WAYLAND_DISPLAY

results=()
failed=0
tests_passed=0
tests_failed=0
logs="$root/build/test-logs"
mkdir -p "$logs"
# Adds the test counts a part printed last: ctest's "N% tests passed, F tests failed out of T",
# or a plain "P passed, F failed".
count_tests() {  # <log>
  local line p f t
  line=$(grep -E 'tests failed out of [0-9]+|^[a-z]*:? ?[0-9]+ passed, [0-9]+ failed' "$1" | tail -n 1)
  if [[ "$line" =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    f=${BASH_REMATCH[1]}; t=${BASH_REMATCH[2]}; p=$((t - f))
  elif [[ "$line" =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    p=${BASH_REMATCH[1]}; f=${BASH_REMATCH[2]}
  else
    return
  fi
  tests_passed=$((tests_passed + p))
  tests_failed=$((tests_failed + f))
}

# Builds run one part ahead of the tests: while a part's tests run, the next part is configured
# and built at idle priority (SCHED_IDLE and nice 19), so the build takes only the processor time
# the tests leave (they wait on launchers, servers and time-outs much of the time) and never
# slows them; a part's tests start once its own build is done. Each part prints its build's
# log, then its tests, and is timed as "build wait + tests".
idle_priority() {  # lowers the calling shell (and what it starts) to idle priority
  chrt --idle --pid 0 "$BASHPID" 2>/dev/null
  renice -n 19 -p "$BASHPID" >/dev/null 2>&1
  return 0
}

build_part() {  # <part>
  case "$1" in
    windows) env LAUNCHER_HOST_BUILD="$root/build/linux" bash scripts/test-windows.sh --build-only ;;
    reliability) env RELIABILITY_PRESET=linux-asan bash scripts/reliability.sh --build-only ;;
    *) cmake --preset "$1" >/dev/null && cmake --build --preset "$1" ;;
  esac
}

test_part() {  # <part>
  case "$1" in
    windows) env LAUNCHER_HOST_BUILD="$root/build/linux" bash scripts/test-windows.sh ;;
    # The linux-asan part has just replayed the fuzz corpus from the same build.
    reliability) env RELIABILITY_PRESET=linux-asan RELIABILITY_SKIP_REPLAY=1 bash scripts/reliability.sh --ci ;;
    *)
      # The chaos runs belong to the reliability suite, which runs them once in a sanitizer build.
      # Cases labelled "large" (packages past 4 GiB and the like) take minutes of disk and
      # processor time, and those labelled "slow" wait through the production time-outs; they
      # run once, in the optimised build, while the sanitizer builds cover the same code with
      # the small and scaled-down cases.
      local exclude=chaos
      [ "$1" != linux ] && exclude='chaos|large|slow'
      # A case that fails is run once more: a timing case can lose to a loaded machine once, and
      # the summary still names every case that failed a run, so a flaky case stays in sight.
      # Three at a time on two processors: the tests that start launchers run in namespaces of their
      # own and spend most of their time waiting on its pauses and time-outs.
      ctest --preset "$1" -LE "$exclude" --repeat until-pass:2 --parallel 3
      ;;
  esac
}

parts=("${presets[@]}")
[ "$all" = 1 ] && parts+=(windows reliability)
# The Windows libraries (built from Debian's sources, the longest build of all) start at once, at
# idle priority: they take the processor time the Linux parts' tests leave, instead of being the
# Windows part's build wait at the end. The Windows build waits for them on their cache's lock.
if [ "$all" = 1 ]; then
  (idle_priority; bash scripts/build-windows-deps.sh >"$logs/windows-deps.log" 2>&1) &
fi
build_pid=""
start_build() {  # <index>: builds that part in the background at idle priority
  local part=${parts[$1]}
  (idle_priority; build_part "$part" >"$logs/$part.build.log" 2>&1; echo $? >"$logs/$part.build.status") &
  build_pid=$!
}
finish_build() {  # <index>: waits for that part's build; prints its log; fails when it failed
  local part=${parts[$1]}
  wait "$build_pid"
  cat "$logs/$part.build.log"
  [ "$(cat "$logs/$part.build.status" 2>/dev/null)" = 0 ]
}

for i in "${!parts[@]}"; do
  part=${parts[$i]}
  start=$SECONDS
  echo
  echo "=== $part"
  log="$logs/$part.log"
  if [ "$i" = 0 ]; then
    build_part "$part" >"$logs/$part.build.log" 2>&1
    echo $? >"$logs/$part.build.status"
    cat "$logs/$part.build.log"
    [ "$(cat "$logs/$part.build.status")" = 0 ]
  else
    finish_build "$i"
  fi
  built=$?
  build_wait=$((SECONDS - start))
  next=$((i + 1))
  [ "$next" -lt "${#parts[@]}" ] && start_build "$next"
  if [ "$built" != 0 ]; then
    results+=("FAIL  $part (build failed after ${build_wait} s)")
    failed=$((failed + 1))
    continue
  fi
  if test_part "$part" 2>&1 | tee "$log"; test "${PIPESTATUS[0]}" = 0; then
    results+=("ok    $part ($((SECONDS - start)) s: build wait ${build_wait} s, tests $((SECONDS - start - build_wait)) s)")
  else
    results+=("FAIL  $part ($((SECONDS - start)) s: build wait ${build_wait} s, tests $((SECONDS - start - build_wait)) s)")
    failed=$((failed + 1))
  fi
  count_tests "$log"
done
[ -n "$build_pid" ] && wait "$build_pid"

echo
echo "=== summary"
printf '%s\n' "${results[@]}"
# The names of the failed cases, so the last lines of the output say what to look at.
for part in "${parts[@]}"; do
  log="$logs/$part.log"
  [ -f "$log" ] || continue
  sed -n '/The following tests FAILED:/,/^Errors while running CTest/p' "$log" |
    grep -E '^[[:space:]]+[0-9]+ - ' | sed "s/^[[:space:]]*/  $part: /"
  grep -E '^  FAIL  |: FAILED in' "$log" | sed "s/^ */  $part: /" | head -n 20
done
reruns=()
for part in "${parts[@]}"; do
  log="$logs/$part.log"
  [ -f "$log" ] || continue
  while read -r name; do
    reruns+=("  $part: $name")
  done < <(grep -E 'Test +#[0-9]+: .*\*\*\*(Failed|Timeout|Exception)' "$log" |
    sed -E 's/.*Test +#[0-9]+: ([^ ]+) .*\*\*\*([A-Za-z]+).*/\1 (\2 once)/')
done
if [ ${#reruns[@]} -gt 0 ]; then
  echo "cases that failed a run (a case that passed its rerun counts as passed):"
  printf '%s\n' "${reruns[@]}"
fi
# A part that failed without counting its tests (a build error) still counts as a failure.
[ "$failed" -gt 0 ] && [ "$tests_failed" = 0 ] && tests_failed=$failed
echo "$tests_passed passed, $tests_failed failed, $SECONDS s in all"
[ "$failed" = 0 ]
