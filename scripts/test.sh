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
run_part() {  # <name> <command...>
  local name="$1" start=$SECONDS log="$logs/$1.log"
  shift
  echo
  echo "=== $name"
  if "$@" 2>&1 | tee "$log"; test "${PIPESTATUS[0]}" = 0; then
    results+=("ok    $name ($((SECONDS - start)) s)")
  else
    results+=("FAIL  $name ($((SECONDS - start)) s)")
    failed=$((failed + 1))
  fi
  count_tests "$log"
}

linux_preset() {
  local preset="$1"
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" || return 1
  # The chaos runs belong to the reliability suite, which runs them once in a sanitizer build.
  # Cases labelled "large" (packages past 4 GiB and the like) take minutes of disk and processor
  # time; they run once, in the optimised build, while the sanitizer builds cover the same code
  # with the small cases.
  local exclude=chaos
  [ "$preset" != linux ] && exclude='chaos|large'
  ctest --preset "$preset" -LE "$exclude"
}

for preset in "${presets[@]}"; do
  run_part "$preset" linux_preset "$preset"
done
if [ "$all" = 1 ]; then
  run_part windows env LAUNCHER_HOST_BUILD="$root/build/linux" bash scripts/test-windows.sh
  run_part reliability env RELIABILITY_PRESET=linux-asan bash scripts/reliability.sh --ci
fi

echo
echo "=== summary"
printf '%s\n' "${results[@]}"
# A part that failed without counting its tests (a build error) still counts as a failure.
[ "$failed" -gt 0 ] && [ "$tests_failed" = 0 ] && tests_failed=$failed
echo "$tests_passed passed, $tests_failed failed"
[ "$failed" = 0 ]
